#include "measurement/frontend/LMOAnalyticsConnector.h"

#include "core/LMOConstants.h"
#include "core/LMOLibrary.h"
#include "measurement/frontend/LMOAnalyticsConstants.h"

namespace rt = platform::runtime;

namespace {

const rt::ProtocolRegistrar kInteropProtocol(lmo_analytics::kInteropProtocolName, {});
const rt::ClassRegistrar kClass(lmo_analytics::kConnectorClassName, rt::kRootClassName,
                                sizeof(LMOAnalyticsConnector), [](rt::Class& c) {
                                  c.addProtocol(lmo::kLibraryProtocolName);
                                  c.addProtocol(lmo_analytics::kInteropProtocolName);
                                  c.addClassMethod(lmo::kComponentsToRegisterSelector,
                                                   [](platform::Object&) -> LMOComponentList {
                                                     return LMOAnalyticsConnector::
                                                         componentsToRegister();
                                                   });
                                });
const LMOLibraryRegistrar kLibrary(lmo_analytics::kConnectorClassName, lmo_analytics::kLibraryName,
                                   lmo_analytics::kLibraryVersion);

}  // namespace

LMOProtocol LMOAnalyticsConnector::interopProtocol() {
  return LMOProtocol::named(lmo_analytics::kInteropProtocolName);
}

LMOComponentList LMOAnalyticsConnector::componentsToRegister() {
  return {LMOComponent::componentWithProtocol(
      interopProtocol(), LMOInstantiationTiming::Lazy, {},
      [](LMOComponentContainer&, bool*) -> platform::ObjectPtr {
        return std::make_shared<LMOAnalyticsConnector>();
      })};
}

std::string LMOAnalyticsConnector::className() const { return lmo_analytics::kConnectorClassName; }
