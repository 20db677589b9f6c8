#include "core/LMOLumoUserAgent.h"

#include <algorithm>
#include <vector>

#include "core/LMOConstants.h"
#include "platform/base/Bundle.h"
#include "platform/base/Format.h"
#include "platform/base/Strings.h"
#include "utilities/VTUAppEnvironmentUtil.h"

namespace {

std::optional<std::string> infoString(const char* key) {
  auto bundle = platform::Bundle::mainBundle();
  if (!bundle) return std::nullopt;
  const auto* value = bundle->objectForInfoDictionaryKey(key).string();
  if (!value) return std::nullopt;
  return *value;
}

}  // namespace

LMOLumoUserAgent::Components LMOLumoUserAgent::currentEnvironmentComponents() {
  Components facts;
  auto add = [&facts](const char* name, const std::optional<std::string>& value) {
    if (value) facts[name] = *value;
  };
  add(lmo::kApplePlatformComponent, VTUAppEnvironmentUtil::applePlatform());
  add(lmo::kAppleSDKComponent, infoString(lmo::kSDKBuildInfoKey));
  add(lmo::kAppStoreComponent,
      std::string(VTUAppEnvironmentUtil::isFromAppStore() ? "true" : "false"));
  add(lmo::kDeployComponent, VTUAppEnvironmentUtil::deploymentType());
  add(lmo::kDeviceComponent, VTUAppEnvironmentUtil::deviceModel());
  add(lmo::kOSVersionComponent, VTUAppEnvironmentUtil::systemVersion());
  add(lmo::kXcodeComponent, infoString(lmo::kXcodeBuildInfoKey));
  return facts;
}

const LMOLumoUserAgent::Components& LMOLumoUserAgent::environmentComponents() {
  if (!environmentComponents_) environmentComponents_ = currentEnvironmentComponents();
  return *environmentComponents_;
}

void LMOLumoUserAgent::setValue(const std::optional<std::string>& version,
                                const std::string& component) {
  std::lock_guard lock(mutex_);
  if (version) {
    valuesByComponent_[component] = *version;
  } else {
    valuesByComponent_.erase(component);
  }
  lumoUserAgent_.reset();
}

std::string LMOLumoUserAgent::lumoUserAgent() {
  std::lock_guard lock(mutex_);
  if (!lumoUserAgent_) {
    Components all = valuesByComponent_;
    for (const auto& [name, value] : environmentComponents()) all[name] = value;
    std::vector<std::string> entries;
    entries.reserve(all.size());
    for (const auto& [name, value] : all) {
      entries.push_back(platform::format(lmo::kUserAgentEntryFormat, name, value));
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const std::string& a, const std::string& b) {
                       return platform::caseInsensitiveCompare(a, b) < 0;
                     });
    std::string joined;
    for (const auto& entry : entries) {
      if (!joined.empty()) joined += ' ';
      joined += entry;
    }
    lumoUserAgent_ = std::move(joined);
  }
  return *lumoUserAgent_;
}

void LMOLumoUserAgent::reset() {
  std::lock_guard lock(mutex_);
  valuesByComponent_ = currentEnvironmentComponents();
  lumoUserAgent_.reset();
}
