#include "core/LMOAppAssociationRegistration.h"

#include <map>
#include <mutex>

#include "core/LMOConstants.h"
#include "platform/base/Error.h"
#include "platform/base/Format.h"
#include "platform/runtime/Runtime.h"

namespace rt = platform::runtime;

namespace {

// The per-host table, attached to the host as an associated object. A null entry is the
// placeholder of a creation under way.
class Registrations : public platform::Object {
 public:
  std::map<std::string, platform::ObjectPtr> objects;
  std::string className() const override { return "LMOAppAssociations"; }
};

const char kAssociationKey = 0;

std::recursive_mutex& classLock() {
  static auto* lock = new std::recursive_mutex;
  return *lock;
}

}  // namespace

platform::ObjectPtr LMOAppAssociationRegistration::registeredObjectWithHost(
    const platform::ObjectPtr& host, const std::string& key,
    const std::function<platform::ObjectPtr()>& creationBlock) {
  std::lock_guard lock(classLock());
  if (!host || !dynamic_cast<rt::RootObject*>(host.get())) {
    return creationBlock ? creationBlock() : nullptr;
  }
  auto table = rt::getAssociatedObject(host.get(), &kAssociationKey).objectAs<Registrations>();
  if (!table) {
    table = std::make_shared<Registrations>();
    rt::setAssociatedObject(host.get(), &kAssociationKey, platform::Value(table));
  }
  if (auto it = table->objects.find(key); it != table->objects.end()) {
    if (!it->second) {
      throw platform::Exception(
          lmo::kReenteringExceptionName,
          platform::format(lmo::kReenteringReason, platform::Value(host), key));
    }
    return it->second;
  }
  table->objects[key] = nullptr;
  platform::ObjectPtr made;
  try {
    made = creationBlock ? creationBlock() : nullptr;
  } catch (...) {
    table->objects.erase(key);
    throw;
  }
  if (made) {
    table->objects[key] = made;
  } else {
    table->objects.erase(key);
  }
  return made;
}
