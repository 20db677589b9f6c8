#include "core/LMOComponent.h"

#include "platform/runtime/Runtime.h"

LMOProtocol LMOProtocol::named(std::string name) { return LMOProtocol(std::move(name), {}); }

bool LMOProtocol::isConformedToBy(const platform::Object& instance) const {
  if (check_) return check_(instance);
  return platform::runtime::conformsToProtocol(&instance, name_);
}

std::shared_ptr<LMODependency> LMODependency::dependencyWithProtocol(LMOProtocol protocol,
                                                                     bool isRequired) {
  return std::make_shared<LMODependency>(std::move(protocol), isRequired);
}

LMOComponent::LMOComponent(LMOProtocol protocol, LMOInstantiationTiming timing,
                           std::vector<std::shared_ptr<LMODependency>> dependencies,
                           LMOComponentCreationBlock block)
    : protocol_(std::move(protocol)),
      timing_(timing),
      dependencies_(std::move(dependencies)),
      creationBlock_(std::move(block)) {}

std::shared_ptr<LMOComponent> LMOComponent::componentWithProtocol(LMOProtocol protocol,
                                                                  LMOComponentCreationBlock block) {
  return componentWithProtocol(std::move(protocol), LMOInstantiationTiming::Lazy, {},
                               std::move(block));
}

std::shared_ptr<LMOComponent> LMOComponent::componentWithProtocol(
    LMOProtocol protocol, LMOInstantiationTiming timing,
    std::vector<std::shared_ptr<LMODependency>> dependencies, LMOComponentCreationBlock block) {
  return std::make_shared<LMOComponent>(std::move(protocol), timing, std::move(dependencies),
                                        std::move(block));
}
