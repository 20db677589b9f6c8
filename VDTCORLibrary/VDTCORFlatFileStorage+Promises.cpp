// The promise forms of the flat-file storage, built on its callback forms.
#include "VDTCORLibrary/VDTCORFlatFileStorage.h"

#include "VDTCORLibrary/VDTCORConstants.h"

namespace {

platform::ErrorPtr genericRejectedPromiseErrorWithReason(const std::string& reason) {
  return platform::Error::make(kVDTCORFlatFileStorageErrorDomain, -1,
                               {{platform::kLocalizedFailureReasonKey, reason}});
}

}  // namespace

PRMPromisePtr VDTCORFlatFileStorage::batchIDsForTarget(long target) {
  std::weak_ptr<VDTCORFlatFileStorage> weakSelf = weak_from_this();
  return PRMPromise::onQueueAsync(storageQueue_, [weakSelf, target](auto fulfill, auto) {
    auto self = weakSelf.lock();
    if (!self) return fulfill(platform::Value());
    self->batchIDsForTarget(target, [fulfill](std::optional<std::set<long>> ids) {
      if (!ids) return fulfill(platform::Value());
      platform::Value::Array values;
      for (long id : *ids) values.push_back(platform::Value(id));
      fulfill(platform::Value::set(std::move(values)));
    });
  });
}

PRMPromisePtr VDTCORFlatFileStorage::removeBatchWithID(long batchID, bool deleteEvents) {
  std::weak_ptr<VDTCORFlatFileStorage> weakSelf = weak_from_this();
  return PRMPromise::onQueueAsync(storageQueue_,
                                  [weakSelf, batchID, deleteEvents](auto fulfill, auto) {
                                    auto self = weakSelf.lock();
                                    if (!self) return fulfill(platform::Value());
                                    self->removeBatchWithID(batchID, deleteEvents, [fulfill] {
                                      fulfill(platform::Value());
                                    });
                                  });
}

PRMPromisePtr VDTCORFlatFileStorage::removeBatchesWithIDs(const std::set<long>& batchIDs,
                                                          bool deleteEvents) {
  platform::Value::Array removals;
  for (long id : batchIDs) removals.push_back(platform::Value(removeBatchWithID(id, deleteEvents)));
  return PRMPromise::onQueueAll(storageQueue_, removals)
      ->onQueueThen(storageQueue_, [](const platform::Value&) { return platform::Value::null(); });
}

PRMPromisePtr VDTCORFlatFileStorage::removeAllBatchesForTarget(long target, bool) {
  // Leftover batches always go back to the pool: the one caller asks for that, and deleting
  // events that were never delivered would lose them.
  std::weak_ptr<VDTCORFlatFileStorage> weakSelf = weak_from_this();
  return batchIDsForTarget(target)->onQueueThen(
      storageQueue_, [weakSelf](const platform::Value& ids) -> platform::Value {
        auto self = weakSelf.lock();
        if (!self || ids.count() == 0) return platform::Value::null();
        std::set<long> set;
        for (const auto& id : *ids.array()) set.insert(static_cast<long>(id.int64Value()));
        return platform::Value(self->removeBatchesWithIDs(set, false));
      });
}

PRMPromisePtr VDTCORFlatFileStorage::hasEventsForTarget(long target) {
  std::weak_ptr<VDTCORFlatFileStorage> weakSelf = weak_from_this();
  return PRMPromise::onQueueAsync(storageQueue_, [weakSelf, target](auto fulfill, auto) {
    auto self = weakSelf.lock();
    if (!self) return fulfill(platform::Value(false));
    self->hasEventsForTarget(target, [fulfill](bool has) { fulfill(platform::Value(has)); });
  });
}

PRMPromisePtr VDTCORFlatFileStorage::batchWithEventSelector(
    const VDTCORStorageEventSelectorPtr& selector, double batchExpiration) {
  std::weak_ptr<VDTCORFlatFileStorage> weakSelf = weak_from_this();
  return PRMPromise::onQueueAsync(
      storageQueue_, [weakSelf, selector, batchExpiration](auto fulfill, auto reject) {
        auto self = weakSelf.lock();
        auto noEvents = [reject] {
          reject(genericRejectedPromiseErrorWithReason("There are no events for the selector."));
        };
        if (!self) return noEvents();
        self->batchWithEventSelector(
            selector, batchExpiration,
            [fulfill, noEvents](std::optional<long> batchID,
                                std::optional<std::vector<VDTCOREventPtr>> events) {
              if (!batchID || !events || events->empty()) return noEvents();
              fulfill(platform::Value(
                  std::make_shared<VDTCORUploadBatch>(*batchID, std::move(*events))));
            });
      });
}
