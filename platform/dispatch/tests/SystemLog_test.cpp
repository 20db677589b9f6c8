#include "platform/dispatch/SystemLog.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(SystemLogTest, CaptureReceivesLinesWithLevelAndEchoRequest) {
  SystemLogCapture capture;
  SystemLog::write(LogLevel::Error, "disk full", true);
  SystemLog::write(LogLevel::Debug, "detail");
  auto lines = capture.lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].level, LogLevel::Error);
  EXPECT_EQ(lines[0].message, "disk full");
  EXPECT_TRUE(lines[0].toStandardError);
  EXPECT_EQ(lines[1].level, LogLevel::Debug);
  EXPECT_FALSE(lines[1].toStandardError);
  EXPECT_EQ(lines[0].facility, "");  // written by no client
  EXPECT_TRUE(capture.contains("full"));
  capture.clear();
  EXPECT_TRUE(capture.lines().empty());
}

TEST(SystemLogTest, NumericLevelsAreClampedToErrorThroughDebug) {
  SystemLogCapture capture;
  const std::pair<int, LogLevel> cases[] = {{0, LogLevel::Error},  {3, LogLevel::Error},
                                            {5, LogLevel::Notice}, {7, LogLevel::Debug},
                                            {99, LogLevel::Debug}, {-4, LogLevel::Error}};
  for (const auto& [raw, expected] : cases) SystemLog::write(raw, "x");
  auto lines = capture.lines();
  ASSERT_EQ(lines.size(), std::size(cases));
  for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i].level, cases[i].second) << i;
}

TEST(SystemLogTest, InnermostCaptureReceivesAndOuterResumesAfterIt) {
  SystemLogCapture outer;
  {
    SystemLogCapture inner;
    SystemLog::write(LogLevel::Info, "inner");
    EXPECT_TRUE(inner.contains("inner"));
  }
  SystemLog::write(LogLevel::Info, "outer");
  EXPECT_FALSE(outer.contains("inner"));
  EXPECT_TRUE(outer.contains("outer"));
}

TEST(SystemLogTest, AClientWritesUnderItsFacilityAndMirrorsOnceAsked) {
  SystemLogCapture capture;
  SystemLogClient client("com.example.part", false);
  EXPECT_EQ(client.facility(), "com.example.part");
  client.write(LogLevel::Notice, "quiet");
  client.mirrorToStandardError();
  client.write(99, "loud");
  auto lines = capture.lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].facility, "com.example.part");
  EXPECT_EQ(lines[0].message, "quiet");
  EXPECT_EQ(lines[0].level, LogLevel::Notice);
  EXPECT_FALSE(lines[0].toStandardError);
  EXPECT_EQ(lines[1].facility, "com.example.part");
  EXPECT_EQ(lines[1].level, LogLevel::Debug);
  EXPECT_TRUE(lines[1].toStandardError);
  EXPECT_TRUE(SystemLogClient("com.example.loud", true).mirrorsToStandardError());
}

TEST(SystemLogTest, EchoGoesToStandardErrorWhenAsked) {
  ::testing::internal::CaptureStderr();
  SystemLog::write(LogLevel::Warning, "visible line", true);
  SystemLog::write(LogLevel::Warning, "syslog only");
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "visible line\n");  // as given, one line
  EXPECT_EQ(err.find("syslog only"), std::string::npos);
}

}  // namespace
}  // namespace platform
