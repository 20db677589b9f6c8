// The per-target event store as the transformer and the uploaders see it, with the selector an
// uploader asks it with and the batch it gets back. Every operation returns at once and calls
// its completion on the storage's own queue.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "VDTCORLibrary/VDTCOREvent.h"
#include "VDTCORLibrary/VDTCORLifecycle.h"
#include "platform/base/Error.h"

class VDTCORStorageEventSelector {
 public:
  // Every event of the target.
  static std::shared_ptr<VDTCORStorageEventSelector> eventSelectorForTarget(long target);
  explicit VDTCORStorageEventSelector(long target) : selectedTarget(target) {}
  // Filters by tier only.
  VDTCORStorageEventSelector(long target, std::set<long> qosTiers)
      : selectedTarget(target), selectedQosTiers(std::move(qosTiers)) {}
  VDTCORStorageEventSelector(long target, const std::optional<std::set<std::string>>& eventIDs,
                             const std::optional<std::set<std::string>>& mappingIDs,
                             const std::optional<std::set<long>>& qosTiers)
      : selectedTarget(target),
        selectedEventIDs(eventIDs),
        selectedMappingIDs(mappingIDs),
        selectedQosTiers(qosTiers) {}

  // An empty or missing set filters nothing out; the non-empty ones must all match.
  const long selectedTarget;
  const std::optional<std::set<std::string>> selectedEventIDs;
  const std::optional<std::set<std::string>> selectedMappingIDs;
  const std::optional<std::set<long>> selectedQosTiers;
};
using VDTCORStorageEventSelectorPtr = std::shared_ptr<VDTCORStorageEventSelector>;

class VDTCORUploadBatch : public platform::Object {
 public:
  VDTCORUploadBatch(long batchID, std::vector<VDTCOREventPtr> events)
      : batchID(batchID), events(std::move(events)) {}
  std::string className() const override { return "VDTCORUploadBatch"; }
  const long batchID;
  const std::vector<VDTCOREventPtr> events;
};
using VDTCORUploadBatchPtr = std::shared_ptr<VDTCORUploadBatch>;

class VDTCORStorageProtocol : public virtual VDTCORLifecycleProtocol {
 public:
  using StoreCompletion = std::function<void(bool wasWritten, platform::ErrorPtr error)>;
  using BatchCompletion = std::function<void(std::optional<long> batchID,
                                             std::optional<std::vector<VDTCOREventPtr>> events)>;

  virtual void storeEvent(const VDTCOREventPtr& event, StoreCompletion completion) = 0;
  virtual void hasEventsForTarget(long target, std::function<void(bool)> completion) = 0;
  virtual void batchWithEventSelector(const VDTCORStorageEventSelectorPtr& selector,
                                      double batchExpiration, BatchCompletion completion) = 0;
  virtual void removeBatchWithID(long batchID, bool deleteEvents,
                                 std::function<void()> completion) = 0;
  virtual void batchIDsForTarget(
      long target, std::function<void(std::optional<std::set<long>>)> completion) = 0;
  virtual void checkForExpirations() = 0;
  virtual void storeLibraryData(const std::optional<platform::Bytes>& data, const std::string& key,
                                std::function<void(platform::ErrorPtr)> completion) = 0;
  virtual void libraryDataForKey(
      const std::string& key,
      std::function<void(std::optional<platform::Bytes>, platform::ErrorPtr)> onFetchComplete,
      std::function<std::optional<platform::Bytes>()> setNewValue) = 0;
  virtual void removeLibraryDataForKey(const std::string& key,
                                       std::function<void(platform::ErrorPtr)> completion) = 0;
  virtual void storageSizeWithCallback(std::function<void(std::uint64_t)> callback) = 0;
};
using VDTCORStoragePtr = std::shared_ptr<VDTCORStorageProtocol>;

inline std::shared_ptr<VDTCORStorageEventSelector> VDTCORStorageEventSelector::eventSelectorForTarget(
    long target) {
  return std::make_shared<VDTCORStorageEventSelector>(target);
}
