#include "measurement/frontend/MSRAEU.h"

#include "measurement/frontend/LMOAnalyticsConstants.h"
#include "platform/runtime/Runtime.h"
#include "utilities/VTUAppEnvironmentUtil.h"

namespace rt = platform::runtime;

namespace {

const rt::ClassRegistrar kClass(lmo_analytics::kAEUClassName, rt::kRootClassName,
                                sizeof(rt::RootObject), [](rt::Class& c) {
                                  c.addClassMethod(lmo_analytics::kIsFASSelector,
                                                   [](platform::Object&) { return MSRAEU::isFAS(); });
                                });

}  // namespace

bool MSRAEU::isFAS() { return VTUAppEnvironmentUtil::isFromAppStore(); }
