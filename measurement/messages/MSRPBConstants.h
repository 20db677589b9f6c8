// The measurement messages' own texts that go through the engine monitor.
#pragma once

inline constexpr const char* kMSRPBFlagNameNilMessage = "Flag name must not be nil";
inline constexpr const char* kMSRPBFlagNameNotStringMessage = "Flag name must be a string";
inline constexpr const char* kMSRPBFlagValueInvalidMessage = "Flag value is invalid";
