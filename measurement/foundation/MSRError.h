// Engine errors: one domain ("com.veltro.vmp.measurement.ErrorDomain"), small integer codes, a
// description and an optional monitor context, reported through error out-parameters that may be
// null. Checks are meant to be chained with && so the first failing one sets the error. Pure
// functions; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/base/Error.h"

// User info holds the description and the monitor context only when each is non-empty.
platform::ErrorPtr msr_errorWithCode(long code, std::string_view description,
                                     std::string_view monitorContext);
platform::ErrorPtr msr_errorWithCode(long code, std::string_view description);

void MSRSetErrorWithContext(platform::ErrorPtr* error, long code, std::string_view description,
                            std::string_view context);
void MSRSetError(platform::ErrorPtr* error, long code, std::string_view description);

bool MSRCheckTrue(bool condition, platform::ErrorPtr* error, long code,
                  std::string_view description);
// "Not nil" for values: anything but nil (the null marker counts as an object).
bool MSRCheckNotNil(const platform::Value& object, platform::ErrorPtr* error, long code,
                    std::string_view description);
bool MSRCheckNotNull(const void* pointer, platform::ErrorPtr* error, long code,
                     std::string_view description);
bool MSRCheckNonZero(std::uint64_t value, platform::ErrorPtr* error, long code,
                     std::string_view description);
