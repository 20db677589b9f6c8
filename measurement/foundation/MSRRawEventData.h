// An event read back from the raw events table with its row ID and the fingerprint of the
// metadata row it belongs to. Immutable; safe to hand between queues.
#pragma once

#include <cstdint>
#include <memory>

#include "measurement/foundation/MSREvent.h"

class MSRRawEventData {
 public:
  // Null (logged 28000 / 28001) for a missing event or a negative row ID.
  static std::shared_ptr<MSRRawEventData> initWithRawEvent(MSREventPtr rawEvent,
                                                           std::int64_t rowID,
                                                           std::int64_t metadataFingerprint);

  const MSREventPtr& rawEvent() const { return rawEvent_; }
  std::int64_t rowID() const { return rowID_; }
  std::int64_t metadataFingerprint() const { return metadataFingerprint_; }

 private:
  // Only initWithRawEvent makes one; the key lets it use make_shared (one allocation).
  struct ConstructionKey {
    explicit ConstructionKey() = default;
  };

 public:
  explicit MSRRawEventData(ConstructionKey) {}

 private:
  MSREventPtr rawEvent_;
  std::int64_t rowID_ = 0;
  std::int64_t metadataFingerprint_ = 0;
};
