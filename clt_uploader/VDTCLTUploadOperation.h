// One upload of one target: checks that the target may upload now, returns leftover batches to
// the pool, takes a fresh batch that suits the network conditions, posts it and then deletes the
// batch or returns its events by the HTTP status; the answer sets the next upload time. Every
// step runs on the uploader's serial queue; the flags are guarded by the operation's own lock.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "VDTCORLibrary/VDTCORClock.h"
#include "VDTCORLibrary/VDTCORLifecycle.h"
#include "VDTCORLibrary/VDTCORStoragePromiseProtocol.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/OperationQueue.h"
#include "platform/network/URLRequest.h"
#include "platform/network/URLSession.h"
#include "promises/PRMPromise.h"

class VTUURLSessionDataResponse;

// What an operation needs of its uploader: the pacing per target and the key per target.
class VDTCLTUploadMetadataProvider {
 public:
  virtual ~VDTCLTUploadMetadataProvider() = default;
  virtual VDTCORClockPtr nextUploadTimeForTarget(long target) = 0;
  virtual void setNextUploadTime(VDTCORClockPtr time, long target) = 0;
  virtual std::optional<std::string> APIKeyForTarget(long target) = 0;
};

// Runs on the uploader's operation queue (platform::OperationQueue): start, cancel and the
// executing, finished and cancelled flags are the platform operation's, whose start checks and
// starts in one step, so an operation cancelled before it starts never runs.
class VDTCLTUploadOperation : public platform::Operation {
 public:
  static std::shared_ptr<VDTCLTUploadOperation> initWithTarget(
      long target, long conditions, std::string uploadURL, platform::DispatchQueuePtr queue,
      std::shared_ptr<VDTCORStoragePromiseProtocol> storage,
      std::shared_ptr<VDTCLTUploadMetadataProvider> metadataProvider);

  std::string className() const override { return "VDTCLTUploadOperation"; }
  std::string description() const override;

  // Finished when its run ends, on every path.
  bool isAsynchronous() const override { return true; }
  bool uploadAttempted() const;

  void uploadTarget(long target, long conditions);
  PRMPromisePtr isReadyToUploadTarget(long target, long conditions);
  bool readyToUploadTarget(long target, long conditions);
  VDTCORStorageEventSelectorPtr eventSelectorTarget(long target, long conditions) const;
  PRMPromisePtr sendURLRequestWithBatch(
      const std::shared_ptr<VDTCORUploadBatch>& batch, long target,
      const std::shared_ptr<VDTCORStoragePromiseProtocol>& storage);
  PRMPromisePtr sendURLRequestWithBatch(const std::shared_ptr<VDTCORUploadBatch>& batch,
                                        long target);
  // Null (logged) for missing or empty data.
  std::optional<platform::URLRequest> constructRequestWithURL(const std::string& url, long target,
                                                              const platform::Bytes& data);
  void updateNextUploadTimeWithResponse(const VTUURLSessionDataResponse& response, long target);
  std::shared_ptr<platform::URLSession> uploaderSessionCreateIfNeeded();

  // How long a request may wait for the connection or for the next bytes (seconds), for every
  // operation; 60 unless changed (tests shorten it).
  static void setRequestTimeoutInterval(double seconds);
  static double requestTimeoutInterval();

  long target() const { return target_; }
  long conditions() const { return conditions_; }
  const std::string& uploadURL() const { return uploadURL_; }

  VDTCLTUploadOperation() = default;

 protected:
  // Logs the start and runs the upload of its target.
  void main() override;

 private:
  void finishOperation();
  void endBackgroundTask();

  mutable std::mutex lock_;  // guards uploadAttempted_, uploaderSession_ and backgroundTaskID_
  bool uploadAttempted_ = false;
  platform::DispatchQueuePtr uploaderQueue_;
  long target_ = 0;
  long conditions_ = 0;
  std::string uploadURL_;
  std::shared_ptr<VDTCORStoragePromiseProtocol> storage_;
  std::weak_ptr<VDTCLTUploadMetadataProvider> metadataProvider_;
  std::shared_ptr<platform::URLSession> uploaderSession_;
  VDTCORBackgroundIdentifier backgroundTaskID_ = VDTCORBackgroundIdentifierInvalid;
};
