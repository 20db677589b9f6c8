// The transport's one uploader: registered at start-up for targets 1000 to 1003, it queues one
// upload operation per request of the upload coordinator on a platform::OperationQueue, which runs
// them one at a time. Pacing (next upload time per target) lives in memory, guarded by its own
// lock. Steps of every operation run on the serial "com.veltro.VDTCLTUploader" queue.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "VDTCORLibrary/VDTCORUploader.h"
#include "clt_uploader/VDTCLTUploadOperation.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/OperationQueue.h"

// The upload URLs of the targets, built once; safe from any thread.
class VDTCOREndpoints {
 public:
  static const std::map<long, std::string>& uploadURLs();
  static std::optional<std::string> uploadURLForTarget(long target);
};

class VDTCLTUploader : public VDTCORUploader,
                       public VDTCLTUploadMetadataProvider,
                       public std::enable_shared_from_this<VDTCLTUploader> {
 public:
  static std::shared_ptr<VDTCLTUploader> sharedInstance();
  VDTCLTUploader();

  void uploadTarget(long target, long conditions) override;

  VDTCORClockPtr nextUploadTimeForTarget(long target) override;
  void setNextUploadTime(VDTCORClockPtr time, long target) override;
  // The transport key for 1001 to 1003, none otherwise.
  std::optional<std::string> APIKeyForTarget(long target) override;
  static const std::string& LMLAndCRLAndINTAPIKey();

  // The test server when set, else the target's endpoint (empty when it has none).
  static std::string serverURLForTarget(long target);
  static void setTestServerURL(std::optional<std::string> url);
  static std::optional<std::string> testServerURL();

  // Waits (pumping the main run loop when called on it) until no operation is queued; false
  // when the timeout passes first. A timeout of 0 always gives false.
  bool waitForUploadFinishedWithTimeout(double seconds);

  // Operations queued and not yet finished, the running one included.
  std::size_t operationCount() const;

  const platform::DispatchQueuePtr& uploadQueue() const { return uploadQueue_; }
  const platform::OperationQueuePtr& uploadOperationQueue() const { return uploadOperationQueue_; }

 private:
  platform::DispatchQueuePtr uploadQueue_;
  platform::OperationQueuePtr uploadOperationQueue_;
  std::mutex nextUploadTimeMutex_;
  std::map<long, VDTCORClockPtr> nextUploadTimeByTarget_;
};
