// The transport's event store: one archive file per event under
// "<root>/VDTCORFlatFileStorage/vdt_event_data/<target>/", events of a batch moved into a batch
// directory, named blobs ("library data") beside them, a 20,000,000-byte limit and expiry of old
// events. The file names carry target, event ID, tier, expiry and mapping ID, so selecting never
// opens a file. All tree work runs on the serial "com.veltro.VDTCORFlatFileStorage" queue, where
// completions are called too.
#pragma once

#include <filesystem>
#include <memory>
#include <set>

#include "VDTCORLibrary/VDTCORDirectorySizeTracker.h"
#include "VDTCORLibrary/VDTCORStoragePromiseProtocol.h"
#include "VDTCORLibrary/VDTCORUploadCoordinator.h"
#include "platform/dispatch/DispatchQueue.h"

class VDTCORFlatFileStorage : public VDTCORStoragePromiseProtocol,
                              public std::enable_shared_from_this<VDTCORFlatFileStorage> {
 public:
  // Made on first use; registered for targets 999 to 1003 at start-up.
  static std::shared_ptr<VDTCORFlatFileStorage> sharedInstance();
  VDTCORFlatFileStorage();

  // ---- The callback forms.
  void storeEvent(const VDTCOREventPtr& event, StoreCompletion completion) override;
  void hasEventsForTarget(long target, std::function<void(bool)> completion) override;
  void batchWithEventSelector(const VDTCORStorageEventSelectorPtr& selector, double batchExpiration,
                              BatchCompletion completion) override;
  void removeBatchWithID(long batchID, bool deleteEvents,
                         std::function<void()> completion) override;
  void batchIDsForTarget(long target,
                         std::function<void(std::optional<std::set<long>>)> completion) override;
  void checkForExpirations() override;
  void storeLibraryData(const std::optional<platform::Bytes>& data, const std::string& key,
                        std::function<void(platform::ErrorPtr)> completion) override;
  void libraryDataForKey(
      const std::string& key,
      std::function<void(std::optional<platform::Bytes>, platform::ErrorPtr)> onFetchComplete,
      std::function<std::optional<platform::Bytes>()> setNewValue) override;
  void removeLibraryDataForKey(const std::string& key,
                               std::function<void(platform::ErrorPtr)> completion) override;
  void storageSizeWithCallback(std::function<void(std::uint64_t)> callback) override;

  // ---- The promise forms (work dispatched on storageQueue).
  PRMPromisePtr batchIDsForTarget(long target) override;
  PRMPromisePtr removeBatchWithID(long batchID, bool deleteEvents) override;
  PRMPromisePtr removeBatchesWithIDs(const std::set<long>& batchIDs, bool deleteEvents) override;
  PRMPromisePtr removeAllBatchesForTarget(long target, bool deleteEvents) override;
  PRMPromisePtr hasEventsForTarget(long target) override;
  PRMPromisePtr batchWithEventSelector(const VDTCORStorageEventSelectorPtr& selector,
                                       double batchExpiration) override;

  // Drains the queue.
  void appWillTerminate(const VDTCORApplicationPtr& application) override;

  // ---- Layout and names.
  static std::vector<long> availableTargets();
  static std::filesystem::path eventDataStoragePath();
  static std::filesystem::path batchDataStoragePath();
  static std::filesystem::path libraryDataStoragePath();
  static std::filesystem::path pathForTarget(long target, const std::string& eventID, long qosTier,
                                             double expirationDate, const std::string& mappingID);
  static std::filesystem::path batchPathForTarget(long target, long batchID, double expirationDate);
  // Keys of VDTCORConstants.h; nullopt (logged) when the name does not parse.
  static std::optional<platform::Value::Dictionary> eventComponentsFromFilename(
      const std::string& fileName);
  static std::optional<platform::Value::Dictionary> batchComponentsFromFilename(
      const std::string& fileName);

  void pathsForTarget(long target, const std::optional<std::set<std::string>>& eventIDs,
                      const std::optional<std::set<long>>& qosTiers,
                      const std::optional<std::set<std::string>>& mappingIDs,
                      std::function<void(std::set<std::filesystem::path>)> onComplete);
  // Gives the next batch ID (on storageQueue), never one a batch still uses; nullopt when the
  // counter or the batches in use cannot be read.
  void nextBatchID(std::function<void(std::optional<long>)> completion);

  // storageQueue only.
  std::vector<std::filesystem::path> batchDirPathsForBatchID(long batchID,
                                                             platform::ErrorPtr* error);
  static bool moveContentsOfDirectoryAtPath(const std::filesystem::path& source,
                                            const std::filesystem::path& destination,
                                            platform::ErrorPtr* error);
  void syncThreadUnsafeRemoveBatchWithID(long batchID, bool deleteEvents);

  const platform::DispatchQueuePtr& storageQueue() const { return storageQueue_; }
  VDTCORDirectorySizeTracker& sizeTracker();
  const std::shared_ptr<VDTCORUploadCoordinator>& uploadCoordinator() const {
    return uploadCoordinator_;
  }

 private:
  platform::DispatchQueuePtr storageQueue_;
  std::shared_ptr<VDTCORUploadCoordinator> uploadCoordinator_;
  std::unique_ptr<VDTCORDirectorySizeTracker> sizeTracker_;  // storageQueue only
  // IDs handed out to batches whose events have not yet moved into their folder.
  std::set<long> batchIDsBeingMade_;  // storageQueue only
};

std::string VDTCOREncodeMappingID(const std::string& mappingID);
// Percent-encodes all but letters, marks and digits: the event ID and tier parts of a name.
std::string VDTCOREncodeNameComponent(const std::string& text);
std::string VDTCORDecodeMappingID(const std::string& encoded);
