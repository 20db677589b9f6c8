#include "utilities/storage/VTUSecureCoding.h"

#include "platform/runtime/KeyedArchiver.h"

platform::Value VTUSecureCoding::unarchivedObjectOfClasses(
    const std::set<std::string>& classNames, const platform::Bytes& data,
    platform::ErrorPtr* error) {
  const platform::ClassSet allowed(classNames.begin(), classNames.end());
  return platform::KeyedUnarchiver::unarchivedObjectOfClasses(allowed, data, error);
}

platform::Value VTUSecureCoding::unarchivedObjectOfClass(const std::string& className,
                                                         const platform::Bytes& data,
                                                         platform::ErrorPtr* error) {
  return unarchivedObjectOfClasses({className}, data, error);
}

std::optional<platform::Bytes> VTUSecureCoding::archivedDataWithRootObject(
    const platform::Value& object, platform::ErrorPtr* error) {
  return platform::KeyedArchiver::archivedDataWithRootObject(object, error);
}
