// Which storage and which uploader serve each target. Registration is asynchronous on the serial
// "com.veltro.VDTCORRegistrar" queue; lookups wait on the same queue, so they see every
// registration made before them. Also fans the application's life-cycle calls out to everyone
// registered.
#pragma once

#include <map>
#include <memory>

#include "VDTCORLibrary/VDTCORLifecycle.h"
#include "VDTCORLibrary/VDTCORStorageProtocol.h"
#include "VDTCORLibrary/VDTCORUploader.h"
#include "platform/dispatch/DispatchQueue.h"

class VDTCORStoragePromiseProtocol;

class VDTCORRegistrar : public VDTCORLifecycleProtocol,
                        public std::enable_shared_from_this<VDTCORRegistrar> {
 public:
  static std::shared_ptr<VDTCORRegistrar> sharedInstance();
  VDTCORRegistrar();

  // A later registration for a target replaces the earlier one.
  void registerUploader(VDTCORUploaderPtr uploader, long target);
  void registerStorage(VDTCORStoragePtr storage, long target);

  // Snapshots taken on the registrar's queue.
  std::map<long, VDTCORUploaderPtr> targetToUploader() const;
  std::map<long, VDTCORStoragePtr> targetToStorage() const;

  // Called on every registered uploader, then every registered storage, once per registration.
  void appWillBackground(const VDTCORApplicationPtr& application) override;
  void appWillForeground(const VDTCORApplicationPtr& application) override;
  void appWillTerminate(const VDTCORApplicationPtr& application) override;

  const platform::DispatchQueuePtr& registrarQueue() const { return registrarQueue_; }

 private:
  template <class F>
  void fanOut(F&& call);

  platform::DispatchQueuePtr registrarQueue_;
  std::map<long, VDTCORUploaderPtr> targetToUploader_;
  std::map<long, VDTCORStoragePtr> targetToStorage_;
};

// The storage registered for the target when it offers the promise forms, else null.
std::shared_ptr<VDTCORStoragePromiseProtocol> VDTCORPromiseStorageForTarget(long target);

// Start-up work a library of the transport queues at load time: a namespace-scope VDTCORLoadHook
// only records its function (no threads, files or logging before main). VDTCOREnsureLoaded runs
// every recorded function once, in recording order: it is queued on the main queue at load, so
// the first turn of the main run loop runs it, and making a transport runs it at once if that
// comes first. A hook recorded after that runs at once.
class VDTCORLoadHook {
 public:
  explicit VDTCORLoadHook(void (*hook)());
};
void VDTCOREnsureLoaded();
