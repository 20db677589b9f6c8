#include "email_composer/EmailComposer.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/app/AppConstants.h"
#include "platform/app/MailComposeController.h"
#include "platform/app/MailTransport.h"
#include "platform/base/Files.h"
#include "platform/testing/PlatformTest.h"
#include "platform/ui/UI.h"

namespace {

using namespace platform::ui;
using platform::app::MailComposeController;
using platform::app::MailComposeResult;
namespace fs = std::filesystem;

// What the caller's handlers saw, in order, with the caller's flag at each moment.
struct Recorder {
  std::vector<std::string> events;
  std::vector<EmailComposerOutcome> outcomes;
  Binding<bool> flag;
  bool flagValue() const { return flag.get(); }
};

std::string describe(const EmailComposerOutcome& outcome) {
  if (!outcome.isSuccess()) return "failure";
  return email_composer::description(outcome.result());
}

// A screen with one button that raises its flag, and a composer attached to it.
struct ComposerScreen {
  std::shared_ptr<Recorder> recorder;
  std::optional<EmailData> mail;
  bool customFallback = false;
  bool withResultHandler = true;

  View body() const {
    auto shown = state(false);
    recorder->flag = shown.binding();
    auto rec = recorder;
    View button = Button("Open", [shown] { shown.set(true); });
    auto onDismiss = [rec] {
      rec->events.push_back(std::string("onDismiss flag=") + (rec->flagValue() ? "up" : "down"));
    };
    EmailComposerResultHandler result;
    if (withResultHandler) {
      result = [rec](const EmailComposerOutcome& outcome) {
        rec->outcomes.push_back(outcome);
        rec->events.push_back("result " + describe(outcome) +
                              " flag=" + (rec->flagValue() ? "up" : "down"));
      };
    }
    if (customFallback) {
      return emailComposer(button, shown.binding(), mail, onDismiss, result,
                           DeviceCannotSendEmailsView([] { return Text("No mail here"); }));
    }
    return emailComposer(button, shown.binding(), mail, onDismiss, result);
  }
};

class EmailComposerTest : public platform::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    // No sendmail can be found: only the outbox folder, when configured, makes mail sendable.
    emptyPath_ = home() / "empty-path";
    fs::create_directories(emptyPath_);
    ::setenv("PATH", emptyPath_.c_str(), 1);
    outbox_ = home() / "outbox";
  }

  void enableMail() {
    setArguments({std::string("-") + platform::app::kMailOutboxArgument, outbox_.string()});
  }

  std::unique_ptr<TestHost> show(ComposerScreen screen) {
    screen.recorder = recorder_;
    return std::make_unique<TestHost>(View(screen));
  }

  void open(TestHost& host) {
    auto button = host.findText("Open");
    ASSERT_TRUE(button);
    host.tap(*button);
    host.pump();
  }

  // Opens the composer with the outbox path a plain file and taps Send, so that sending fails
  // with the transport's error; returns once the outcome has arrived (null when it never did).
  std::unique_ptr<TestHost> showAfterAFailedSend() {
    enableMail();
    platform::ErrorPtr error;
    EXPECT_TRUE(platform::files::writeAtomically(outbox_, "not a folder", &error));
    auto host = show({.recorder = nullptr,
                      .mail = EmailData("S", std::vector<std::string>{"a@x.example"}, "B")});
    open(*host);
    host->tap(*host->findText(platform::app::kMailSendTitle));
    if (!waitFor(*host, [&] { return !recorder_->outcomes.empty(); })) return nullptr;
    return host;
  }

  bool waitFor(TestHost& host, const std::function<bool()>& done) {
    return pumpUntil([&] {
      host.pump();
      return done();
    });
  }

  std::vector<fs::path> filesIn(const fs::path& dir) {
    std::vector<fs::path> found;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec)) found.push_back(entry.path());
    return found;
  }

  std::shared_ptr<Recorder> recorder_ = std::make_shared<Recorder>();
  fs::path emptyPath_;
  fs::path outbox_;
};

TEST_F(EmailComposerTest, ComposerIsPrefilledFromTheMail) {
  enableMail();
  auto host = show({.recorder = nullptr,
                    .mail = EmailData("Greetings", std::vector<std::string>{"a@x.example"},
                                      "Hello there", false, {})});
  open(*host);
  ASSERT_EQ(host->sheetCount(), 1u);
  EXPECT_TRUE(host->findText("Greetings"));
  EXPECT_TRUE(host->findText("a@x.example"));
  EXPECT_TRUE(host->findText("Hello there"));
  EXPECT_TRUE(host->findText(platform::app::kMailSendTitle));
}

TEST_F(EmailComposerTest, EachWayOfFinishingReportsThenClosesThenLowersTheFlagThenDismisses) {
  struct Case {
    const char* button;
    const char* expectedResult;
  };
  const Case cases[] = {
      {platform::app::kMailCancelTitle, "Cancelled"},
      {platform::app::kMailSaveTitle, "Saved"},
      {platform::app::kMailSendTitle, "Sent"},
  };
  enableMail();
  auto host = show(
      {.recorder = nullptr, .mail = EmailData("S", std::vector<std::string>{"a@x.example"}, "B")});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.button);
    recorder_->events.clear();
    open(*host);
    ASSERT_EQ(host->sheetCount(), 1u);
    auto button = host->findText(c.button);
    ASSERT_TRUE(button);
    host->tap(*button);
    ASSERT_TRUE(waitFor(*host, [&] { return recorder_->events.size() == 2; }));
    EXPECT_EQ(recorder_->events,
              (std::vector<std::string>{std::string("result ") + c.expectedResult + " flag=up",
                                        "onDismiss flag=down"}));
    EXPECT_EQ(host->sheetCount(), 0u);
    EXPECT_FALSE(recorder_->flagValue());
  }
  // The sent mail really left through the outbox, and the saved one is a draft.
  EXPECT_EQ(filesIn(outbox_).size(), 1u);
  EXPECT_EQ(filesIn(platform::app::MailTransport::draftsDirectory()).size(), 1u);
}

TEST_F(EmailComposerTest, AnErrorIsPassedOnUnchangedAndTheSheetStaysUp) {
  auto host = showAfterAFailedSend();
  ASSERT_TRUE(host);
  host->pump();
  ASSERT_EQ(recorder_->outcomes.size(), 1u);
  const auto& outcome = recorder_->outcomes[0];
  ASSERT_FALSE(outcome.isSuccess());
  EXPECT_EQ(outcome.error()->domain(), platform::app::kMailErrorDomain);
  EXPECT_EQ(host->sheetCount(), 1u);
  EXPECT_TRUE(recorder_->flagValue());
  EXPECT_EQ(recorder_->events, (std::vector<std::string>{"result failure flag=up"}));

  // Swiping it away still lowers the flag and runs onDismiss.
  EXPECT_TRUE(host->dismissSheet());
  host->pump();
  EXPECT_EQ(recorder_->events.back(), "onDismiss flag=down");
  EXPECT_FALSE(recorder_->flagValue());
}

TEST_F(EmailComposerTest, AfterAFailedSendTheSheetSaysSoAndSavingThenReportsAndCloses) {
  auto host = showAfterAFailedSend();
  ASSERT_TRUE(host);
  EXPECT_TRUE(host->findText(platform::app::kMailSendFailedMessage));
  EXPECT_EQ(host->sheetCount(), 1u);

  auto save = host->findText(platform::app::kMailSaveTitle);
  ASSERT_TRUE(save);
  EXPECT_TRUE(host->tap(*save));
  ASSERT_TRUE(waitFor(*host, [&] { return recorder_->events.size() == 3; }));
  EXPECT_EQ(recorder_->events,
            (std::vector<std::string>{"result failure flag=up", "result Saved flag=up",
                                      "onDismiss flag=down"}));
  EXPECT_EQ(host->sheetCount(), 0u);
  EXPECT_EQ(filesIn(platform::app::MailTransport::draftsDirectory()).size(), 1u);
}

TEST_F(EmailComposerTest, WithoutMailTheDefaultFallbackShowsAndDismisses) {
  auto host = show({.recorder = nullptr, .mail = EmailData("S")});
  open(*host);
  ASSERT_EQ(host->sheetCount(), 1u);
  EXPECT_FALSE(host->findText(platform::app::kMailSendTitle));
  auto message = host->findText("Unable to send emails from this device.");
  auto dismiss = host->findText("Dismiss");
  ASSERT_TRUE(message);
  ASSERT_TRUE(dismiss);
  EXPECT_LT(message->frame().y, dismiss->frame().y);

  host->tap(*dismiss);
  host->pump();
  EXPECT_EQ(host->sheetCount(), 0u);
  // The fallback reports nothing; only the sheet's dismiss action ran.
  EXPECT_EQ(recorder_->events, (std::vector<std::string>{"onDismiss flag=down"}));

  open(*host);
  EXPECT_EQ(host->sheetCount(), 1u);
}

TEST_F(EmailComposerTest, WithoutMailTheCallersFallbackIsShown) {
  auto host = show({.recorder = nullptr, .mail = EmailData("S"), .customFallback = true});
  open(*host);
  EXPECT_TRUE(host->findText("No mail here"));
  EXPECT_FALSE(host->findText("Dismiss"));
  EXPECT_TRUE(recorder_->outcomes.empty());
}

TEST_F(EmailComposerTest, WithoutAHandlerOutcomesAreDroppedAndTheSheetStillCloses) {
  enableMail();
  auto host = show({.recorder = nullptr, .mail = std::nullopt, .withResultHandler = false});
  open(*host);
  host->tap(*host->findText(platform::app::kMailCancelTitle));
  ASSERT_TRUE(waitFor(*host, [&] { return host->sheetCount() == 0; }));
  EXPECT_EQ(recorder_->events, (std::vector<std::string>{"onDismiss flag=down"}));
}

// The caller's mail comes from a model the screen observes.
class MailSource : public ObservableObject {
 public:
  Published<std::string> subject{this, "First"};
};

struct ChangingMailScreen {
  std::shared_ptr<MailSource> source;
  View body() const {
    auto shown = state(false);
    auto model = observedObject(source);
    return emailComposer(
        Button("Open", [shown] { shown.set(true); }), shown.binding(),
        EmailData(model->subject.get()), [] {}, nullptr);
  }
};

TEST_F(EmailComposerTest, ChangingTheCallersMailWhileTheComposerIsUpKeepsThePrefill) {
  enableMail();
  auto source = std::make_shared<MailSource>();
  TestHost host(View(ChangingMailScreen{source}));
  open(host);
  ASSERT_TRUE(host.findText("First"));
  source->subject.set("Second");
  host.pump();
  EXPECT_TRUE(host.findText("First"));
  EXPECT_FALSE(host.findText("Second"));
  // The next presentation takes the new mail.
  host.tap(*host.findText(platform::app::kMailCancelTitle));
  ASSERT_TRUE(waitFor(host, [&] { return host.sheetCount() == 0; }));
  open(host);
  EXPECT_TRUE(host.findText("Second"));
}

TEST_F(EmailComposerTest, SentMailReachesSendmailAsOneMessageOnItsInputNeverThroughAShell) {
  // A sendmail that records its arguments and the message it is fed.
  const fs::path args = home() / "sendmail-args.txt";
  const fs::path input = home() / "sendmail-input.txt";
  {
    std::ofstream script(emptyPath_ / "sendmail");
    script << "#!/bin/sh\nfor a in \"$@\"; do echo \"$a\"; done > '" << args.string()
           << "'\n/bin/cat > '" << input.string() << "'\n";
  }
  fs::permissions(emptyPath_ / "sendmail", fs::perms::owner_all);
  ASSERT_TRUE(MailComposeController::canSendMail());

  const fs::path marker = home() / "pwned";
  const std::string hostile =
      "Hi $(touch " + marker.string() + "); `touch " + marker.string() + "` ' \" | & ;";
  auto host = show({.recorder = nullptr,
                    .mail = EmailData(hostile, std::vector<std::string>{"a@x.example"}, hostile)});
  open(*host);
  host->tap(*host->findText(platform::app::kMailSendTitle));
  ASSERT_TRUE(waitFor(*host, [&] { return !recorder_->outcomes.empty(); }));
  ASSERT_TRUE(recorder_->outcomes[0].isSuccess());
  EXPECT_EQ(recorder_->outcomes[0].result(), EmailComposerResult::sent);

  std::ifstream argsIn(args);
  std::stringstream argsText;
  argsText << argsIn.rdbuf();
  EXPECT_EQ(argsText.str(), "-t\n-i\n");
  std::ifstream messageIn(input);
  std::stringstream message;
  message << messageIn.rdbuf();
  EXPECT_NE(message.str().find(hostile), std::string::npos);
  EXPECT_FALSE(fs::exists(marker));
}

// ---- The hosted composer and its coordinator, driven directly.

struct CoordinatorLog {
  std::vector<std::string> events;
};

EmailComposerView composerView(const std::shared_ptr<CoordinatorLog>& log, EmailData mail) {
  EmailComposerView view{
      .presentationMode = {},
      .emailData = std::move(mail),
      .result = [log](const EmailComposerOutcome& o) { log->events.push_back(describe(o)); },
  };
  view.presentationMode.isPresented = true;
  view.presentationMode.dismissAction = [log] { log->events.push_back("dismiss"); };
  return view;
}

TEST_F(EmailComposerTest, ControllerGetsEveryFieldInOrder) {
  enableMail();
  auto log = std::make_shared<CoordinatorLog>();
  EmailData mail("Subject", std::nullopt, "<p>Hi</p>", true,
                 {EmailData::AttachmentData({1}, "image/png", "one.png"),
                  EmailData::AttachmentData({2, 2}, "text/plain", "two.txt"),
                  EmailData::AttachmentData({}, "application/pdf", "three.pdf")});
  auto view = composerView(log, mail);
  auto coordinator = view.makeCoordinator();
  auto controller = view.makeUIViewController(coordinator);
  EXPECT_EQ(controller->subject(), "Subject");
  EXPECT_TRUE(controller->toRecipients().empty());
  EXPECT_EQ(controller->messageBody(), "<p>Hi</p>");
  EXPECT_TRUE(controller->isBodyHTML());
  ASSERT_EQ(controller->attachments().size(), 3u);
  EXPECT_EQ(controller->attachments()[0].fileName, "one.png");
  EXPECT_EQ(controller->attachments()[1].mimeType, "text/plain");
  EXPECT_EQ(controller->attachments()[1].data, (platform::Bytes{2, 2}));
  EXPECT_EQ(controller->attachments()[2].fileName, "three.pdf");
  EXPECT_TRUE(log->events.empty());

  // The controller reports to the coordinator it was given.
  controller->cancel();
  EXPECT_EQ(log->events, (std::vector<std::string>{"Cancelled", "dismiss"}));
}

TEST_F(EmailComposerTest, MailGoneWhenTheControllerIsMadeIsReportedAndTheControllerStillMade) {
  // No outbox and no sendmail: the second check fails.
  auto log = std::make_shared<CoordinatorLog>();
  auto view = composerView(log, EmailData("Late"));
  auto controller = view.makeUIViewController(view.makeCoordinator());
  ASSERT_NE(controller, nullptr);
  EXPECT_EQ(controller->subject(), "Late");
  EXPECT_EQ(log->events, (std::vector<std::string>{"Unable to send emails from this device."}));
}

TEST_F(EmailComposerTest, CoordinatorMapsRawResultsAndTreatsUnknownOnesAsFailed) {
  struct Case {
    long raw;
    const char* expected;
  };
  const Case cases[] = {
      {0, "Cancelled"}, {1, "Saved"},  {2, "Sent"},    {3, "Failed"},
      {4, "Failed"},    {7, "Failed"}, {-1, "Failed"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.raw);
    auto log = std::make_shared<CoordinatorLog>();
    auto view = composerView(log, EmailData());
    auto coordinator = view.makeCoordinator();
    MailComposeController controller;
    coordinator->mailComposeController(controller, static_cast<MailComposeResult>(c.raw), nullptr);
    EXPECT_EQ(log->events, (std::vector<std::string>{c.expected, "dismiss"}));
  }
}

TEST_F(EmailComposerTest, CoordinatorKeepsTheMailAndHandlerItWasMadeWith) {
  auto log = std::make_shared<CoordinatorLog>();
  auto view = composerView(log, EmailData("First"));
  auto coordinator = view.makeCoordinator();
  auto otherLog = std::make_shared<CoordinatorLog>();
  view.result = [otherLog](const EmailComposerOutcome&) { otherLog->events.push_back("x"); };
  view.emailData.subject = "Second";
  EXPECT_EQ(coordinator->parent.emailData.subject, "First");
  MailComposeController controller;
  coordinator->mailComposeController(controller, MailComposeResult::sent, nullptr);
  EXPECT_EQ(log->events, (std::vector<std::string>{"Sent", "dismiss"}));
  EXPECT_TRUE(otherLog->events.empty());
}

}  // namespace
