// Error values (a string domain, an integer code and a user-info dictionary), the named
// exceptions of configuration failures, and the replaceable handler of failed contract checks.
// Errors are immutable once made; the assertion handler may be replaced from any thread.
#pragma once

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "platform/base/Value.h"

namespace platform {

inline constexpr const char* kLocalizedDescriptionKey = "NSLocalizedDescription";
inline constexpr const char* kLocalizedFailureReasonKey = "NSLocalizedFailureReason";
inline constexpr const char* kUnderlyingErrorKey = "NSUnderlyingError";
// Domain and codes of file-system errors.
inline constexpr const char* kFileErrorDomain = "NSCocoaErrorDomain";
inline constexpr long kFileNoSuchFileError = 4;
inline constexpr long kFileReadNoSuchFileError = 260;
inline constexpr long kFileReadCorruptFileError = 259;
inline constexpr long kFileWriteUnknownError = 512;
inline constexpr long kFileWriteFileExistsError = 516;

class Error : public Object {
 public:
  Error(std::string domain, long code, Value::Dictionary userInfo = {});
  static std::shared_ptr<const Error> make(std::string domain, long code,
                                           Value::Dictionary userInfo = {});
  // Shorthand for an error whose user info holds only a description.
  static std::shared_ptr<const Error> withDescription(std::string domain, long code,
                                                      std::string description);

  const std::string& domain() const { return domain_; }
  long code() const { return code_; }
  const Value::Dictionary& userInfo() const { return userInfo_; }
  // The description key of the user info when present, else
  // "The operation couldn't be completed. (<domain> error <code>.)".
  std::string localizedDescription() const;

  std::string className() const override { return "NSError"; }
  // "Error Domain=<domain> Code=<code> \"<localizedDescription>\" UserInfo={...}"
  std::string description() const override;
  bool isEqual(const Object& other) const override;
  std::size_t hash() const override;

 private:
  std::string domain_;
  long code_;
  Value::Dictionary userInfo_;
};
using ErrorPtr = std::shared_ptr<const Error>;

// Sets *out when out is not null; a convenience for error out-parameters.
inline void setError(ErrorPtr* out, ErrorPtr error) {
  if (out) *out = std::move(error);
}

// A named exception of the system (a name such as "com.lumo.core" and a reason).
class Exception : public std::runtime_error {
 public:
  Exception(std::string name, std::string reason)
      : std::runtime_error(name + ": " + reason), name_(std::move(name)),
        reason_(std::move(reason)) {}
  const std::string& name() const { return name_; }
  const std::string& reason() const { return reason_; }

 private:
  std::string name_;
  std::string reason_;
};

inline constexpr const char* kInternalInconsistencyException = "NSInternalInconsistencyException";
inline constexpr const char* kInvalidArgumentException = "NSInvalidArgumentException";

// Where failed contract checks go. The default handler throws
// Exception(kInternalInconsistencyException, description). Tests install a recording handler.
class AssertionHandler {
 public:
  using Handler = std::function<void(const std::string& function, const std::string& file,
                                     int line, const std::string& description)>;
  static void handleFailure(const std::string& function, const std::string& file, int line,
                            const std::string& description);
  // Replaces the handler; an empty function restores the default. Returns the previous one.
  static Handler setHandler(Handler handler);
};

}  // namespace platform
