// The SDK's user agent: the versions of the registered libraries and a fixed set of environment
// facts rendered as sorted "name/value" entries joined by one blank. Each object serialises its
// operations with its own lock.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

class LMOLumoUserAgent {
 public:
  using Components = std::map<std::string, std::string>;

  LMOLumoUserAgent() = default;

  // nullopt removes the name.
  void setValue(const std::optional<std::string>& version, const std::string& component);
  std::string lumoUserAgent();
  // Replaces the library versions with the environment facts.
  void reset();
  // The environment facts, built on first use and kept.
  const Components& environmentComponents();
  // The environment facts, built now; a missing fact is left out.
  static Components currentEnvironmentComponents();

 private:
  std::mutex mutex_;
  std::optional<std::string> lumoUserAgent_;
  std::optional<Components> environmentComponents_;
  Components valuesByComponent_;
};
