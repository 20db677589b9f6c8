// Helpers shared by the storage tests.
#pragma once

#include <string>

#include "platform/base/Error.h"

// The description an engine error carries, or "" when it has none.
inline std::string description(const platform::ErrorPtr& error) {
  if (!error || !error->userInfo().count("NSLocalizedDescription")) return "";
  return *error->userInfo().at("NSLocalizedDescription").string();
}
