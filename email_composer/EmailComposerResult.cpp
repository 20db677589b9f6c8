#include "email_composer/EmailComposerResult.h"

#include "email_composer/Constants.h"

namespace email_composer {

std::optional<EmailComposerResult> fromRaw(std::int64_t rawValue) {
  // Taken as unsigned so that a negative value falls outside the range as well.
  if (static_cast<std::uint64_t>(rawValue) >= 5) return std::nullopt;
  return static_cast<EmailComposerResult>(rawValue);
}

std::string description(EmailComposerResult result) {
  // The app ships no translations, so the English key is the text.
  switch (result) {
    case EmailComposerResult::cancelled:
      return kCancelledDescription;
    case EmailComposerResult::saved:
      return kSavedDescription;
    case EmailComposerResult::sent:
      return kSentDescription;
    case EmailComposerResult::failed:
      return kFailedDescription;
    case EmailComposerResult::deviceCannotSendEmails:
      return kDeviceCannotSendEmailsDescription;
  }
  return {};
}

}  // namespace email_composer
