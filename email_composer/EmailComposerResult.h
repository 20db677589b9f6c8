// How one use of the mail composer ended, and the outcome handed to the caller: success with an
// EmailComposerResult, or failure with the mail controller's error unchanged. Plain values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/base/Error.h"

// The first four raw values are those of the mail controller's finish result, so their order
// is fixed.
enum class EmailComposerResult : std::int64_t {
  cancelled = 0,
  saved = 1,
  sent = 2,
  failed = 3,
  deviceCannotSendEmails = 4,
};

namespace email_composer {

// The case of a raw value, or nullopt for anything but 0 to 4 (negative values included).
std::optional<EmailComposerResult> fromRaw(std::int64_t rawValue);
inline std::int64_t rawValue(EmailComposerResult result) {
  return static_cast<std::int64_t>(result);
}
// The localised text of a result; without a translation in the main bundle, the English text.
std::string description(EmailComposerResult result);

}  // namespace email_composer

template <>
struct std::hash<EmailComposerResult> {
  std::size_t operator()(EmailComposerResult result) const noexcept {
    return std::hash<std::int64_t>()(email_composer::rawValue(result));
  }
};

// Either success carrying a result or failure carrying the controller's error object.
class EmailComposerOutcome {
 public:
  static EmailComposerOutcome success(EmailComposerResult result) {
    return EmailComposerOutcome(result, nullptr);
  }
  static EmailComposerOutcome failure(platform::ErrorPtr error) {
    return EmailComposerOutcome(EmailComposerResult::failed, std::move(error));
  }

  bool isSuccess() const { return error_ == nullptr; }
  // Meaningful on success only.
  EmailComposerResult result() const { return result_; }
  // Null on success.
  const platform::ErrorPtr& error() const { return error_; }

 private:
  EmailComposerOutcome(EmailComposerResult result, platform::ErrorPtr error)
      : result_(result), error_(std::move(error)) {}

  EmailComposerResult result_;
  platform::ErrorPtr error_;
};

using EmailComposerResultHandler = std::function<void(const EmailComposerOutcome&)>;
