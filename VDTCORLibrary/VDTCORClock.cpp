#include "VDTCORLibrary/VDTCORClock.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "VDTCORLibrary/VDTCORConstants.h"
#include "platform/base/Format.h"
#include "platform/base/Saturating.h"
#include "platform/dispatch/Clock.h"

namespace {

std::int64_t toNanoseconds(double seconds) {
  // Microsecond resolution, as the boot-time and wall-clock readings give it.
  return platform::saturatingMultiply<std::int64_t>(
      platform::saturatingCast<std::int64_t>(seconds * 1e6), 1000);
}

platform::ArchiveDecoderRegistrar clockDecoder(kVDTCORClockClassName,
                                               [](platform::KeyedUnarchiver& coder) {
                                                 return std::static_pointer_cast<platform::Object>(
                                                     VDTCORClock::initWithCoder(coder));
                                               });

}  // namespace

VDTCORClock::VDTCORClock() {
  const platform::Clock& clock = platform::Clock::current();
  double boot = clock.bootTime();
  double now = clock.now();
  kernelBootTimeNanoseconds_ = boot > 0 ? toNanoseconds(boot) : 0;
  uptimeNanoseconds_ = platform::saturatingAdd(toNanoseconds(now), -kernelBootTimeNanoseconds_);
  timeMillis_ = platform::secondsToMilliseconds(now);
  timezoneOffsetSeconds_ = clock.timeZoneOffset();
}

VDTCORClock::VDTCORClock(std::int64_t timeMillis, std::int64_t timezoneOffsetSeconds,
                         std::int64_t kernelBootTimeNanoseconds, std::int64_t uptimeNanoseconds)
    : timeMillis_(timeMillis),
      timezoneOffsetSeconds_(timezoneOffsetSeconds),
      kernelBootTimeNanoseconds_(kernelBootTimeNanoseconds),
      uptimeNanoseconds_(uptimeNanoseconds) {}

std::shared_ptr<VDTCORClock> VDTCORClock::snapshot() { return std::make_shared<VDTCORClock>(); }

std::shared_ptr<VDTCORClock> VDTCORClock::clockSnapshotInTheFuture(std::uint64_t millis) {
  // However long the wait, the result stays the latest time there is, never one in the past.
  auto clock = snapshot();
  const auto wait = static_cast<std::int64_t>(
      std::min<std::uint64_t>(millis, std::numeric_limits<std::int64_t>::max()));
  clock->timeMillis_ = platform::saturatingAdd(clock->timeMillis_, wait);
  return clock;
}

bool VDTCORClock::isAfter(const VDTCORClock& other) const {
  if (kernelBootTimeNanoseconds_ != other.kernelBootTimeNanoseconds_) {
    return other.kernelBootTimeNanoseconds_ < kernelBootTimeNanoseconds_;
  }
  return platform::saturatingAdd(timeMillis_, timezoneOffsetSeconds_) >
         platform::saturatingAdd(other.timeMillis_, other.timezoneOffsetSeconds_);
}

void VDTCORClock::encodeWithCoder(platform::KeyedArchiver& coder) const {
  coder.encodeInt64(timeMillis_, kVDTCORClockTimeMillisKey);
  coder.encodeInt64(timezoneOffsetSeconds_, kVDTCORClockTimezoneOffsetSecondsKey);
  coder.encodeInt64(kernelBootTimeNanoseconds_, kVDTCORClockKernelBootTimeKey);
  coder.encodeInt64(uptimeNanoseconds_, kVDTCORClockUptimeKey);
}

std::shared_ptr<VDTCORClock> VDTCORClock::initWithCoder(platform::KeyedUnarchiver& coder) {
  return std::make_shared<VDTCORClock>(coder.decodeInt64(kVDTCORClockTimeMillisKey),
                                       coder.decodeInt64(kVDTCORClockTimezoneOffsetSecondsKey),
                                       coder.decodeInt64(kVDTCORClockKernelBootTimeKey),
                                       coder.decodeInt64(kVDTCORClockUptimeKey));
}

std::string VDTCORClock::description() const {
  return platform::format("<VDTCORClock: timeMillis:%lld tz:%lld boot:%lld uptime:%lld>",
                          timeMillis_, timezoneOffsetSeconds_, kernelBootTimeNanoseconds_,
                          uptimeNanoseconds_);
}

std::size_t VDTCORClock::hash() const {
  return platform::Value(static_cast<long long>(timeMillis_)).hash() ^
         platform::Value(static_cast<long long>(timezoneOffsetSeconds_)).hash() ^
         platform::Value(static_cast<long long>(kernelBootTimeNanoseconds_)).hash() ^
         platform::Value(static_cast<long long>(uptimeNanoseconds_)).hash();
}

bool VDTCORClock::isEqual(const platform::Object& other) const {
  return dynamic_cast<const VDTCORClock*>(&other) && hash() == other.hash();
}
