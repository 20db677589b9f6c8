#include "VDTCORLibrary/VDTCORTransformer.h"

#include <atomic>

#include "VDTCORLibrary/VDTCORApplication.h"
#include "VDTCORLibrary/VDTCORConsoleLogger.h"
#include "VDTCORLibrary/VDTCORConstants.h"
#include "VDTCORLibrary/VDTCORRegistrar.h"
#include "platform/base/Format.h"

namespace {

// The failure handed to a completion when an event cannot reach any storage.
platform::ErrorPtr failure(const std::string& reason) {
  return platform::Error::make(platform::kInternalInconsistencyException, -1,
                               {{platform::kLocalizedFailureReasonKey, reason}});
}

}  // namespace

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
  auto taskID =
      std::make_shared<std::atomic<VDTCORBackgroundIdentifier>>(VDTCORBackgroundIdentifierInvalid);
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
    // Every path ends in the completion, so the caller always hears back and the background
    // task always ends.
    if (!event) {
      finish(false, failure("You can't write a nil event"));
      return;
    }
    VDTCOREventPtr current = event;
    for (const auto& transformer :
         transformers.value_or(std::vector<VDTCOREventTransformerPtr>{})) {
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
    if (it == storages.end() || !it->second) {
      VDTCORLogDebug("No storage is registered for target %ld", event->target());
      finish(false,
             failure(platform::format("No storage is registered for target %ld", event->target())));
      return;
    }
    it->second->storeEvent(current, finish);
  });
}

void VDTCORTransformer::appWillTerminate(const VDTCORApplicationPtr&) {
  eventWritingQueue_->sync([] {});
}
