// Time: wall time (seconds since 1970), uptime (monotonic seconds since boot), boot time and the
// local time-zone offset. Clock::current() is process-wide; tests install a FakeClock, which also
// drives every delayed block and timer of the dispatch layer deterministically. Thread-safe.
#pragma once

#include <memory>

namespace platform {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual double now() const;           // wall clock, seconds since 1970
  virtual double uptime() const;        // monotonic seconds since boot
  virtual double bootTime() const;      // now() - uptime() at boot, seconds since 1970
  virtual long timeZoneOffset() const;  // seconds east of UTC for now(), TZ honoured
  // Seconds east of UTC at the instant `secondsSince1970` (daylight saving differs by date).
  virtual long timeZoneOffsetAt(double secondsSince1970) const;

  static Clock& current();
  // Replaces the process-wide clock; null restores the system clock.
  static void setCurrent(std::shared_ptr<Clock> clock);
};

// A clock that moves only when told. Advancing it runs the dispatch layer's due delayed blocks
// and timers (they are handed to their queues before advance returns).
class FakeClock : public Clock {
 public:
  explicit FakeClock(double now = 1767225600.0 /* 2026-01-01T00:00:00Z */, double uptime = 1000.0);
  double now() const override;
  double uptime() const override;
  double bootTime() const override;
  long timeZoneOffset() const override;
  long timeZoneOffsetAt(double secondsSince1970) const override;

  void setNow(double now);  // moves wall time only (a clock change)
  // Moves wall time and uptime together; a negative or non-finite step is ignored.
  void advance(double seconds);
  // A fixed offset for every instant; until set, the process's TZ decides.
  void setTimeZoneOffset(long seconds);

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
