// Time: wall time (seconds since 1970), uptime (monotonic seconds since boot), boot time and the
// local time-zone offset. Clock::current() is process-wide; tests install a FakeClock, which also
// drives every delayed block and timer of the dispatch layer deterministically. Thread-safe.
#pragma once

#include <atomic>
#include <limits>
#include <memory>

namespace platform {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual double now() const;     // wall clock, seconds since 1970
  virtual double uptime() const;  // monotonic seconds since boot (a suspend not counted)
  // The instant the system booted, seconds since 1970, read once per clock: every reading of
  // one boot agrees, however the wall clock is set or the machine sleeps afterwards.
  double bootTime() const;
  virtual long timeZoneOffset() const;  // seconds east of UTC for now(), TZ honoured
  // Seconds east of UTC at the instant `secondsSince1970` (daylight saving differs by date).
  virtual long timeZoneOffsetAt(double secondsSince1970) const;

  static Clock& current();
  // Replaces the process-wide clock; null restores the system clock.
  static void setCurrent(std::shared_ptr<Clock> clock);

 protected:
  // A fresh reading of the boot instant: the wall clock minus the time since boot, suspends
  // included, which is how the kernel keeps it (so it moves with every clock change).
  virtual double readBootTime() const;

 private:
  mutable std::atomic<double> bootTime_{std::numeric_limits<double>::quiet_NaN()};
};

// A clock that moves only when told. Advancing it runs the dispatch layer's due delayed blocks
// and timers (they are handed to their queues before advance returns).
class FakeClock : public Clock {
 public:
  explicit FakeClock(double now = 1767225600.0 /* 2026-01-01T00:00:00Z */, double uptime = 1000.0);
  double now() const override;
  double uptime() const override;
  long timeZoneOffset() const override;
  long timeZoneOffsetAt(double secondsSince1970) const override;

  void setNow(double now);  // moves wall time only (a clock change)
  // Moves wall time and uptime together; a negative or non-finite step is ignored.
  void advance(double seconds);
  // The machine sleeps: wall time moves on, uptime (which does not count a suspend) stays.
  // A negative or non-finite span is ignored.
  void suspend(double seconds);

  // How the boot instant reads: Recorded, the instant at construction (now - uptime then);
  // NowMinusUptime, as a machine computes it at each reading (so it moves with every suspend and
  // clock change).
  enum class BootTimeReading { Recorded, NowMinusUptime };
  void setBootTimeReading(BootTimeReading reading);
  // A fixed offset for every instant; until set, the process's TZ decides.
  void setTimeZoneOffset(long seconds);

 protected:
  double readBootTime() const override;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

// True when both instants fall on the same calendar day in the local time zone (as
// Clock::current() reports it, so a FakeClock's fixed offset counts).
bool isSameCalendarDay(double a, double b);
// Days since 1970-01-01 of the local calendar day holding the instant.
long long localDayNumber(double secondsSince1970);

}  // namespace platform
