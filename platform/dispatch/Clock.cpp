#include "platform/dispatch/Clock.h"

#include <time.h>

#include <atomic>
#include <cmath>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/base/Saturating.h"
#include "platform/dispatch/DispatchInternal.h"

namespace platform {

namespace {

double readClock(clockid_t id) {
  timespec ts{};
  clock_gettime(id, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

long systemOffsetAt(double t) {
  if (!std::isfinite(t)) t = 0;
  // localtime_r may keep the zone it read first; tzset picks up a changed TZ.
  tzset();
  time_t secs = saturatingCast<time_t>(std::floor(t));
  tm local{};
  if (localtime_r(&secs, &local) == nullptr) return 0;
  return local.tm_gmtoff;
}

Clock& systemClock() {
  static auto* clock = new Clock;
  return *clock;
}

std::atomic<Clock*> gCurrent{nullptr};

std::mutex& currentMutex() {
  static auto* m = new std::mutex;
  return *m;
}

// Replaced clocks stay alive: callers may still hold the reference current() gave them.
std::vector<std::shared_ptr<Clock>>& retiredClocks() {
  static auto* v = new std::vector<std::shared_ptr<Clock>>;
  return *v;
}

}  // namespace

double Clock::now() const { return readClock(CLOCK_REALTIME); }
double Clock::uptime() const { return readClock(CLOCK_MONOTONIC); }
double Clock::bootTime() const {
  double boot = bootTime_.load(std::memory_order_acquire);
  if (!std::isnan(boot)) return boot;
  double expected = boot;
  // The first reading wins; a racing one is dropped, so every caller sees the same instant.
  bootTime_.compare_exchange_strong(expected, readBootTime(), std::memory_order_acq_rel);
  return bootTime_.load(std::memory_order_acquire);
}

double Clock::readBootTime() const {
  // The wall clock between two readings of the time since boot, repeated until the two agree to
  // a microsecond, so that the difference is not skewed by a preemption between the calls.
  double boot = 0;
  for (int attempt = 0; attempt < 10; ++attempt) {
    double before = readClock(CLOCK_BOOTTIME);
    double wall = readClock(CLOCK_REALTIME);
    double after = readClock(CLOCK_BOOTTIME);
    boot = wall - (before + after) / 2;
    if (after - before < 1e-6) break;
  }
  return boot;
}
long Clock::timeZoneOffset() const { return timeZoneOffsetAt(now()); }
long Clock::timeZoneOffsetAt(double secondsSince1970) const {
  return systemOffsetAt(secondsSince1970);
}

Clock& Clock::current() {
  Clock* clock = gCurrent.load(std::memory_order_acquire);
  return clock != nullptr ? *clock : systemClock();
}

void Clock::setCurrent(std::shared_ptr<Clock> clock) {
  std::lock_guard lock(currentMutex());
  Clock* next = clock ? clock.get() : &systemClock();
  if (clock) retiredClocks().push_back(clock);
  detail::TimerScheduler::shared().replaceClock([&] {
    double before = current().uptime();
    gCurrent.store(next == &systemClock() ? nullptr : next, std::memory_order_release);
    double after = next->uptime();
    return saturatingCast<std::int64_t>((after - before) * 1e9);
  });
}

struct FakeClock::State {
  mutable std::mutex mutex;
  double now;
  double uptime;
  double bootTime;
  BootTimeReading bootTimeReading = BootTimeReading::Recorded;
  std::optional<long> offset;
};

FakeClock::FakeClock(double now, double uptime) : state_(std::make_shared<State>()) {
  state_->now = now;
  state_->uptime = uptime;
  state_->bootTime = now - uptime;
}

double FakeClock::now() const {
  std::lock_guard lock(state_->mutex);
  return state_->now;
}

double FakeClock::uptime() const {
  std::lock_guard lock(state_->mutex);
  return state_->uptime;
}

double FakeClock::readBootTime() const {
  // Boot happened once; moving the wall clock does not move it, as on the real system where a
  // clock change leaves the recorded boot instant alone.
  std::lock_guard lock(state_->mutex);
  if (state_->bootTimeReading == BootTimeReading::NowMinusUptime) {
    return state_->now - state_->uptime;
  }
  return state_->bootTime;
}

long FakeClock::timeZoneOffset() const { return timeZoneOffsetAt(now()); }

long FakeClock::timeZoneOffsetAt(double secondsSince1970) const {
  {
    std::lock_guard lock(state_->mutex);
    if (state_->offset) return *state_->offset;
  }
  return systemOffsetAt(secondsSince1970);
}

void FakeClock::setNow(double now) {
  std::lock_guard lock(state_->mutex);
  state_->now = now;
}

void FakeClock::advance(double seconds) {
  if (!std::isfinite(seconds) || seconds < 0) return;
  {
    std::lock_guard lock(state_->mutex);
    state_->now += seconds;
    state_->uptime += seconds;
  }
  if (&Clock::current() == this) detail::TimerScheduler::shared().fireDue();
}

void FakeClock::suspend(double seconds) {
  if (!std::isfinite(seconds) || seconds < 0) return;
  std::lock_guard lock(state_->mutex);
  state_->now += seconds;
}

void FakeClock::setBootTimeReading(BootTimeReading reading) {
  std::lock_guard lock(state_->mutex);
  state_->bootTimeReading = reading;
}

void FakeClock::setTimeZoneOffset(long seconds) {
  std::lock_guard lock(state_->mutex);
  state_->offset = seconds;
}

long long localDayNumber(double secondsSince1970) {
  if (!std::isfinite(secondsSince1970)) return 0;
  double local =
      secondsSince1970 + static_cast<double>(Clock::current().timeZoneOffsetAt(secondsSince1970));
  return saturatingCast<long long>(std::floor(local / 86400.0));
}

bool isSameCalendarDay(double a, double b) {
  if (!std::isfinite(a) || !std::isfinite(b)) return false;
  return localDayNumber(a) == localDayNumber(b);
}

namespace detail {

bool systemClockIsCurrent() { return gCurrent.load(std::memory_order_acquire) == nullptr; }

}  // namespace detail

}  // namespace platform
