// The shared transformer: runs a transport's event transformers on its serial queue
// ("com.veltro.VDTCORTransformer"), one event at a time in send order, under a background task,
// and hands the result to the storage registered for the event's target.
#pragma once

#include <memory>
#include <vector>

#include "VDTCORLibrary/VDTCORLifecycle.h"
#include "VDTCORLibrary/VDTCORTransport.h"
#include "platform/dispatch/DispatchQueue.h"

class VDTCORTransformer : public VDTCORLifecycleProtocol,
                          public std::enable_shared_from_this<VDTCORTransformer> {
 public:
  // Made on first use with the shared VDTCORApplication.
  static std::shared_ptr<VDTCORTransformer> sharedInstance();
  static std::shared_ptr<VDTCORTransformer> initWithApplication(VDTCORApplicationPtr application);

  // Returns at once; the work runs on eventWritingQueue.
  void transformEvent(const VDTCOREventPtr& event,
                      const std::optional<std::vector<VDTCOREventTransformerPtr>>& transformers,
                      VDTCORCompletion completion);

  // Blocks until every transformation already queued has run.
  void appWillTerminate(const VDTCORApplicationPtr& application) override;

  const platform::DispatchQueuePtr& eventWritingQueue() const { return eventWritingQueue_; }
  VDTCORApplicationPtr application() const { return application_.lock(); }

 private:
  platform::DispatchQueuePtr eventWritingQueue_;
  std::weak_ptr<VDTCORApplicationProtocol> application_;
};
