// The network layer's fixed texts, keys and numbers: error domain and codes, log codes and
// messages, the background-session prefix and the temporary-file names.
#pragma once

// Errors handed to completion handlers.
inline constexpr const char* kVTUNetworkErrorDomain = "com.vtu.network.ErrorDomain";
inline constexpr const char* kVTUNetworkErrorContext = "Context";
inline constexpr long kVTUNetworkErrorCodeInvalidURL = 1;
inline constexpr long kVTUNetworkErrorCodeSessionCreation = 2;
inline constexpr long kVTUNetworkErrorCodeCompression = 3;
inline constexpr long kVTUNetworkErrorCodeRequestCreation = 4;
inline constexpr long kVTUNetworkErrorCodeEmptyResponse = 5;
inline constexpr const char* kVTUNetworkFailedToCreateRequest = "Failed to create network request";
inline constexpr const char* kVTUNetworkCannotCreateSession = "Cannot create network session";
inline constexpr const char* kVTUNetworkEmptyResponse = "Network Error: Empty network response";

// Log lines.
inline constexpr const char* kVTUNetworkService = "[VTUNetwork]";
inline constexpr const char* kVTUNetworkMessageCodeFormat = "I-NET%06ld";
inline constexpr const char* kVTUNetworkLogTag = "Veltro/Utilities/Network";
inline constexpr const char* kVTUNetworkLogFormat = "<%@/%@> %@";
inline constexpr const char* kVTUNetworkNilMessage = "(Message was nil)";
inline constexpr const char* kVTUNetworkEmptyMessage = "(Message was empty)";
inline constexpr const char* kVTUNetworkNilContext = "(nil)";

// Request settings.
inline constexpr double kVTUNetworkTimeoutInterval = 60;
inline constexpr const char* kVTUNetworkDefaultReachabilityHost = "measurement.veltro.example";
inline constexpr const char* kVTUNetworkContentLength = "Content-Length";
inline constexpr const char* kVTUNetworkContentType = "Content-Type";
inline constexpr const char* kVTUNetworkContentEncoding = "Content-Encoding";
inline constexpr const char* kVTUNetworkFormURLEncoded = "application/x-www-form-urlencoded";
inline constexpr const char* kVTUNetworkGzip = "gzip";

// Sessions and temporary files.
inline constexpr const char* kVTUNetworkBackgroundSessionPrefix =
    "com.vtu.network.background-upload";
inline constexpr const char* kVTUNetworkSessionIDFormat = "%@-%@";
inline constexpr const char* kVTUNetworkDirectory = "VTU/Network";
inline constexpr const char* kVTUNetworkTemporaryDirectory = "VTUNetworkTemporaryDirectory";
inline constexpr const char* kVTUNetworkUploadFileFormat = "VTUUpload_temp_%@";
inline constexpr double kVTUNetworkTempFileExpiry = 3600;

// Message codes and texts of the facade.
inline constexpr long kVTUMessageCodeNetwork000 = 900000;  // "Uploading data. Host"
inline constexpr long kVTUMessageCodeNetwork001 = 900001;  // "Downloading data. Host"
inline constexpr long kVTUMessageCodeNetwork002 = 900002;  // request failures, bad delegate
inline constexpr long kVTUMessageCodeNetwork003 = 900003;  // lost background session
inline constexpr const char* kVTUNetworkUploadingData = "Uploading data. Host";
inline constexpr const char* kVTUNetworkDownloadingData = "Downloading data. Host";
inline constexpr const char* kVTUNetworkRequestFailed =
    "Failed to create network request. Code, error";
inline constexpr const char* kVTUNetworkBadLoggerDelegate =
    "Cannot set the network logger delegate: delegate does not conform to the network logger "
    "protocol.";
inline constexpr const char* kVTUNetworkLostBackgroundSession =
    "Failed to retrieve background session with ID %@ after app is relaunched.";

// Message codes and texts of the request objects.
inline constexpr long kVTUMessageCodeURLSession000 = 901000;
inline constexpr long kVTUMessageCodeURLSession001 = 901001;
inline constexpr long kVTUMessageCodeURLSession002 = 901002;
inline constexpr long kVTUMessageCodeURLSession003 = 901003;
inline constexpr long kVTUMessageCodeURLSession004 = 901004;
inline constexpr long kVTUMessageCodeURLSession005 = 901005;
inline constexpr long kVTUMessageCodeURLSession006 = 901006;
inline constexpr long kVTUMessageCodeURLSession007 = 901007;
inline constexpr long kVTUMessageCodeURLSession008 = 901008;
inline constexpr long kVTUMessageCodeURLSession009 = 901009;
inline constexpr long kVTUMessageCodeURLSession010 = 901010;
inline constexpr long kVTUMessageCodeURLSession011 = 901011;
inline constexpr long kVTUMessageCodeURLSession012 = 901012;
inline constexpr long kVTUMessageCodeURLSession013 = 901013;
inline constexpr long kVTUMessageCodeURLSession014 = 901014;
inline constexpr long kVTUMessageCodeURLSession015 = 901015;
inline constexpr long kVTUMessageCodeURLSession016 = 901016;
inline constexpr long kVTUMessageCodeURLSession017 = 901017;
inline constexpr long kVTUMessageCodeURLSession019 = 901019;
inline constexpr const char* kVTUURLSessionWriteFailed = "Failed to write request data to file";
inline constexpr const char* kVTUURLSessionEmptyTempPath =
    "Unable to read downloaded data from empty temp path";
inline constexpr const char* kVTUURLSessionUnreadableDownload =
    "Cannot read the content of downloaded data";
inline constexpr const char* kVTUURLSessionBackgroundFinished = "Background session finished";
inline constexpr const char* kVTUURLSessionEmptyTrust =
    "Received empty server trust for host. Host";
inline constexpr const char* kVTUURLSessionUnverifiable = "Unable to verify server identity. Host";
inline constexpr const char* kVTUURLSessionSSLChallenge = "Received SSL challenge for host. Host";
inline constexpr const char* kVTUURLSessionCancellingChallenge =
    "Cancelling authentication challenge for host. Host";
inline constexpr const char* kVTUURLSessionCannotEvaluate =
    "Cannot evaluate server trust. Error, host";
inline constexpr const char* kVTUURLSessionNilSystemHandler =
    "Cannot store nil system completion handler in network";
inline constexpr const char* kVTUURLSessionEmptySessionID =
    "Cannot store system completion handler with empty network session identifier";
inline constexpr const char* kVTUURLSessionMultipleHandlers =
    "Got multiple system handlers for a single session ID";
inline constexpr const char* kVTUURLSessionCannotListTemp =
    "Cannot get files from the temporary network folder. Error";
inline constexpr const char* kVTUURLSessionCannotRemoveTemp =
    "Failed to remove temporary uploading data file. Error";
inline constexpr const char* kVTUURLSessionCannotAccessTemp =
    "Error while trying to access Network temp folder. Error";
inline constexpr const char* kVTUURLSessionCannotCreateTemp =
    "Cannot create temporary directory. Error";
inline constexpr const char* kVTUURLSessionCannotExclude =
    "Cannot exclude temporary folder from iTunes backup";
inline constexpr const char* kVTUURLSessionNetworkError = "Encounter network error. Code, error";
inline constexpr const char* kVTUURLSessionDiscarding = "Discarding session: %@";
