// The per-day event counters of the app metadata row, checked against the engine's daily limits.
// Counters restart lazily: the first increment for another day replaces them all. A plain
// mutable object of the engine's worker queue; no lock.
#pragma once

#include <cstdint>
#include <string>

#include "platform/base/Value.h"

class MSRDailyCounts : public platform::Object {
 public:
  MSRDailyCounts(std::int32_t day, std::int32_t conversionsCount, std::int32_t allEventsCount,
                 std::int32_t publicEventsCount, std::int32_t errorEventsCount,
                 std::int32_t realtimeCount);

  void incrementCountsForCurrentDay(std::int32_t day, bool isPublicEvent, bool isConversion);
  // A conversion adds one whatever the effective count.
  void incrementCountsForCurrentDay(std::int32_t day, bool isPublicEvent, bool isConversion,
                                    std::int32_t byEffectiveEventCount);
  void incrementErrorEventsCountForCurrentDay(std::int32_t day);
  void incrementRealtimeCountsForCurrentDay(std::int32_t day);
  // Never below 0.
  void decrementAllEventsCount();
  void resetWithNewDay(std::int32_t day);

  std::int32_t day() const { return day_; }
  std::int32_t conversionsCount() const { return conversionsCount_; }
  std::int32_t allEventsCount() const { return allEventsCount_; }
  std::int32_t publicEventsCount() const { return publicEventsCount_; }
  std::int32_t errorEventsCount() const { return errorEventsCount_; }
  std::int32_t realtimeCount() const { return realtimeCount_; }

  std::string className() const override { return "MSRDailyCounts"; }

 private:
  std::int32_t day_;
  std::int32_t conversionsCount_;
  std::int32_t allEventsCount_;
  std::int32_t publicEventsCount_;
  std::int32_t errorEventsCount_;
  std::int32_t realtimeCount_;
};
