#include "platform/base/Error.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(ErrorTest, LocalizedDescriptionPrefersTheDescriptionKey) {
  auto plain = Error::make("com.tavo.test", 7);
  EXPECT_EQ(plain->localizedDescription(),
            "The operation couldn't be completed. (com.tavo.test error 7.)");
  auto described = Error::withDescription("com.tavo.test", 7, "Disk full");
  EXPECT_EQ(described->localizedDescription(), "Disk full");
  EXPECT_EQ(described->description(),
            "Error Domain=com.tavo.test Code=7 \"Disk full\" "
            "UserInfo={NSLocalizedDescription=Disk full}");
}

TEST(ErrorTest, EqualityByDomainCodeAndUserInfo) {
  EXPECT_EQ(Value(Error::make("d", 1, {{"k", 1}})), Value(Error::make("d", 1, {{"k", 1.0}})));
  EXPECT_NE(Value(Error::make("d", 1)), Value(Error::make("d", 2)));
  EXPECT_NE(Value(Error::make("d", 1)), Value(Error::make("e", 1)));
  EXPECT_NE(Value(Error::make("d", 1, {{"k", 1}})), Value(Error::make("d", 1)));
  ErrorPtr out;
  setError(&out, Error::make("d", 1));
  ASSERT_TRUE(out);
  setError(nullptr, Error::make("d", 1));  // a null out-parameter is allowed
}

TEST(ErrorTest, AssertionHandlerThrowsByDefaultAndIsReplaceable) {
  try {
    AssertionHandler::handleFailure("f", "file.cpp", 3, "broken");
    FAIL() << "expected an exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.name(), kInternalInconsistencyException);
    EXPECT_EQ(e.reason(), "broken");
  }
  std::vector<std::string> seen;
  auto previous =
      AssertionHandler::setHandler([&](const std::string& function, const std::string& file,
                                       int line, const std::string& description) {
        seen.push_back(function + "@" + file + ":" + std::to_string(line) + " " + description);
      });
  EXPECT_FALSE(previous);
  AssertionHandler::handleFailure("f", "file.cpp", 3, "broken");
  EXPECT_EQ(seen, std::vector<std::string>{"f@file.cpp:3 broken"});
  AssertionHandler::setHandler({});
  EXPECT_THROW(AssertionHandler::handleFailure("f", "x", 1, "again"), Exception);
}

}  // namespace
}  // namespace platform
