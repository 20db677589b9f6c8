// The measurement engine's own texts: its timer's name, the start options it reads, the
// persisted enabled states and the messages it logs (codes 31000 and up). Copied exactly; the
// front end and stored files rely on them.
#pragma once

#include <cstdint>

namespace msr_engine {

inline constexpr const char* kAlarmName = "Measurement timer";

// Start options handed over by the analytics front end.
inline constexpr const char* kOptionCollectionEnabled = "LUMO_ANALYTICS_COLLECTION_ENABLED";
inline constexpr const char* kOptionCollectionDeactivated = "LUMO_ANALYTICS_COLLECTION_DEACTIVATED";

// The persisted enabled state: unset (0) leaves the decision to the start options.
inline constexpr std::int64_t kMeasurementEnabledStateEnabled = 1;
inline constexpr std::int64_t kMeasurementEnabledStateDisabled = 2;

// Worker-queue block IDs (diagnostics only).
inline constexpr const char* kStartBlockID = "startComponents";
inline constexpr const char* kLogEventBlockID = "logEvent";

// A database that failed to open is tried again by the first event this long after the failure.
inline constexpr double kDatabaseOpenRetrySeconds = 5;
// The engine errors' code for a refused argument: such a failure does not pass by itself.
inline constexpr std::int64_t kInvalidArgumentErrorCode = 1;

inline constexpr std::int64_t kDatabaseOpenFailedCode = 31000;
inline constexpr const char* kDatabaseOpenFailed = "Failed to open the measurement database. Error";
inline constexpr std::int64_t kEventDroppedNoDatabaseCode = 31002;
inline constexpr const char* kEventDroppedNoDatabase =
    "Event not logged. The measurement database is not available. Event name";
inline constexpr std::int64_t kEventStoreFailedCode = 31003;
inline constexpr const char* kEventStoreFailed = "Failed to store the event. Event name, error";
inline constexpr std::int64_t kEventInvalidCode = 31004;
inline constexpr const char* kEventInvalid = "Event not logged. Invalid event. Event name";
inline constexpr std::int64_t kEventDroppedSwitchUnknownCode = 31006;
inline constexpr const char* kEventDroppedSwitchUnknown =
    "Event not logged. The collection switch could not be read. Event name";
inline constexpr std::int64_t kRawEventsOverLimitDeletedCode = 31005;
inline constexpr const char* kRawEventsOverLimitDeleted =
    "Deleted the oldest raw events to stay within the stored event limit. Count";

}  // namespace msr_engine
