// Runs one operation at a time: while its promise is pending every caller gets that promise;
// once it settles the next call starts a new operation. The lock covers only the check and the
// creation of the pending promise.
#pragma once

#include <functional>
#include <memory>
#include <mutex>

#include "promises/PRMPromise.h"

class LMOInstallationsSingleOperationPromiseCache
    : public std::enable_shared_from_this<LMOInstallationsSingleOperationPromiseCache> {
 public:
  using Handler = std::function<PRMPromisePtr()>;
  // Raises an invalid-argument exception for an empty handler.
  static std::shared_ptr<LMOInstallationsSingleOperationPromiseCache> initWithNewOperationHandler(
      Handler handler);

  PRMPromisePtr getExistingPendingOrCreateNewPromise();
  PRMPromisePtr getExistingPendingPromise();

  explicit LMOInstallationsSingleOperationPromiseCache(Handler handler);

 private:
  void clearPendingPromise(const PRMPromisePtr& promise);

  std::recursive_mutex mutex_;
  Handler newOperationHandler_;
  PRMPromisePtr pendingPromise_;
};
