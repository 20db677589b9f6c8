#include "core/LMOComponentContainer.h"

#include <algorithm>

#include "core/LMOApp.h"
#include "core/LMOConstants.h"
#include "core/LMOLibrary.h"
#include "core/LMOLogger.h"

namespace rt = platform::runtime;

namespace {

// Written only at class-load time, before any container exists, so it needs no lock of its own;
// one is kept anyway for registrations from tests on other threads.
struct Registrants {
  std::mutex mutex;
  std::vector<rt::Class*> classes;
};
Registrants& registrantSet() {
  static auto* set = new Registrants;
  return *set;
}

}  // namespace

void LMOComponentContainer::registerAsComponentRegistrant(rt::Class* library) {
  if (!library) return;
  auto& set = registrantSet();
  std::lock_guard lock(set.mutex);
  if (std::find(set.classes.begin(), set.classes.end(), library) == set.classes.end()) {
    set.classes.push_back(library);
  }
}

std::vector<rt::Class*> LMOComponentContainer::registrants() {
  auto& set = registrantSet();
  std::lock_guard lock(set.mutex);
  return set.classes;
}

LMOComponentContainer::LMOComponentContainer(Token, const std::shared_ptr<LMOApp>& app)
    : app_(app) {}

std::shared_ptr<LMOComponentContainer> LMOComponentContainer::initWithApp(
    const std::shared_ptr<LMOApp>& app) {
  return initWithApp(app, registrants());
}

std::shared_ptr<LMOComponentContainer> LMOComponentContainer::initWithApp(
    const std::shared_ptr<LMOApp>& app, const std::vector<rt::Class*>& registrants) {
  auto container = std::make_shared<LMOComponentContainer>(Token{}, app);
  container->populate(registrants);
  return container;
}

void LMOComponentContainer::populate(const std::vector<rt::Class*>& registrants) {
  std::lock_guard lock(mutex_);
  eagerProtocolsToInstantiate_.emplace();
  auto app = app_.lock();
  const bool isDefaultApp = app && app->isDefaultApp();
  for (rt::Class* library : registrants) {
    if (!rt::respondsToSelector(library, lmo::kComponentsToRegisterSelector)) {
      continue;
    }
    const auto components =
        rt::msgSend<LMOComponentList>(library, lmo::kComponentsToRegisterSelector);
    for (const auto& component : components) {
      if (!component) continue;
      const std::string& name = component->protocol().name();
      if (components_.count(name)) {
        LMOLoggerLogError(lmo::kCoreService, lmo::kCodeDuplicateProtocol,
                          lmo::kDuplicateProtocolMessage, name);
        continue;
      }
      components_[name] = component->creationBlock();
      const auto timing = component->instantiationTiming();
      if (timing == LMOInstantiationTiming::AlwaysEager ||
          (timing == LMOInstantiationTiming::EagerInDefaultApp && isDefaultApp)) {
        eagerProtocolsToInstantiate_->push_back(component->protocol());
      }
    }
  }
}

void LMOComponentContainer::instantiateEagerComponents() {
  std::lock_guard lock(mutex_);
  if (!eagerProtocolsToInstantiate_) return;
  // Taken first, so that a creation block asking for eager instances does not loop.
  auto eager = std::move(*eagerProtocolsToInstantiate_);
  eagerProtocolsToInstantiate_.reset();
  for (const auto& protocol : eager) instanceForProtocol(protocol);
}

platform::ObjectPtr LMOComponentContainer::instanceForProtocol(const LMOProtocol& protocol) {
  std::lock_guard lock(mutex_);
  const std::string& name = protocol.name();
  if (auto cached = cachedInstances_.find(name); cached != cachedInstances_.end()) {
    return cached->second;
  }
  auto found = components_.find(name);
  if (found == components_.end() || !found->second) return nullptr;
  // A copy: the block may re-enter and change the table.
  LMOComponentCreationBlock block = found->second;
  bool isCacheable = false;
  platform::ObjectPtr instance = block(*this, &isCacheable);
  if (!instance) return nullptr;
  if (!protocol.isConformedToBy(*instance)) {
    LMOLoggerLogError(lmo::kCoreService, lmo::kCodeNonConformingInstance,
                      lmo::kNonConformingInstanceMessage, name);
  }
  if (isCacheable) cachedInstances_[name] = instance;
  return instance;
}

void LMOComponentContainer::removeAllCachedInstances() {
  std::lock_guard lock(mutex_);
  const auto snapshot = cachedInstances_;
  auto app = app_.lock();
  for (const auto& [name, instance] : snapshot) {
    if (auto* maintainer = dynamic_cast<LMOComponentLifecycleMaintainer*>(instance.get())) {
      maintainer->appWillBeDeleted(app);
    } else if (rt::conformsToProtocol(instance, lmo::kLifecycleMaintainerProtocolName) &&
               rt::respondsToSelector(instance, lmo::kAppWillBeDeletedSelector)) {
      rt::msgSend<void>(instance, lmo::kAppWillBeDeletedSelector, app);
    }
  }
  cachedInstances_.clear();
}

void LMOComponentContainer::removeAllComponents() {
  std::lock_guard lock(mutex_);
  components_.clear();
}

std::vector<std::string> LMOComponentContainer::componentNames() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> names;
  for (const auto& [name, block] : components_) names.push_back(name);
  return names;
}

std::optional<std::vector<std::string>> LMOComponentContainer::eagerProtocolNames() const {
  std::lock_guard lock(mutex_);
  if (!eagerProtocolsToInstantiate_) return std::nullopt;
  std::vector<std::string> names;
  for (const auto& protocol : *eagerProtocolsToInstantiate_) names.push_back(protocol.name());
  return names;
}
