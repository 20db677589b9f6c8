#include "VDTCORLibrary/VDTCORTransport.h"

#include "VDTCORLibrary/VDTCORConsoleLogger.h"
#include "VDTCORLibrary/VDTCORRegistrar.h"
#include "VDTCORLibrary/VDTCORTransformer.h"

std::shared_ptr<VDTCORTransport> VDTCORTransport::initWithMappingID(
    const std::optional<std::string>& mappingID,
    std::optional<std::vector<VDTCOREventTransformerPtr>> transformers, long target) {
  VDTCOREnsureLoaded();
  bool valid = VDTCORAssert(mappingID && !mappingID->empty(), "A mapping ID cannot be nil or empty");
  valid = VDTCORAssert(target > 0, "A target cannot be negative or 0") && valid;
  if (!valid) return nullptr;
  auto transport = std::make_shared<VDTCORTransport>(*mappingID, std::move(transformers), target,
                                                     VDTCORTransformer::sharedInstance());
  VDTCORLogDebug("Transport object created. mappingID:%@ transformers:%@ target:%ld", *mappingID,
                 static_cast<long>(transport->transformers_ ? transport->transformers_->size() : 0),
                 target);
  return transport;
}

VDTCORTransport::VDTCORTransport(std::string mappingID,
                                 std::optional<std::vector<VDTCOREventTransformerPtr>> transformers,
                                 long target, std::shared_ptr<VDTCORTransformer> transformer)
    : mappingID_(std::move(mappingID)),
      transformers_(std::move(transformers)),
      target_(target),
      transformerInstance_(std::move(transformer)) {}

VDTCOREventPtr VDTCORTransport::eventForTransport() const {
  return VDTCOREvent::initWithMappingID(mappingID_, target_);
}

void VDTCORTransport::sendTelemetryEvent(const VDTCOREventPtr& event, VDTCORCompletion completion) {
  if (event) event->setQosTier(VDTCOREventQoSTelemetry);
  sendEvent(event, std::move(completion));
}

void VDTCORTransport::sendDataEvent(const VDTCOREventPtr& event, VDTCORCompletion completion) {
  VDTCORAssert(!event || event->qosTier() != VDTCOREventQoSTelemetry,
               "Use -sendTelemetryEvent, please.");
  sendEvent(event, std::move(completion));
}

void VDTCORTransport::sendEvent(const VDTCOREventPtr& event, VDTCORCompletion completion) {
  VDTCORAssert(event != nullptr, "You can't send a nil event");
  VDTCOREventPtr copy = event ? event->copy() : nullptr;
  if (copy) copy->setClockSnapshot(VDTCORClock::snapshot());
  transformerInstance_->transformEvent(copy, transformers_, std::move(completion));
}
