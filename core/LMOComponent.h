// The plug-in unit of the component registry: a component promises an instance conforming to one
// protocol and carries the block that creates it, with its instantiation timing and declared
// dependencies. Immutable after creation; safe to share between threads.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/base/Value.h"

class LMOComponentContainer;

// A protocol as the registry sees it: the name it is keyed by, and how to tell whether an
// instance conforms. `named` asks the object runtime (the instance's runtime class declares the
// protocol); `of<T>` asks C++ (the instance is a T). Two protocols with one name are one key.
class LMOProtocol {
 public:
  static LMOProtocol named(std::string name);
  template <class T>
  static LMOProtocol of(std::string name) {
    return LMOProtocol(std::move(name), [](const platform::Object& instance) {
      return dynamic_cast<const T*>(&instance) != nullptr;
    });
  }

  const std::string& name() const { return name_; }
  bool isConformedToBy(const platform::Object& instance) const;

 private:
  LMOProtocol(std::string name, std::function<bool(const platform::Object&)> check)
      : name_(std::move(name)), check_(std::move(check)) {}
  std::string name_;
  std::function<bool(const platform::Object&)> check_;  // empty: runtime conformance
};

enum class LMOInstantiationTiming : long {
  Lazy = 0,               // created on the first request
  AlwaysEager = 1,        // created when the app is configured
  EagerInDefaultApp = 2,  // eager in the default app, lazy in any other
};

class LMODependency : public platform::Object {
 public:
  static std::shared_ptr<LMODependency> dependencyWithProtocol(LMOProtocol protocol,
                                                               bool isRequired = true);
  const LMOProtocol& protocol() const { return protocol_; }
  bool isRequired() const { return isRequired_; }
  std::string className() const override { return "LMODependency"; }

  LMODependency(LMOProtocol protocol, bool isRequired)
      : protocol_(std::move(protocol)), isRequired_(isRequired) {}

 private:
  LMOProtocol protocol_;
  bool isRequired_;
};

// Gives the instance or null; sets *isCacheable (false on entry) when the container should keep
// the instance. The block may ask the same container for other instances.
using LMOComponentCreationBlock =
    std::function<platform::ObjectPtr(LMOComponentContainer& container, bool* isCacheable)>;

class LMOComponent : public platform::Object {
 public:
  // Lazy, no dependencies.
  static std::shared_ptr<LMOComponent> componentWithProtocol(LMOProtocol protocol,
                                                             LMOComponentCreationBlock block);
  static std::shared_ptr<LMOComponent> componentWithProtocol(
      LMOProtocol protocol, LMOInstantiationTiming timing,
      std::vector<std::shared_ptr<LMODependency>> dependencies, LMOComponentCreationBlock block);

  const LMOProtocol& protocol() const { return protocol_; }
  LMOInstantiationTiming instantiationTiming() const { return timing_; }
  // Stored only; the container never reads them.
  const std::vector<std::shared_ptr<LMODependency>>& dependencies() const { return dependencies_; }
  const LMOComponentCreationBlock& creationBlock() const { return creationBlock_; }
  std::string className() const override { return "LMOComponent"; }

  LMOComponent(LMOProtocol protocol, LMOInstantiationTiming timing,
               std::vector<std::shared_ptr<LMODependency>> dependencies,
               LMOComponentCreationBlock block);

 private:
  LMOProtocol protocol_;
  LMOInstantiationTiming timing_;
  std::vector<std::shared_ptr<LMODependency>> dependencies_;
  LMOComponentCreationBlock creationBlock_;
};

// What a library class's "componentsToRegister" gives.
using LMOComponentList = std::vector<std::shared_ptr<LMOComponent>>;
