#include "platform/runtime/RuntimeExtras.h"

#include <cctype>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

namespace platform::runtime {
namespace {

struct Registration {
  const Object* object;
  std::string key;
  PropertyObserver observer;
};

struct ObservationTable {
  std::mutex mutex;
  std::uint64_t nextId = 1;
  std::map<std::uint64_t, Registration> observers;
  std::set<std::pair<const Class*, std::string>> wrappedSetters;
};

ObservationTable& table() {
  static auto* t = new ObservationTable();
  return *t;
}

std::string setterFor(const std::string& key) {
  std::string setter = "set" + key + ":";
  setter[3] = static_cast<char>(std::toupper(static_cast<unsigned char>(setter[3])));
  return setter;
}

std::vector<PropertyObserver> observersOf(const Object* object, const std::string& key) {
  std::vector<PropertyObserver> found;
  std::lock_guard<std::mutex> lock(table().mutex);
  for (auto& [id, reg] : table().observers) {
    if (reg.object == object && reg.key == key) found.push_back(reg.observer);
  }
  return found;
}

// Wraps the setter of the class once; the wrapper calls the implementation the class had (its
// own or inherited) and then tells the object's observers.
bool wrapSetter(Class* cls, const std::string& key) {
  const std::string setter = setterFor(key);
  std::optional<Method> method = classGetInstanceMethod(cls, setter);
  if (!method || !method->implementation) return false;
  std::lock_guard<std::mutex> lock(table().mutex);
  if (!table().wrappedSetters.insert({cls, key}).second) return true;
  IMP original = method->implementation;
  IMP wrapper = implementationWithBlock([original, key](Object& self, ObjectPtr value) {
    ObjectPtr oldValue = msgSend<ObjectPtr>(&self, key);
    original->call<void>(self, value);
    ObjectPtr newValue = msgSend<ObjectPtr>(&self, key);
    for (auto& observer : observersOf(&self, key)) observer(oldValue, newValue);
  });
  classReplaceMethod(cls, setter, wrapper, method->types);
  return true;
}

// Ends its observation when released.
struct ObservationToken {
  explicit ObservationToken(std::uint64_t id) : id(id) {}
  ~ObservationToken() {
    std::lock_guard<std::mutex> lock(table().mutex);
    table().observers.erase(id);
  }
  ObservationToken(const ObservationToken&) = delete;
  ObservationToken& operator=(const ObservationToken&) = delete;
  std::uint64_t id;
};

}  // namespace

std::shared_ptr<void> observeObjectProperty(const ObjectPtr& object, const std::string& key,
                                            PropertyObserver observer) {
  if (!object || key.empty() || !observer) return nullptr;
  if (!wrapSetter(objectGetClass(object.get()), key)) return nullptr;
  std::uint64_t id;
  {
    std::lock_guard<std::mutex> lock(table().mutex);
    id = table().nextId++;
    table().observers.emplace(id, Registration{object.get(), key, std::move(observer)});
  }
  return std::make_shared<ObservationToken>(id);
}

}  // namespace platform::runtime
