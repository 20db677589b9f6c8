#include "measurement/storage/MSRDailyCounts.h"

namespace {
// Counters wrap like the 32-bit integers they are stored as, without undefined overflow.
std::int32_t add(std::int32_t a, std::int32_t b) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}
}  // namespace

MSRDailyCounts::MSRDailyCounts(std::int32_t day, std::int32_t conversionsCount,
                               std::int32_t allEventsCount, std::int32_t publicEventsCount,
                               std::int32_t errorEventsCount, std::int32_t realtimeCount)
    : day_(day),
      conversionsCount_(conversionsCount),
      allEventsCount_(allEventsCount),
      publicEventsCount_(publicEventsCount),
      errorEventsCount_(errorEventsCount),
      realtimeCount_(realtimeCount) {}

void MSRDailyCounts::incrementCountsForCurrentDay(std::int32_t day, bool isPublicEvent,
                                                  bool isConversion) {
  incrementCountsForCurrentDay(day, isPublicEvent, isConversion, 1);
}

void MSRDailyCounts::incrementCountsForCurrentDay(std::int32_t day, bool isPublicEvent,
                                                  bool isConversion,
                                                  std::int32_t byEffectiveEventCount) {
  if (day != day_) resetWithNewDay(day);
  allEventsCount_ = add(allEventsCount_, byEffectiveEventCount);
  if (isPublicEvent) publicEventsCount_ = add(publicEventsCount_, byEffectiveEventCount);
  if (isConversion) conversionsCount_ = add(conversionsCount_, 1);
}

void MSRDailyCounts::incrementErrorEventsCountForCurrentDay(std::int32_t day) {
  if (day != day_) resetWithNewDay(day);
  allEventsCount_ = add(allEventsCount_, 1);
  errorEventsCount_ = add(errorEventsCount_, 1);
}

void MSRDailyCounts::incrementRealtimeCountsForCurrentDay(std::int32_t day) {
  if (day != day_) resetWithNewDay(day);
  realtimeCount_ = add(realtimeCount_, 1);
}

void MSRDailyCounts::decrementAllEventsCount() {
  allEventsCount_ = allEventsCount_ > 0 ? allEventsCount_ - 1 : 0;
}

void MSRDailyCounts::resetWithNewDay(std::int32_t day) {
  day_ = day;
  conversionsCount_ = 0;
  allEventsCount_ = 0;
  publicEventsCount_ = 0;
  errorEventsCount_ = 0;
  realtimeCount_ = 0;
}
