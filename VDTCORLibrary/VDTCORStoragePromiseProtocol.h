// The promise forms of the event store that the batch uploader uses. Every promise's work runs
// on the storage's own queue; none of them rejects except batchWithEventSelector (no events).
#pragma once

#include <memory>
#include <set>

#include "VDTCORLibrary/VDTCORStorageProtocol.h"
#include "promises/PRMPromise.h"

class VDTCORStoragePromiseProtocol : public virtual VDTCORStorageProtocol {
 public:
  // Fulfils with a set value of batch-ID numbers, or nil when there are none.
  virtual PRMPromisePtr batchIDsForTarget(long target) = 0;
  virtual PRMPromisePtr removeBatchWithID(long batchID, bool deleteEvents) = 0;
  virtual PRMPromisePtr removeBatchesWithIDs(const std::set<long>& batchIDs, bool deleteEvents) = 0;
  virtual PRMPromisePtr removeAllBatchesForTarget(long target, bool deleteEvents) = 0;
  // Fulfils with a boolean number.
  virtual PRMPromisePtr hasEventsForTarget(long target) = 0;
  // Fulfils with a VDTCORUploadBatch object.
  virtual PRMPromisePtr batchWithEventSelector(const VDTCORStorageEventSelectorPtr& selector,
                                               double batchExpiration) = 0;

  using VDTCORStorageProtocol::batchIDsForTarget;
  using VDTCORStorageProtocol::batchWithEventSelector;
  using VDTCORStorageProtocol::hasEventsForTarget;
  using VDTCORStorageProtocol::removeBatchWithID;
};
