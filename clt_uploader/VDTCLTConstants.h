// The batch uploader's own texts: custom-bytes keys, header names and values, error domains,
// queue label and the messages peers rely on. Copied exactly.
#pragma once

inline constexpr const char* kVDTCLTNeedsNetworkConnectionInfoKey = "needs_network_connection_info";
inline constexpr const char* kVDTCLTNetworkConnectionInfoKey = "network_connection_info";
inline constexpr const char* kVDTCLTEventCodeInfoKey = "event_code_info";

inline constexpr unsigned kVDTCLTClientKind = 15;
inline constexpr const char* kVDTCLTDefaultLanguage = "en";
inline constexpr const char* kVDTCLTNanopbErrorKey = "nanopb error:";
inline constexpr const char* kVDTCLTURLErrorDomain = "NSURLErrorDomain";

inline constexpr const char* kVDTCLTUploaderQueueLabel = "com.veltro.VDTCLTUploader";
inline constexpr const char* kVDTCLTUploadOperationQueueName =
    "com.veltro.VDTCLTUploader.operations";
inline constexpr const char* kVDTCLTUploaderErrorDomain = "VDTCLTUploader";
// The target whose requests carry no key: a redirect to another origin is rebuilt as its request.
inline constexpr long kVDTCLTKeylessTarget = 1000;
inline constexpr const char* kVDTCLTBackgroundTaskName = "VDTCLTUploader-upload";
inline constexpr const char* kVDTCLTApiKeyHeader = "X-Veltro-Api-Key";
inline constexpr const char* kVDTCLTTransportVersion = "0.0.1";
inline constexpr const char* kVDTCLTUploaderVersion = "0.0.1";
inline constexpr double kVDTCLTBatchLifetimeSeconds = 600;
inline constexpr unsigned long long kVDTCLTFallbackWaitMillis = 900000;
// No server wait is taken for longer than seven days.
inline constexpr long long kVDTCLTMaxServerWaitMillis = 7LL * 24 * 60 * 60 * 1000;
