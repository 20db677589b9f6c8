#include "clt_uploader/VDTCLTUploader.h"

#include <chrono>
#include <thread>

#include "VDTCORLibrary/VDTCORConsoleLogger.h"
#include "VDTCORLibrary/VDTCORRegistrar.h"
#include "clt_uploader/VDTCLTConstants.h"
#include "platform/dispatch/RunLoop.h"

namespace {

VDTCORLoadHook uploaderLoader([] {
  auto uploader = VDTCLTUploader::sharedInstance();
  for (long target : {1000, 1001, 1002, 1003}) {
    VDTCORRegistrar::sharedInstance()->registerUploader(uploader, target);
  }
});

std::mutex& testServerMutex() {
  static auto* mutex = new std::mutex();
  return *mutex;
}

std::optional<std::string>& testServerStorage() {
  static auto* url = new std::optional<std::string>();
  return *url;
}

// Built in pieces at run time rather than kept as one literal.
std::string assemble(std::initializer_list<const char*> parts) {
  std::string text;
  for (const char* part : parts) text += part;
  return text;
}

}  // namespace

const std::map<long, std::string>& VDTCOREndpoints::uploadURLs() {
  static const auto* urls = new std::map<long, std::string>{
      {1000, assemble({"https://", "events.", "veltro-transport.", "example", "/v1/clt/batch"})},
      {1001, assemble({"https://", "events.", "veltro-transport.", "example", "/v1/lml/batch"})},
      {1002, assemble({"https://", "events.", "veltro-transport.", "example", "/v1/crl/batch"})},
      {1003, "https://test-endpoint.veltro-transport.example/v1/int/batch"},
  };
  return *urls;
}

std::optional<std::string> VDTCOREndpoints::uploadURLForTarget(long target) {
  auto it = uploadURLs().find(target);
  if (it == uploadURLs().end()) return std::nullopt;
  return it->second;
}

std::shared_ptr<VDTCLTUploader> VDTCLTUploader::sharedInstance() {
  static auto* shared = new std::shared_ptr<VDTCLTUploader>(std::make_shared<VDTCLTUploader>());
  return *shared;
}

VDTCLTUploader::VDTCLTUploader()
    : uploadQueue_(platform::DispatchQueue::create(kVDTCLTUploaderQueueLabel)),
      uploadOperationQueue_(platform::OperationQueue::create(kVDTCLTUploadOperationQueueName)) {}

const std::string& VDTCLTUploader::LMLAndCRLAndINTAPIKey() {
  // Never destroyed: an upload still running at exit may ask for it.
  static const std::string& key =
      *new std::string(assemble({"vltk_", "9f2c41d7e8", "b03a56c4e1", "7d29f0b8a6", "3e41"}));
  return key;
}

std::optional<std::string> VDTCLTUploader::APIKeyForTarget(long target) {
  if (target == 1001 || target == 1002 || target == 1003) return LMLAndCRLAndINTAPIKey();
  return std::nullopt;
}

std::string VDTCLTUploader::serverURLForTarget(long target) {
  if (auto url = testServerURL()) return *url;
  return VDTCOREndpoints::uploadURLForTarget(target).value_or("");
}

void VDTCLTUploader::setTestServerURL(std::optional<std::string> url) {
  std::lock_guard lock(testServerMutex());
  testServerStorage() = std::move(url);
}

std::optional<std::string> VDTCLTUploader::testServerURL() {
  std::lock_guard lock(testServerMutex());
  return testServerStorage();
}

VDTCORClockPtr VDTCLTUploader::nextUploadTimeForTarget(long target) {
  std::lock_guard lock(nextUploadTimeMutex_);
  auto it = nextUploadTimeByTarget_.find(target);
  return it == nextUploadTimeByTarget_.end() ? nullptr : it->second;
}

void VDTCLTUploader::setNextUploadTime(VDTCORClockPtr time, long target) {
  std::lock_guard lock(nextUploadTimeMutex_);
  nextUploadTimeByTarget_[target] = std::move(time);
}

void VDTCLTUploader::uploadTarget(long target, long conditions) {
  auto storage = VDTCORPromiseStorageForTarget(target);
  if (!storage) {
    VDTCORLogError(VDTCORMCEGeneralError,
                   "Failed to upload target: %ld - could not find corresponding storage instance.",
                   target);
    return;
  }
  auto operation = VDTCLTUploadOperation::initWithTarget(
      target, conditions, serverURLForTarget(target), uploadQueue_, storage, shared_from_this());
  VDTCORLogDebug("Upload operation created: %@, target: %@", operation->description(), target);
  std::weak_ptr<VDTCLTUploader> weakSelf = weak_from_this();
  std::weak_ptr<VDTCLTUploadOperation> weakOperation = operation;
  operation->setCompletionBlock([weakSelf, weakOperation] {
    auto self = weakSelf.lock();
    auto operation = weakOperation.lock();
    if (!self || !operation) {
      VDTCORLogDebug("Internal inconsistency: VDTCLTUploader was deallocated during upload.");
      return;
    }
    VDTCORLogDebug("Upload operation finished: %@, uploadAttempted: %@", operation->description(),
                   operation->uploadAttempted());
    // One delivered batch per round: the requests queued behind it would only repeat it.
    if (operation->uploadAttempted()) self->uploadOperationQueue_->cancelAllOperations();
  });
  uploadOperationQueue_->addOperation(operation);
  VDTCORLogDebug("Upload operation scheduled: %@, operation count: %@", operation->description(),
                 static_cast<unsigned long>(operationCount()));
}

std::size_t VDTCLTUploader::operationCount() const {
  return uploadOperationQueue_->operationCount();
}

bool VDTCLTUploader::waitForUploadFinishedWithTimeout(double seconds) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (deadline > std::chrono::steady_clock::now()) {
    if (operationCount() == 0) return true;
    if (platform::isMainThread()) {
      platform::RunLoop::main().runUntil([this] { return operationCount() == 0; }, 0.1);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }
  VDTCORLogDebug("Uploader wait for finish timeout exceeded. Operations still in queue: %@",
                 static_cast<unsigned long>(operationCount()));
  return false;
}
