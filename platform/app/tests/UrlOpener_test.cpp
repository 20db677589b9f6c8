#include "platform/app/UrlOpener.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/app/Application.h"
#include "platform/app/tests/AppTestSupport.h"
#include "platform/testing/PlatformTest.h"

namespace platform::app {
namespace {

using platform::app::testing::readLines;
using platform::app::testing::writeExecutable;

class UrlOpenerTest : public platform::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    bin_ = home() / "bin";
    log_ = home() / "xdg-open.log";
    // Each argument on a line of its own; exit status 3 for one URL.
    writeExecutable(bin_ / "xdg-open",
                    "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\" >> '" + log_.string() +
                        "'; done\n[ \"$1\" = \"mailto:fail@x\" ] && exit 3\nexit 0\n");
    ::setenv("PATH", (bin_.string() + ":/usr/bin:/bin").c_str(), 1);
  }
  std::filesystem::path bin_, log_;
};

TEST_F(UrlOpenerTest, UrlReachesXdgOpenAsOneArgumentWithoutAShell) {
  const std::string url =
      "https://example.com/a?b='x';touch \"" + (home() / "pwned").string() + "\";c=$(id)&d=`id` e";
  bool done = false, opened = false;
  ASSERT_TRUE(UrlOpener::open(url, [&](bool ok) {
    done = true;
    opened = ok;
  }));
  ASSERT_TRUE(pumpUntil([&] { return done; }, 20));
  EXPECT_TRUE(opened);
  EXPECT_EQ(readLines(log_), std::vector<std::string>{url});
  EXPECT_FALSE(std::filesystem::exists(home() / "pwned"));
}

TEST_F(UrlOpenerTest, FailuresReachTheCompletionQuietly) {
  bool done = false, opened = true;
  UrlOpener::open("mailto:fail@x", [&](bool ok) {
    done = true;
    opened = ok;
  });
  ASSERT_TRUE(pumpUntil([&] { return done; }, 20));
  EXPECT_FALSE(opened);

  // Not URLs: never handed to the helper (a leading "-" would be read as an option).
  for (const std::string bad : {"", "--help", "-x:y", "no scheme", "http://a\nb", "1http://x"}) {
    done = false;
    opened = true;
    EXPECT_FALSE(UrlOpener::open(bad, [&](bool ok) {
      done = true;
      opened = ok;
    })) << bad;
    ASSERT_TRUE(pumpUntil([&] { return done; }));
    EXPECT_FALSE(opened);
  }
  EXPECT_EQ(readLines(log_), std::vector<std::string>{"mailto:fail@x"});
}

TEST_F(UrlOpenerTest, ApplicationOpensThroughMessageSend) {
  auto app = Application::sharedApplication();
  bool done = false;
  app->openURL("https://example.com/terms", {}, [&](bool ok) { done = ok; });
  ASSERT_TRUE(pumpUntil([&] { return done; }, 20));
  EXPECT_EQ(readLines(log_), std::vector<std::string>{"https://example.com/terms"});
}

TEST_F(UrlOpenerTest, MissingHelperIsSilent) {
  ::setenv("PATH", (home() / "nothing").c_str(), 1);
  bool done = false, opened = true;
  UrlOpener::open("https://example.com", [&](bool ok) {
    done = true;
    opened = ok;
  });
  ASSERT_TRUE(pumpUntil([&] { return done; }, 20));
  EXPECT_FALSE(opened);
}

}  // namespace
}  // namespace platform::app
