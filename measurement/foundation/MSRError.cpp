#include "measurement/foundation/MSRError.h"

#include "measurement/foundation/MSRConstants.h"

platform::ErrorPtr msr_errorWithCode(long code, std::string_view description,
                                     std::string_view monitorContext) {
  platform::Value::Dictionary userInfo;
  if (!description.empty()) userInfo[platform::kLocalizedDescriptionKey] = description;
  if (!monitorContext.empty()) userInfo[kMSRMonitorContextKey] = monitorContext;
  return platform::Error::make(kMSRErrorDomain, code, std::move(userInfo));
}

platform::ErrorPtr msr_errorWithCode(long code, std::string_view description) {
  return msr_errorWithCode(code, description, {});
}

void MSRSetErrorWithContext(platform::ErrorPtr* error, long code, std::string_view description,
                            std::string_view context) {
  if (error) *error = msr_errorWithCode(code, description, context);
}

void MSRSetError(platform::ErrorPtr* error, long code, std::string_view description) {
  MSRSetErrorWithContext(error, code, description, {});
}

bool MSRCheckTrue(bool condition, platform::ErrorPtr* error, long code,
                  std::string_view description) {
  if (condition) return true;
  MSRSetError(error, code, description);
  return false;
}

bool MSRCheckNotNil(const platform::Value& object, platform::ErrorPtr* error, long code,
                    std::string_view description) {
  return MSRCheckTrue(!object.isNil(), error, code, description);
}

bool MSRCheckNotNull(const void* pointer, platform::ErrorPtr* error, long code,
                     std::string_view description) {
  return MSRCheckTrue(pointer != nullptr, error, code, description);
}

bool MSRCheckNonZero(std::uint64_t value, platform::ErrorPtr* error, long code,
                     std::string_view description) {
  return MSRCheckTrue(value != 0, error, code, description);
}
