#include "VDTCORLibrary/VDTCORRegistrar.h"

#include <mutex>
#include <vector>

#include "VDTCORLibrary/VDTCORConsoleLogger.h"
#include "VDTCORLibrary/VDTCORConstants.h"
#include "VDTCORLibrary/VDTCORStoragePromiseProtocol.h"

std::shared_ptr<VDTCORRegistrar> VDTCORRegistrar::sharedInstance() {
  static auto* shared = new std::shared_ptr<VDTCORRegistrar>(std::make_shared<VDTCORRegistrar>());
  return *shared;
}

VDTCORRegistrar::VDTCORRegistrar()
    : registrarQueue_(platform::DispatchQueue::create(kVDTCORRegistrarQueueLabel)) {}

void VDTCORRegistrar::registerUploader(VDTCORUploaderPtr uploader, long target) {
  std::weak_ptr<VDTCORRegistrar> weakSelf = weak_from_this();
  registrarQueue_->async([weakSelf, uploader, target] {
    auto self = weakSelf.lock();
    if (!self) return;
    VDTCORLogDebug("Registered an uploader: %@ for target:%ld",
                   platform::pointerValue(uploader.get()), target);
    self->targetToUploader_[target] = uploader;
  });
}

void VDTCORRegistrar::registerStorage(VDTCORStoragePtr storage, long target) {
  std::weak_ptr<VDTCORRegistrar> weakSelf = weak_from_this();
  registrarQueue_->async([weakSelf, storage, target] {
    auto self = weakSelf.lock();
    if (!self) return;
    VDTCORLogDebug("Registered storage: %@ for target:%ld", platform::pointerValue(storage.get()),
                   target);
    self->targetToStorage_[target] = storage;
  });
}

std::map<long, VDTCORUploaderPtr> VDTCORRegistrar::targetToUploader() const {
  std::map<long, VDTCORUploaderPtr> result;
  registrarQueue_->sync([&] { result = targetToUploader_; });
  return result;
}

std::map<long, VDTCORStoragePtr> VDTCORRegistrar::targetToStorage() const {
  std::map<long, VDTCORStoragePtr> result;
  registrarQueue_->sync([&] { result = targetToStorage_; });
  return result;
}

template <class F>
void VDTCORRegistrar::fanOut(F&& call) {
  for (const auto& [target, uploader] : targetToUploader()) {
    if (uploader) call(*uploader);
  }
  for (const auto& [target, storage] : targetToStorage()) {
    if (storage) call(*storage);
  }
}

void VDTCORRegistrar::appWillBackground(const VDTCORApplicationPtr& application) {
  fanOut([&](VDTCORLifecycleProtocol& receiver) { receiver.appWillBackground(application); });
}

void VDTCORRegistrar::appWillForeground(const VDTCORApplicationPtr& application) {
  fanOut([&](VDTCORLifecycleProtocol& receiver) { receiver.appWillForeground(application); });
}

void VDTCORRegistrar::appWillTerminate(const VDTCORApplicationPtr& application) {
  fanOut([&](VDTCORLifecycleProtocol& receiver) { receiver.appWillTerminate(application); });
}

std::shared_ptr<VDTCORStoragePromiseProtocol> VDTCORPromiseStorageForTarget(long target) {
  auto storages = VDTCORRegistrar::sharedInstance()->targetToStorage();
  auto it = storages.find(target);
  if (it == storages.end()) return nullptr;
  return std::dynamic_pointer_cast<VDTCORStoragePromiseProtocol>(it->second);
}

namespace {

struct LoadHooks {
  std::mutex mutex;
  std::vector<void (*)()> hooks;
  bool ran = false;
};

LoadHooks& loadHooks() {
  static LoadHooks* hooks = new LoadHooks();
  return *hooks;
}

// The transport starts with the program, so events an earlier run stored go out without waiting
// for something new to be sent. Before main this only queues the start on the main queue (no
// thread, file or log line yet); the first turn of the main run loop then registers the storage
// and the uploader and starts the upload timer. Making a transport earlier starts it at once.
struct TransportStart {
  TransportStart() {
    platform::DispatchQueue::main()->async([] { VDTCOREnsureLoaded(); });
  }
} const transportStart;

}  // namespace

VDTCORLoadHook::VDTCORLoadHook(void (*hook)()) {
  LoadHooks& state = loadHooks();
  std::unique_lock lock(state.mutex);
  if (!state.ran) {
    state.hooks.push_back(hook);
    return;
  }
  lock.unlock();
  hook();
}

void VDTCOREnsureLoaded() {
  static std::once_flag once;
  std::call_once(once, [] {
    std::vector<void (*)()> hooks;
    {
      LoadHooks& state = loadHooks();
      std::lock_guard lock(state.mutex);
      state.ran = true;
      hooks.swap(state.hooks);
    }
    for (auto hook : hooks) hook();
  });
}
