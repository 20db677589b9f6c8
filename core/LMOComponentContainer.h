// The component container of one configured app: populated once from the registered libraries,
// it hands out the instance for a protocol, created on demand or at configuration and cached when
// its block asks. One re-entrant lock per container serialises every operation, so a creation
// block may ask the same container for other instances. The registrant set is written only at
// class-load time, before any container exists.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/LMOComponent.h"
#include "platform/runtime/Runtime.h"

class LMOApp;

class LMOComponentContainer : public platform::Object {
  struct Token {};

 public:
  // Adds a library class to the process-wide registrant set; a class added twice counts once.
  static void registerAsComponentRegistrant(platform::runtime::Class* library);
  // The registrant set, in registration order.
  static std::vector<platform::runtime::Class*> registrants();

  static std::shared_ptr<LMOComponentContainer> initWithApp(const std::shared_ptr<LMOApp>& app);
  static std::shared_ptr<LMOComponentContainer> initWithApp(
      const std::shared_ptr<LMOApp>& app,
      const std::vector<platform::runtime::Class*>& registrants);

  // Creates the instances of the eager protocols, in order, once; later calls do nothing.
  void instantiateEagerComponents();
  // The cached instance, else a new one from the registered block; null when nobody registered
  // the protocol (or after removeAllComponents).
  platform::ObjectPtr instanceForProtocol(const LMOProtocol& protocol);
  template <class T>
  std::shared_ptr<T> instanceForProtocol(const LMOProtocol& protocol) {
    return std::dynamic_pointer_cast<T>(instanceForProtocol(protocol));
  }
  // Tells the cached instances that are lifecycle maintainers, then drops every cached one.
  void removeAllCachedInstances();
  void removeAllComponents();

  std::shared_ptr<LMOApp> app() const { return app_.lock(); }
  // Names of the registered protocols; names still to be made eagerly (nullopt once made).
  std::vector<std::string> componentNames() const;
  std::optional<std::vector<std::string>> eagerProtocolNames() const;
  std::string className() const override { return "LMOComponentContainer"; }

  LMOComponentContainer(Token, const std::shared_ptr<LMOApp>& app);

 private:
  void populate(const std::vector<platform::runtime::Class*>& registrants);

  std::weak_ptr<LMOApp> app_;
  mutable std::recursive_mutex mutex_;
  std::map<std::string, LMOComponentCreationBlock> components_;
  std::map<std::string, platform::ObjectPtr> cachedInstances_;
  std::optional<std::vector<LMOProtocol>> eagerProtocolsToInstantiate_;
};

// The container's instanceForProtocol, as a class operation.
class LMOComponentType {
 public:
  static platform::ObjectPtr instanceForProtocol(const LMOProtocol& protocol,
                                                 LMOComponentContainer& container) {
    return container.instanceForProtocol(protocol);
  }
  template <class T>
  static std::shared_ptr<T> instanceForProtocol(const LMOProtocol& protocol,
                                                LMOComponentContainer& container) {
    return container.instanceForProtocol<T>(protocol);
  }
};
