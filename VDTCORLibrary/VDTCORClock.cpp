#include "VDTCORLibrary/VDTCORClock.h"

#include <cmath>

#include "VDTCORLibrary/VDTCORConstants.h"
#include "platform/base/Format.h"
#include "platform/dispatch/Clock.h"

namespace {

std::int64_t toNanoseconds(double seconds) {
  // Microsecond resolution, as the boot-time and wall-clock readings give it.
  return static_cast<std::int64_t>(std::trunc(seconds * 1e6)) * 1000;
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
  uptimeNanoseconds_ = toNanoseconds(now) - kernelBootTimeNanoseconds_;
  timeMillis_ = static_cast<std::int64_t>(now * 1000.0);
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
  auto clock = snapshot();
  clock->timeMillis_ += static_cast<std::int64_t>(millis);
  return clock;
}

bool VDTCORClock::isAfter(const VDTCORClock& other) const {
  if (kernelBootTimeNanoseconds_ != other.kernelBootTimeNanoseconds_) {
    return other.kernelBootTimeNanoseconds_ < kernelBootTimeNanoseconds_;
  }
  return timeMillis_ + timezoneOffsetSeconds_ > other.timeMillis_ + other.timezoneOffsetSeconds_;
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
