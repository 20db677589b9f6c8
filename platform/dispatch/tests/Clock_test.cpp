#include "platform/dispatch/Clock.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

namespace platform {
namespace {

// Sets TZ for one test; each test runs in its own process.
void setZone(const char* zone) {
  setenv("TZ", zone, 1);
  tzset();
}

TEST(ClockTest, SystemClockReadsTheMachine) {
  Clock& clock = Clock::current();
  double wall = static_cast<double>(std::time(nullptr));
  EXPECT_NEAR(clock.now(), wall, 2.0);
  double up1 = clock.uptime();
  double up2 = clock.uptime();
  EXPECT_GT(up1, 0);
  EXPECT_LE(up1, up2);
  EXPECT_NEAR(clock.bootTime(), clock.now() - clock.uptime(), 1.0);
}

TEST(ClockTest, FakeClockMovesOnlyWhenTold) {
  auto fake = std::make_shared<FakeClock>(1000000.0, 50.0);
  Clock::setCurrent(fake);
  EXPECT_EQ(&Clock::current(), fake.get());
  EXPECT_DOUBLE_EQ(Clock::current().now(), 1000000.0);
  EXPECT_DOUBLE_EQ(Clock::current().uptime(), 50.0);
  EXPECT_DOUBLE_EQ(fake->bootTime(), 1000000.0 - 50.0);

  fake->advance(2.5);
  EXPECT_DOUBLE_EQ(fake->now(), 1000002.5);
  EXPECT_DOUBLE_EQ(fake->uptime(), 52.5);
  EXPECT_DOUBLE_EQ(fake->bootTime(), 1000000.0 - 50.0);

  fake->setNow(10.0);  // a wall-clock change leaves uptime alone
  EXPECT_DOUBLE_EQ(fake->now(), 10.0);
  EXPECT_DOUBLE_EQ(fake->uptime(), 52.5);

  for (double bad :
       {-1.0, std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()}) {
    fake->advance(bad);
  }
  EXPECT_DOUBLE_EQ(fake->uptime(), 52.5);

  Clock::setCurrent(nullptr);
  EXPECT_NE(&Clock::current(), fake.get());
  EXPECT_NEAR(Clock::current().now(), static_cast<double>(std::time(nullptr)), 2.0);
}

// A suspend moves the wall clock and not the uptime. However the boot instant is read (fixed, or
// as the machine reports it: the wall clock minus the uptime), it is one value for the clock's
// life, through suspends and wall-clock steps alike.
TEST(ClockTest, TheBootTimeIsOneValueThroughSuspendsAndClockSteps) {
  using Reading = FakeClock::BootTimeReading;
  for (Reading reading : {Reading::Recorded, Reading::NowMinusUptime}) {
    SCOPED_TRACE(reading == Reading::Recorded ? "recorded" : "now minus uptime");
    auto fake = std::make_shared<FakeClock>(1000000.0, 50.0);
    fake->setBootTimeReading(reading);
    const double boot = fake->bootTime();
    EXPECT_DOUBLE_EQ(boot, 1000000.0 - 50.0);
    fake->suspend(600);
    EXPECT_DOUBLE_EQ(fake->now(), 1000600.0);
    EXPECT_DOUBLE_EQ(fake->uptime(), 50.0);
    EXPECT_DOUBLE_EQ(fake->bootTime(), boot);
    fake->setNow(fake->now() - 2);
    EXPECT_DOUBLE_EQ(fake->bootTime(), boot);
    fake->advance(10);
    EXPECT_DOUBLE_EQ(fake->bootTime(), boot);
    for (double bad : {-1.0, std::numeric_limits<double>::quiet_NaN()}) fake->suspend(bad);
    EXPECT_DOUBLE_EQ(fake->now(), 1000608.0);
  }
  // The machine's own clock: one value however often it is asked.
  Clock& system = Clock::current();
  const double boot = system.bootTime();
  EXPECT_GT(boot, 0);
  EXPECT_EQ(system.bootTime(), boot);
}

TEST(ClockTest, TimeZoneOffsetFollowsTZ) {
  setZone("UTC");
  EXPECT_EQ(Clock::current().timeZoneOffset(), 0);
  setZone("Asia/Tokyo");
  EXPECT_EQ(Clock::current().timeZoneOffset(), 9 * 3600);
  setZone("America/New_York");
  // Daylight saving: winter and summer instants differ.
  EXPECT_EQ(Clock::current().timeZoneOffsetAt(1767225600.0), -5 * 3600);  // 2026-01-01
  EXPECT_EQ(Clock::current().timeZoneOffsetAt(1782864000.0), -4 * 3600);  // 2026-07-01

  FakeClock fake;
  EXPECT_EQ(fake.timeZoneOffset(), -5 * 3600);  // its own now, in the process's zone
  fake.setTimeZoneOffset(3600);
  EXPECT_EQ(fake.timeZoneOffset(), 3600);
  EXPECT_EQ(fake.timeZoneOffsetAt(1782864000.0), 3600);
}

TEST(ClockTest, SameCalendarDayIsJudgedInTheLocalZone) {
  const double midnightUtc = 1767225600.0;  // 2026-01-01T00:00:00Z
  struct Case {
    const char* zone;
    double a;
    double b;
    bool same;
  };
  const Case cases[] = {
      {"UTC", midnightUtc, midnightUtc + 86399, true},
      {"UTC", midnightUtc - 1, midnightUtc, false},
      {"UTC", midnightUtc, midnightUtc + 86400, false},
      // 23:30 and 00:30 UTC are both on Jan 1 in Tokyo (08:30, 09:30).
      {"Asia/Tokyo", midnightUtc - 1800, midnightUtc + 1800, true},
      // ... but in New York they are both on Dec 31 (18:30, 19:30).
      {"America/New_York", midnightUtc - 1800, midnightUtc + 1800, true},
      // New York midnight is 05:00 UTC.
      {"America/New_York", midnightUtc + 5 * 3600 - 1, midnightUtc + 5 * 3600, false},
      {"UTC", midnightUtc + 100, midnightUtc + 100 - 365 * 86400.0, false},
  };
  for (const auto& c : cases) {
    setZone(c.zone);
    EXPECT_EQ(isSameCalendarDay(c.a, c.b), c.same) << c.zone << " " << c.a << " " << c.b;
    EXPECT_EQ(isSameCalendarDay(c.b, c.a), c.same);
  }
  EXPECT_FALSE(isSameCalendarDay(std::numeric_limits<double>::quiet_NaN(), midnightUtc));
}

TEST(ClockTest, SameCalendarDayUsesAFakeClocksFixedOffset) {
  setZone("UTC");
  auto fake = std::make_shared<FakeClock>();
  fake->setTimeZoneOffset(-3600);  // one hour west: UTC midnight is 23:00 the day before
  Clock::setCurrent(fake);
  const double midnightUtc = 1767225600.0;
  EXPECT_TRUE(isSameCalendarDay(midnightUtc - 7200, midnightUtc + 1800));
  EXPECT_FALSE(isSameCalendarDay(midnightUtc + 1800, midnightUtc + 3600));
  EXPECT_EQ(localDayNumber(midnightUtc + 3600), 20454);  // 2026-01-01 as days since 1970
}

}  // namespace
}  // namespace platform
