// A time snapshot of the event transport: wall-clock milliseconds, time-zone offset, the
// kernel's boot time and the uptime since it. Taken from platform::Clock::current(), so a
// FakeClock fixes it in tests. Immutable once made; safe to share between threads.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/base/Value.h"
#include "platform/runtime/KeyedArchiver.h"

class VDTCORClock : public platform::Object, public platform::SecureCoding {
 public:
  // A snapshot taken now (the same as `snapshot`).
  VDTCORClock();
  VDTCORClock(std::int64_t timeMillis, std::int64_t timezoneOffsetSeconds,
              std::int64_t kernelBootTimeNanoseconds, std::int64_t uptimeNanoseconds);

  static std::shared_ptr<VDTCORClock> snapshot();
  // A snapshot whose timeMillis is `millisInTheFuture` later; the other fields are now's.
  static std::shared_ptr<VDTCORClock> clockSnapshotInTheFuture(std::uint64_t millisInTheFuture);

  std::int64_t timeMillis() const { return timeMillis_; }
  std::int64_t timezoneOffsetSeconds() const { return timezoneOffsetSeconds_; }
  std::int64_t kernelBootTimeNanoseconds() const { return kernelBootTimeNanoseconds_; }
  std::int64_t uptimeNanoseconds() const { return uptimeNanoseconds_; }
  std::int64_t kernelBootTime() const { return kernelBootTimeNanoseconds_; }
  std::int64_t uptime() const { return uptimeNanoseconds_; }
  std::int64_t uptimeMilliseconds() const { return uptimeNanoseconds_ / 1000000; }

  // A clock of a later boot is after one of an earlier boot; within one boot, compares
  // timeMillis + timezoneOffsetSeconds as plain numbers (equal is not after).
  bool isAfter(const VDTCORClock& other) const;

  static bool supportsSecureCoding() { return true; }
  void encodeWithCoder(platform::KeyedArchiver& coder) const override;
  static std::shared_ptr<VDTCORClock> initWithCoder(platform::KeyedUnarchiver& coder);

  std::string className() const override { return "VDTCORClock"; }
  std::string description() const override;
  std::size_t hash() const override;
  bool isEqual(const platform::Object& other) const override;

 private:
  std::int64_t timeMillis_ = 0;
  std::int64_t timezoneOffsetSeconds_ = 0;
  std::int64_t kernelBootTimeNanoseconds_ = 0;
  std::int64_t uptimeNanoseconds_ = 0;
};
using VDTCORClockPtr = std::shared_ptr<VDTCORClock>;
