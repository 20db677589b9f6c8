// Keyed archives with secure coding required: an object graph to bytes and back, accepting on
// the way back only the classes the caller allows (by class name, checked for every nested
// object). Errors are the archiver's own, passed through unchanged. Thread-safe.
#pragma once

#include <optional>
#include <set>
#include <string>

#include "platform/base/Error.h"
#include "platform/base/Value.h"

class VTUSecureCoding {
 public:
  static platform::Value unarchivedObjectOfClasses(const std::set<std::string>& classNames,
                                                   const platform::Bytes& data,
                                                   platform::ErrorPtr* error);
  static platform::Value unarchivedObjectOfClass(const std::string& className,
                                                 const platform::Bytes& data,
                                                 platform::ErrorPtr* error);
  static std::optional<platform::Bytes> archivedDataWithRootObject(const platform::Value& object,
                                                                   platform::ErrorPtr* error);
};
