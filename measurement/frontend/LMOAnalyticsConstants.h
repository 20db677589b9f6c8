// Texts of the analytics front end: class, selector, queue and option names, start-dictionary
// keys, the library's registration and the messages it logs. Copied exactly; the app core, the
// engine and stored files rely on them.
#pragma once

#include <cstdint>

namespace lmo_analytics {

// Event origins.
inline constexpr const char* kOriginApp = "app";
inline constexpr const char* kOriginFA = "fa";

// Runtime classes and selectors.
inline constexpr const char* kAnalyticsClassName = "LMOAnalytics";
inline constexpr const char* kLogEventWithNameSelector = "logEventWithName:parameters:";
inline constexpr const char* kLogEventWithOriginSelector = "logEventWithOrigin:name:parameters:";
inline constexpr const char* kStartWithConfigurationSelector = "startWithConfiguration:options:";
inline constexpr const char* kMSRAnalyticsClassName = "MSRAnalytics";
inline constexpr const char* kLogInternalEventSelector =
    "logInternalEventWithOrigin:name:parameters:";
inline constexpr const char* kAEUClassName = "MSRAEU";
inline constexpr const char* kIsFASSelector = "isFAS";

// The library's registration with the app core.
inline constexpr const char* kConnectorClassName = "LMOAnalyticsConnector";
inline constexpr const char* kLibraryName = "lumo-analytics";
inline constexpr const char* kLibraryVersion = "8.9.1";
inline constexpr const char* kInteropProtocolName = "LMOAnalyticsInterop";

// The start dictionary.
inline constexpr const char* kStartConfigurationKey = "LUMO_ANALYTICS_CONFIGURATION";
inline constexpr const char* kStartCollectionDeactivatedKey = "LUMO_ANALYTICS_COLLECTION_DEACTIVATED";
inline constexpr const char* kStartCollectionEnabledKey = "LUMO_ANALYTICS_COLLECTION_ENABLED";
inline constexpr const char* kStartLogTagKey = "lumo_measurement_log_tag";
inline constexpr const char* kStartLogTag = "[Lumo/Analytics]";
inline constexpr const char* kSafelistedEventsOptionKey = "ANALYTICS_SAFELISTED_EVENTS";
inline constexpr const char* kStartSafelistedEventsKey = "safelisted_events";

inline constexpr const char* kInstallationIDDidChangeNotification =
    "LMOInstallationIDDidChangeNotification";
// Posted by the app core for every collection switch, persisted or not; the user info's one entry
// is keyed by this name and holds the boolean.
inline constexpr const char* kConfigurationSetEnabledNotification =
    "LMOAnalyticsConfigurationSetEnabledNotification";

// The facade's queues.
inline constexpr const char* kAnalyticsQueueLabel = "MSRAnalyticsQueue";
inline constexpr const char* kOperationQueueName = "MSRAnalyticsOperationQueue";
inline constexpr const char* kTimestampQueueLabel = "MSRAnalyticsTimestampQueue";
inline constexpr const char* kLogEventBlockID = "logEvent";
// How long the app's end waits for the events still on their way.
inline constexpr double kTerminationDrainSeconds = 2;

// Messages, logged through the engine monitor.
inline constexpr std::int64_t kEventNotLoggedCode = 25018;
inline constexpr std::int64_t kEventNotLoggedLevel = 3;
inline constexpr const char* kEventNotLoggedMessage = "Event not logged. Call +[LMOApp configure]";
inline constexpr std::int64_t kInvalidLogTagCode = 25030;
inline constexpr std::int64_t kInvalidLogTagLevel = 2;
inline constexpr const char* kInvalidLogTagMessage =
    "Invalid monitor tag. It must be a non-empty string.";
inline constexpr std::int64_t kEventsLostAtTerminationCode = 25050;
inline constexpr std::int64_t kEventsLostAtTerminationLevel = 1;
inline constexpr const char* kEventsLostAtTermination =
    "Events not stored before the app terminated. Count";
inline constexpr std::int64_t kUnbridgeableValueCode = 25040;
inline constexpr std::int64_t kUnbridgeableValueLevel = 3;
inline constexpr const char* kUnbridgeableValueMessage =
    "Unbridgeable Swift type logged in parameters. Break on "
    "__LMOANALYTICS_UNBRIDGEABLE_SWIFT_VALUE_ERROR__ to debug.";

}  // namespace lmo_analytics
