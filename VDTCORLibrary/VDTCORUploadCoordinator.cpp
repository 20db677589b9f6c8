#include "VDTCORLibrary/VDTCORUploadCoordinator.h"

#include <set>

#include "VDTCORLibrary/VDTCORApplication.h"
#include "VDTCORLibrary/VDTCORConsoleLogger.h"
#include "VDTCORLibrary/VDTCORConstants.h"
#include "VDTCORLibrary/VDTCORPlatform.h"
#include "VDTCORLibrary/VDTCORReachability.h"
#include "VDTCORLibrary/VDTCORUploader.h"

namespace {
constexpr double kFirstFiringSeconds = 0.5;
constexpr double kNanosecondsPerSecond = 1e9;
}  // namespace

std::shared_ptr<VDTCORUploadCoordinator> VDTCORUploadCoordinator::sharedInstance() {
  static auto* shared = [] {
    auto* coordinator = new std::shared_ptr<VDTCORUploadCoordinator>(
        std::make_shared<VDTCORUploadCoordinator>(VDTCORRegistrar::sharedInstance()));
    (*coordinator)->startTimer();
    return coordinator;
  }();
  return *shared;
}

VDTCORUploadCoordinator::VDTCORUploadCoordinator(std::shared_ptr<VDTCORRegistrar> registrar)
    : coordinationQueue_(platform::DispatchQueue::create(kVDTCORUploadCoordinatorQueueLabel)),
      registrar_(std::move(registrar)) {}

void VDTCORUploadCoordinator::startTimer() {
  std::weak_ptr<VDTCORUploadCoordinator> weakSelf = weak_from_this();
  coordinationQueue_->async([weakSelf] {
    auto self = weakSelf.lock();
    if (!self || self->timer_) return;
    self->timer_ = platform::DispatchTimer::create(self->coordinationQueue_);
    self->timer_->schedule(kFirstFiringSeconds, timerInterval / kNanosecondsPerSecond,
                           timerLeeway / kNanosecondsPerSecond);
    self->timer_->setEventHandler([weakSelf] {
      auto self = weakSelf.lock();
      if (!self || VDTCORApplication::sharedApplication()->isRunningInBackground()) return;
      long conditions = self->uploadConditions();
      VDTCORLogDebug("Upload timer fired");
      std::vector<long> targets;
      for (const auto& [target, uploader] : self->registrar_->targetToUploader()) {
        targets.push_back(target);
      }
      self->uploadTargets(std::move(targets), conditions);
    });
    VDTCORLogDebug("Upload timer started");
    self->timer_->resume();
  });
}

void VDTCORUploadCoordinator::stopTimerOnQueue() {
  if (timer_) timer_->cancel();
  timer_ = nullptr;
}

void VDTCORUploadCoordinator::stopTimer() {
  std::weak_ptr<VDTCORUploadCoordinator> weakSelf = weak_from_this();
  coordinationQueue_->async([weakSelf] {
    if (auto self = weakSelf.lock()) self->stopTimerOnQueue();
  });
}

void VDTCORUploadCoordinator::forceUploadForTarget(long target) {
  std::weak_ptr<VDTCORUploadCoordinator> weakSelf = weak_from_this();
  coordinationQueue_->async([weakSelf, target] {
    auto self = weakSelf.lock();
    if (!self) return;
    VDTCORLogDebug("Forcing an upload of target %ld", target);
    self->uploadTargets({target}, self->uploadConditions() | VDTCORUploadConditionHighPriority);
  });
}

void VDTCORUploadCoordinator::uploadTargets(std::vector<long> targets, long conditions) {
  std::weak_ptr<VDTCORUploadCoordinator> weakSelf = weak_from_this();
  coordinationQueue_->async([weakSelf, targets = std::move(targets), conditions] {
    auto self = weakSelf.lock();
    if (!self || (conditions & VDTCORUploadConditionNoNetwork)) return;
    auto uploaders = self->registrar_->targetToUploader();
    for (long target : targets) {
      auto it = uploaders.find(static_cast<int>(target));
      if (it == uploaders.end() || !it->second) continue;
      it->second->uploadTarget(static_cast<int>(target), conditions);
    }
  });
}

long VDTCORUploadCoordinator::uploadConditions() const {
  std::uint32_t flags = VDTCORReachability::currentFlags();
  if (!VDTCORFlagsAllowNetwork(flags)) return VDTCORUploadConditionNoNetwork;
  return VDTCORFlagsAreCellular(flags) ? VDTCORUploadConditionMobileData
                                       : VDTCORUploadConditionWifiData;
}

void VDTCORUploadCoordinator::signalToStoragesToCheckExpirations() {
  std::set<VDTCORStorageProtocol*> seen;
  for (const auto& [target, storage] : registrar_->targetToStorage()) {
    if (storage && seen.insert(storage.get()).second) storage->checkForExpirations();
  }
}

VDTCORStoragePtr VDTCORUploadCoordinator::storageForTarget(long target) const {
  auto storages = registrar_->targetToStorage();
  auto it = storages.find(target);
  VDTCORStoragePtr storage = it == storages.end() ? nullptr : it->second;
  VDTCORAssert(storage != nullptr, "A storage must be registered for target %@", target);
  return storage;
}

void VDTCORUploadCoordinator::appWillForeground(const VDTCORApplicationPtr&) {
  startTimer();
  signalToStoragesToCheckExpirations();
}

void VDTCORUploadCoordinator::appWillBackground(const VDTCORApplicationPtr&) { stopTimer(); }

void VDTCORUploadCoordinator::appWillTerminate(const VDTCORApplicationPtr&) {
  std::weak_ptr<VDTCORUploadCoordinator> weakSelf = weak_from_this();
  coordinationQueue_->sync([weakSelf] {
    if (auto self = weakSelf.lock()) self->stopTimerOnQueue();
  });
}
