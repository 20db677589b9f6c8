// Objects registered once per host object and key, kept as an associated object of the host so
// they live as long as it. One class-wide lock covers every call, creation blocks included.
#pragma once

#include <functional>
#include <string>

#include "platform/base/Value.h"

class LMOAppAssociationRegistration {
 public:
  // The object registered for the key, or the block's result registered now. A nested call for
  // the same host and key raises "Reentering registeredObjectWithHost:key:creationBlock: not
  // allowed". A null result leaves the key empty. The host must be a runtime object
  // (platform::runtime::RootObject) to keep anything; for other hosts the block's result is
  // returned and not kept.
  static platform::ObjectPtr registeredObjectWithHost(
      const platform::ObjectPtr& host, const std::string& key,
      const std::function<platform::ObjectPtr()>& creationBlock);
};
