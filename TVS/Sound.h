// One clip of the catalogue. Shared by reference between the screens (never copied); fixed after
// decoding, so safe to read from any thread, though the app only uses it on the main thread.
#pragma once

#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "platform/base/Error.h"

class Sound {
 public:
  // Field names, in field order; each key's text is the field name.
  enum class CodingKeys { id, displayName, locked, skip };
  static const char* codingKeyName(CodingKeys key);

  Sound(std::string id, std::string displayName, std::optional<bool> locked = std::nullopt,
        std::optional<bool> skip = std::nullopt);

  // Strict decoding of one sound object: a missing or null required key, or any value of the
  // wrong JSON type, fails (null and *error set). A null optional is no value; unknown keys are
  // ignored. `path` names the object in the error text.
  static std::shared_ptr<Sound> decode(const nlohmann::json& object, const std::string& path,
                                       platform::ErrorPtr* error);
  // The same keys in field order; optionals without a value are left out.
  nlohmann::ordered_json encode() const;

  const std::string& id() const { return id_; }
  const std::string& displayName() const { return displayName_; }
  const std::optional<bool>& locked() const { return locked_; }
  const std::optional<bool>& skip() const { return skip_; }

 private:
  std::string id_;
  std::string displayName_;
  std::optional<bool> locked_;
  std::optional<bool> skip_;
};

using SoundPtr = std::shared_ptr<Sound>;
