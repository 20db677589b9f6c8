// Texts of the analytics front end: event origins, the monitor's service tag and code form, and
// the messages it logs.
#pragma once

namespace lmo_analytics {

inline constexpr const char* kOriginApp = "app";
// Class and selector through which the front end asks the app core whether it is configured.
inline constexpr const char* kAppClassName = "LMOApp";
inline constexpr const char* kIsDefaultAppConfiguredSelector = "isDefaultAppConfigured";

// The engine monitor's form of a log line.
inline constexpr const char* kMonitorLogTag = "<LumoMeasurement>";
inline constexpr const char* kMonitorCodeFormat = "I-ACS%06ld";

inline constexpr long kEventNotLoggedCode = 25018;
inline constexpr int kEventNotLoggedLevel = 3;
inline constexpr const char* kEventNotLoggedMessage = "Event not logged. Call +[LMOApp configure]";

}  // namespace lmo_analytics
