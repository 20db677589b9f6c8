#include "installations/LMOInstallationsSingleOperationPromiseCache.h"

#include "installations/LMOInstallationsConstants.h"
#include "platform/base/Error.h"

LMOInstallationsSingleOperationPromiseCache::LMOInstallationsSingleOperationPromiseCache(
    Handler handler)
    : newOperationHandler_(std::move(handler)) {}

std::shared_ptr<LMOInstallationsSingleOperationPromiseCache>
LMOInstallationsSingleOperationPromiseCache::initWithNewOperationHandler(Handler handler) {
  if (!handler) {
    throw platform::Exception(platform::kInvalidArgumentException, lmoinst::kNilHandlerReason);
  }
  return std::make_shared<LMOInstallationsSingleOperationPromiseCache>(std::move(handler));
}

PRMPromisePtr LMOInstallationsSingleOperationPromiseCache::getExistingPendingOrCreateNewPromise() {
  std::lock_guard lock(mutex_);
  if (!pendingPromise_) {
    auto promise = newOperationHandler_();
    pendingPromise_ = promise;
    std::weak_ptr<LMOInstallationsSingleOperationPromiseCache> weak = shared_from_this();
    std::weak_ptr<PRMPromise> weakPromise = promise;
    auto clear = [weak, weakPromise] {
      auto self = weak.lock();
      auto settled = weakPromise.lock();
      if (self) self->clearPendingPromise(settled);
    };
    promise->observeOnQueue(
        PRMPromise::defaultDispatchQueue(), [clear](const platform::Value&) { clear(); },
        [clear](const platform::ErrorPtr&) { clear(); });
  }
  return pendingPromise_;
}

PRMPromisePtr LMOInstallationsSingleOperationPromiseCache::getExistingPendingPromise() {
  std::lock_guard lock(mutex_);
  return pendingPromise_;
}

void LMOInstallationsSingleOperationPromiseCache::clearPendingPromise(
    const PRMPromisePtr& promise) {
  std::lock_guard lock(mutex_);
  // Only the operation that settled is cleared; a newer one may already be pending.
  if (!promise || pendingPromise_ == promise) pendingPromise_.reset();
}
