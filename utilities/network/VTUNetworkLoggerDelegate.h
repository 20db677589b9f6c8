// The two delegate interfaces of the network layer: one told of reachability changes, one that
// takes the layer's log calls (levels 3 error to 7 debug; six-digit message codes).
// Implementations are called from whatever thread logs (usually the main thread).
#pragma once

#include <optional>
#include <string>

#include "platform/base/Value.h"

class VTUNetworkReachabilityDelegate {
 public:
  virtual ~VTUNetworkReachabilityDelegate() = default;
  virtual void reachabilityDidChange() = 0;
};

class VTUNetworkLoggerDelegate {
 public:
  virtual ~VTUNetworkLoggerDelegate() = default;
  // An absent message is nullopt; a context that is the null marker stands for a missing object.
  virtual void VTUNetwork_logWithLevel(long level, long messageCode,
                                       const std::optional<std::string>& message,
                                       const platform::Value::Array& contexts) = 0;
  // One context; nil when absent.
  virtual void VTUNetwork_logWithLevelMessageCodeMessageContext(
      long level, long messageCode, const std::optional<std::string>& message,
      const platform::Value& context) = 0;
  virtual void VTUNetwork_logWithLevel(long level, long messageCode,
                                       const std::optional<std::string>& message) = 0;
};
