#include "platform/app/MailTransport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/app/AppConstants.h"
#include "platform/app/tests/AppTestSupport.h"
#include "platform/base/Files.h"
#include "platform/testing/PlatformTest.h"

namespace platform::app {
namespace {

using platform::app::testing::readAll;
using platform::app::testing::readLines;
using platform::app::testing::writeExecutable;

class MailTransportTest : public platform::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    bin_ = home() / "bin";
    std::filesystem::create_directories(bin_);
    // Only our folder: no sendmail of the machine is ever found.
    ::setenv("PATH", bin_.c_str(), 1);
    message_.from = "me@example.org";
    message_.to = {"support@tavo.example"};
    message_.subject = "Hi; $(rm -rf /) 'quoted'";
    message_.body = "Body line";
  }
  // A sendmail that records its arguments and its input, then exits with `status`.
  void installSendmail(int status) {
    writeExecutable(bin_ / "sendmail", "#!/bin/sh\nfor a in \"$@\"; do echo \"$a\" >> '" +
                                           (home() / "argv").string() + "'; done\n/bin/cat > '" +
                                           (home() / "stdin").string() + "'\nexit " +
                                           std::to_string(status) + "\n");
  }
  std::filesystem::path bin_;
  MailMessage message_;
};

TEST_F(MailTransportTest, CanSendMailFollowsTheConfiguredTransport) {
  EXPECT_FALSE(MailTransport::canSendMail());
  installSendmail(0);
  EXPECT_TRUE(MailTransport::canSendMail());
  std::filesystem::remove(bin_ / "sendmail");
  EXPECT_FALSE(MailTransport::canSendMail());
  setArguments({"-MailOutboxDirectory", (home() / "outbox").string()});
  EXPECT_TRUE(MailTransport::canSendMail());
  EXPECT_EQ(MailTransport::outboxDirectory(), home() / "outbox");
  // An option after it is not its folder, and an empty folder name is none.
  for (const auto& arguments :
       std::vector<std::vector<std::string>>{{"-MailOutboxDirectory", "-DeviceIdiom", "pad"},
                                             {"-MailOutboxDirectory"},
                                             {"-MailOutboxDirectory", ""}}) {
    setArguments(arguments);
    EXPECT_FALSE(MailTransport::outboxDirectory()) << arguments.size();
    EXPECT_FALSE(MailTransport::canSendMail()) << arguments.size();
  }
}

TEST_F(MailTransportTest, SendingWithoutTransportFails) {
  ErrorPtr error;
  EXPECT_FALSE(MailTransport::send(message_, &error));
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->domain(), kMailErrorDomain);
  EXPECT_EQ(error->code(), kMailNoTransportError);
}

TEST_F(MailTransportTest, OutboxGetsOneNewFilePerMessage) {
  setArguments({"-MailOutboxDirectory", (home() / "outbox").string()});
  std::filesystem::path first, second;
  ASSERT_TRUE(MailTransport::send(message_, nullptr, &first));
  ASSERT_TRUE(MailTransport::send(message_, nullptr, &second));  // same second, same name wanted
  EXPECT_NE(first, second);
  EXPECT_EQ(first.parent_path(), home() / "outbox");
  EXPECT_EQ(first.extension(), ".eml");
  const auto text = readAll(first);
  EXPECT_NE(text.find("To: support@tavo.example\r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\n\r\nBody line"), std::string::npos);
}

TEST_F(MailTransportTest, SendmailGetsTheMessageByArgvAndPipe) {
  installSendmail(0);
  ErrorPtr error;
  ASSERT_TRUE(MailTransport::send(message_, &error))
      << (error ? error->localizedDescription() : "");
  EXPECT_EQ(readLines(home() / "argv"), (std::vector<std::string>{"-t", "-i"}));
  const auto input = readAll(home() / "stdin");
  EXPECT_NE(input.find("Subject: Hi; $(rm -rf /) 'quoted'\n"), std::string::npos);
  EXPECT_EQ(input.find('\r'), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists("/nonexistent-marker"));
}

TEST_F(MailTransportTest, SendmailFailureIsReported) {
  installSendmail(75);
  ErrorPtr error;
  EXPECT_FALSE(MailTransport::send(message_, &error));
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->code(), kMailSendFailedError);
  EXPECT_NE(error->localizedDescription().find("75"), std::string::npos);
}

TEST_F(MailTransportTest, DraftsAreKeptInTheSandbox) {
  std::filesystem::path draft;
  ASSERT_TRUE(MailTransport::saveDraft(message_, nullptr, &draft));
  EXPECT_EQ(draft.parent_path(), SandboxHome::applicationSupport() / kMailDraftsFolder);
  EXPECT_NE(readAll(draft).find("Body line"), std::string::npos);
}

TEST_F(MailTransportTest, WriteNewFileNeverReplacesAFile) {
  const auto dir = home() / "Downloads";
  std::filesystem::create_directories(dir);
  std::vector<std::string> names;
  for (int i = 0; i < 3; ++i) {
    auto path = writeNewFile(dir, "clip.mp3", "copy" + std::to_string(i), nullptr);
    ASSERT_TRUE(path);
    names.push_back(path->filename().string());
  }
  EXPECT_EQ(names, (std::vector<std::string>{"clip.mp3", "clip 2.mp3", "clip 3.mp3"}));
  EXPECT_EQ(readAll(dir / "clip.mp3"), "copy0");
}

}  // namespace
}  // namespace platform::app
