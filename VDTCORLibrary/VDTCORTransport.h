// The client interface of the event transport: one transport per payload kind (mapping ID) and
// destination (target). Sending copies and stamps the event and hands it to the shared
// transformer queue, which stores it for a later batched upload. Thread-safe: a transport holds
// only immutable fields.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "VDTCORLibrary/VDTCOREvent.h"
#include "platform/base/Error.h"
#include "platform/base/Value.h"

class VDTCORTransformer;

// An event transformer: answers transformVDTEvent or reports that it does not. Returning null
// drops the event.
class VDTCOREventTransformer {
 public:
  virtual ~VDTCOREventTransformer() = default;
  virtual bool respondsToTransformVDTEvent() const { return true; }
  virtual VDTCOREventPtr transformVDTEvent(const VDTCOREventPtr& event) = 0;
};
using VDTCOREventTransformerPtr = std::shared_ptr<VDTCOREventTransformer>;

// Called with the success flag and an error or null, on the storage's queue (or the
// transformer's queue when the event was dropped or refused before queueing).
using VDTCORCompletion = std::function<void(bool wasWritten, platform::ErrorPtr error)>;

class VDTCORTransport {
 public:
  // Null (after an assertion report) for a missing or empty mapping ID or a target below 1.
  static std::shared_ptr<VDTCORTransport> initWithMappingID(
      const std::optional<std::string>& mappingID,
      std::optional<std::vector<VDTCOREventTransformerPtr>> transformers, long target);

  // A new event of this transport's mapping ID and target.
  VDTCOREventPtr eventForTransport() const;

  // Sets the caller's event to tier 1 and sends it.
  void sendTelemetryEvent(const VDTCOREventPtr& event, VDTCORCompletion completion = nullptr);
  void sendTelemetryEventOnComplete(const VDTCOREventPtr& event, VDTCORCompletion completion) {
    sendTelemetryEvent(event, std::move(completion));
  }
  // Sends the event at its own tier (tier 1 is reported: use sendTelemetryEvent).
  void sendDataEvent(const VDTCOREventPtr& event, VDTCORCompletion completion = nullptr);

  const std::string& mappingID() const { return mappingID_; }
  const std::optional<std::vector<VDTCOREventTransformerPtr>>& transformers() const {
    return transformers_;
  }
  long target() const { return target_; }
  const std::shared_ptr<VDTCORTransformer>& transformerInstance() const {
    return transformerInstance_;
  }

  VDTCORTransport(std::string mappingID,
                  std::optional<std::vector<VDTCOREventTransformerPtr>> transformers, long target,
                  std::shared_ptr<VDTCORTransformer> transformer);

 private:
  void sendEvent(const VDTCOREventPtr& event, VDTCORCompletion completion);

  std::string mappingID_;
  std::optional<std::vector<VDTCOREventTransformerPtr>> transformers_;
  long target_;
  std::shared_ptr<VDTCORTransformer> transformerInstance_;
};
