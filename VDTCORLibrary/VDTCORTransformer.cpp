#include "VDTCORLibrary/VDTCORTransformer.h"

#include <atomic>

#include "VDTCORLibrary/VDTCORApplication.h"
#include "VDTCORLibrary/VDTCORConsoleLogger.h"
#include "VDTCORLibrary/VDTCORConstants.h"
#include "VDTCORLibrary/VDTCORRegistrar.h"

std::shared_ptr<VDTCORTransformer> VDTCORTransformer::sharedInstance() {
  static auto* shared = new std::shared_ptr<VDTCORTransformer>(
      initWithApplication(VDTCORApplication::sharedApplication()));
  return *shared;
}

std::shared_ptr<VDTCORTransformer> VDTCORTransformer::initWithApplication(
    VDTCORApplicationPtr application) {
  auto transformer = std::make_shared<VDTCORTransformer>();
  transformer->eventWritingQueue_ = platform::DispatchQueue::create(kVDTCORTransformerQueueLabel);
  transformer->application_ = application;
  return transformer;
}

void VDTCORTransformer::transformEvent(
    const VDTCOREventPtr& event,
    const std::optional<std::vector<VDTCOREventTransformerPtr>>& transformers,
    VDTCORCompletion completion) {
  VDTCORAssert(event != nullptr, "You can't write a nil event");

  // The task identifier is shared by the expiration handler and the finishing block; whichever
  // ends the task first clears it, so it is ended once.
  auto taskID = std::make_shared<std::atomic<VDTCORBackgroundIdentifier>>(
      VDTCORBackgroundIdentifierInvalid);
  std::weak_ptr<VDTCORApplicationProtocol> weakApp = application_;
  auto endTask = [weakApp, taskID] {
    VDTCORBackgroundIdentifier id = taskID->exchange(VDTCORBackgroundIdentifierInvalid);
    if (auto app = weakApp.lock()) app->endBackgroundTask(id);
  };
  if (auto app = weakApp.lock()) {
    taskID->store(app->beginBackgroundTaskWithName(kVDTCORTransformerBackgroundTaskName, endTask));
  }
  VDTCORCompletion finish = [completion, endTask](bool wasWritten, platform::ErrorPtr error) {
    if (completion) completion(wasWritten, error);
    endTask();
  };

  eventWritingQueue_->async([event, transformers, finish] {
    if (!event) return;
    VDTCOREventPtr current = event;
    for (const auto& transformer : transformers.value_or(std::vector<VDTCOREventTransformerPtr>{})) {
      if (!transformer || !transformer->respondsToTransformVDTEvent()) {
        VDTCORLogToConsole(VDTCORMCETransformerDoesntImplementTransform, VDTCORLoggingLevelErrors,
                           "Transformer doesn't implement transformVDTEvent: %@",
                           platform::pointerValue(transformer.get()));
        finish(false, nullptr);
        return;
      }
      VDTCORLogDebug("Applying a transformer to event %@", current);
      current = transformer->transformVDTEvent(current);
      if (!current) {
        finish(false, nullptr);
        return;
      }
    }
    auto storages = VDTCORRegistrar::sharedInstance()->targetToStorage();
    auto it = storages.find(event->target());
    if (it == storages.end() || !it->second) return;  // the task ends through its expiry
    it->second->storeEvent(current, finish);
  });
}

void VDTCORTransformer::appWillTerminate(const VDTCORApplicationPtr&) {
  eventWritingQueue_->sync([] {});
}
