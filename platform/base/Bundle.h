// A bundle: a directory holding Info.plist and resources. The main bundle is $TVS_BUNDLE, else
// the "*.app" directory beside the executable. Lookups refuse any name or folder holding "/",
// ".." or NUL, so a lookup never leaves the bundle. Bundles are immutable; thread-safe.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "platform/base/Value.h"

namespace platform {

class Bundle {
 public:
  static std::shared_ptr<Bundle> mainBundle();
  // Null when the path is not a directory.
  static std::shared_ptr<Bundle> bundleWithPath(const std::filesystem::path& path);
  // Forget the cached main bundle (tests that point TVS_BUNDLE elsewhere).
  static void resetMainBundleForTesting();

  const std::filesystem::path& bundlePath() const { return path_; }
  // Info.plist's "CFBundleIdentifier", or empty.
  std::string bundleIdentifier() const;
  const Value& infoDictionary() const { return info_; }
  // nil when absent.
  const Value& objectForInfoDictionaryKey(std::string_view key) const;

  // `type` may be given with or without its leading period, or empty for a name with no
  // extension. Null when missing or refused.
  std::optional<std::filesystem::path> pathForResource(const std::string& name,
                                                       const std::string& type,
                                                       const std::string& subdirectory = "") const;
  // The same as a "file://" URL string.
  std::optional<std::string> urlForResource(const std::string& name, const std::string& type,
                                            const std::string& subdirectory = "") const;

  explicit Bundle(std::filesystem::path path);

 private:
  std::filesystem::path path_;
  Value info_;
};

// "file:///a/b%20c" for a path; percent-escapes what a URL cannot hold.
std::string fileUrlForPath(const std::filesystem::path& path);
// The path of a "file://" URL, or nullopt for anything else.
std::optional<std::filesystem::path> pathForFileUrl(std::string_view url);

}  // namespace platform
