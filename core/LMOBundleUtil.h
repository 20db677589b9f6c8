// Finds the options property list in the relevant bundles and answers questions about bundle
// identifiers and URL schemes. Class methods only; thread-safe (bundles are immutable).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/base/Bundle.h"

class LMOBundleUtil {
 public:
  using BundleList = std::vector<std::shared_ptr<platform::Bundle>>;

  // The main bundle, then the bundle holding this code: the same directory here, as the SDK is
  // linked into the executable.
  static BundleList relevantBundles();
  // The resource's path in the first bundle, in order, that has it.
  static std::optional<std::string> optionsDictionaryPathWithResourceName(
      const std::string& name, const std::string& type, const BundleList& bundles);
  // Every "CFBundleURLSchemes" entry of every "CFBundleURLTypes" entry of each relevant bundle,
  // in order, duplicates kept.
  static std::vector<std::string> relevantURLSchemes();
  // Whole-string comparison with each bundle's identifier (less its last part in an app
  // extension), despite the name.
  static bool hasBundleIdentifierPrefix(const std::string& identifier, const BundleList& bundles);
  // "a.b.c" gives "a.b"; "abc" gives "".
  static std::string bundleIdentifierByRemovingLastPartFrom(const std::string& identifier);
};
