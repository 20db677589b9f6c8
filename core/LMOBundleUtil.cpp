#include "core/LMOBundleUtil.h"

#include "core/LMOConstants.h"
#include "utilities/VTUAppEnvironmentUtil.h"

LMOBundleUtil::BundleList LMOBundleUtil::relevantBundles() {
  auto main = platform::Bundle::mainBundle();
  if (!main) return {};
  return {main, main};
}

std::optional<std::string> LMOBundleUtil::optionsDictionaryPathWithResourceName(
    const std::string& name, const std::string& type, const BundleList& bundles) {
  for (const auto& bundle : bundles) {
    if (!bundle) continue;
    if (auto path = bundle->pathForResource(name, type)) return path->string();
  }
  return std::nullopt;
}

std::vector<std::string> LMOBundleUtil::relevantURLSchemes() {
  std::vector<std::string> schemes;
  for (const auto& bundle : relevantBundles()) {
    const auto* types = bundle->objectForInfoDictionaryKey(lmo::kURLTypesKey).array();
    if (!types) continue;
    for (const auto& type : *types) {
      const auto* entries = type[lmo::kURLSchemesKey].array();
      if (!entries) continue;
      for (const auto& scheme : *entries) {
        if (const auto* s = scheme.string()) schemes.push_back(*s);
      }
    }
  }
  return schemes;
}

bool LMOBundleUtil::hasBundleIdentifierPrefix(const std::string& identifier,
                                              const BundleList& bundles) {
  for (const auto& bundle : bundles) {
    if (!bundle) continue;
    const std::string own = bundle->bundleIdentifier();
    if (own == identifier) return true;
    if (VTUAppEnvironmentUtil::isAppExtension() &&
        bundleIdentifierByRemovingLastPartFrom(own) == identifier) {
      return true;
    }
  }
  return false;
}

std::string LMOBundleUtil::bundleIdentifierByRemovingLastPartFrom(const std::string& identifier) {
  auto dot = identifier.rfind('.');
  if (dot == std::string::npos) return "";
  return identifier.substr(0, dot);
}
