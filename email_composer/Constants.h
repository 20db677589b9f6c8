// The mail composer's own texts: localisation keys that are also the English texts shown when
// the main bundle carries no translation.
#pragma once

namespace email_composer {

inline constexpr const char* kCancelledDescription = "Cancelled";
inline constexpr const char* kSavedDescription = "Saved";
inline constexpr const char* kSentDescription = "Sent";
inline constexpr const char* kFailedDescription = "Failed";
inline constexpr const char* kDeviceCannotSendEmailsDescription =
    "Unable to send emails from this device.";
inline constexpr const char* kDismissTitle = "Dismiss";

}  // namespace email_composer
