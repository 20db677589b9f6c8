#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>

#include "platform/app/ActivityViewController.h"
#include "platform/app/AppConstants.h"
#include "platform/app/AppRunner.h"
#include "platform/app/Application.h"
#include "platform/app/Haptics.h"
#include "platform/app/MailComposeController.h"
#include "platform/app/tests/AppTestSupport.h"
#include "platform/base/Bundle.h"
#include "platform/base/Files.h"
#include "platform/dispatch/RunLoop.h"
#include "platform/testing/PlatformTest.h"
#include "platform/ui/TestHost.h"

namespace platform::app {
namespace {

using platform::app::testing::readAll;

class PresentationTest : public platform::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    downloads_ = home() / "Downloads";
    ::setenv("XDG_DOWNLOAD_DIR", downloads_.c_str(), 1);
    clip_ = home() / "clip one.mp3";
    std::ofstream(clip_, std::ios::binary) << "ID3 pretend audio";
  }
  std::shared_ptr<ActivityViewController> shareSheet() {
    return std::make_shared<ActivityViewController>(
        std::vector<Value>{Value(fileUrlForPath(clip_))}, std::vector<ObjectPtr>{});
  }
  std::filesystem::path downloads_, clip_;
};

TEST_F(PresentationTest, NothingIsPresentedWithoutAWindowOrRootController) {
  ui::TestHost host(ui::Text("root"));
  auto loose = std::make_shared<HostingController>(nullptr);
  bool completed = false;
  loose->presentViewController(shareSheet(), true, [&] { completed = true; });
  EXPECT_EQ(loose->presentedViewController(), nullptr);

  auto window = Window::make(&host.host());
  EXPECT_EQ(window->rootViewController(), nullptr);
  auto offscreen = Window::make(nullptr);
  offscreen->setRootViewController(std::make_shared<HostingController>(nullptr));
  offscreen->rootViewController()->presentViewController(shareSheet(), true,
                                                         [&] { completed = true; });
  host.pump();
  EXPECT_EQ(host.sheetCount(), 0u);
  EXPECT_FALSE(completed);
}

TEST_F(PresentationTest, ShareSheetListsTheFileAndSavesCopiesWithoutOverwriting) {
  ui::TestHost host(ui::Text("root"));
  auto window = attachWindow(host.host(), {[] { return ui::Text("root"); }});
  ASSERT_EQ(Application::sharedApplication()->windows().front(), window);
  auto root = window->rootViewController();
  ASSERT_NE(root, nullptr);

  for (int round = 0; round < 2; ++round) {
    auto sheet = shareSheet();
    bool completed = false;
    root->presentViewController(sheet, true, [&] { completed = true; });
    host.pump();
    EXPECT_TRUE(pumpUntil([&] { return completed; }));
    ASSERT_EQ(host.sheetCount(), 1u);
    EXPECT_EQ(root->presentedViewController(), sheet);
    EXPECT_EQ(sheet->window(), window);
    ASSERT_TRUE(host.findText("clip one.mp3"));
    ASSERT_TRUE(host.findText(kShareOpenTitle));
    ASSERT_TRUE(host.findText(kShareCancelTitle));
    auto save = host.findText(kShareSaveCopyTitle);
    ASSERT_TRUE(save);
    EXPECT_TRUE(host.tap(*save));
    ASSERT_TRUE(pumpUntil([&] {
      host.pump();
      return host.sheetCount() == 0;
    }));
    EXPECT_EQ(root->presentedViewController(), nullptr);
  }
  EXPECT_EQ(readAll(downloads_ / "clip one.mp3"), "ID3 pretend audio");
  EXPECT_EQ(readAll(downloads_ / "clip one 2.mp3"), "ID3 pretend audio");
  Application::sharedApplication()->removeWindow(window);
}

TEST_F(PresentationTest, AFailedCopySaysWhyInTheSheetWhichClosesOnlyOnceTheCopyIsWritten) {
  // The downloads folder is a plain file, so no copy can go into it.
  std::ofstream(downloads_) << "not a folder";
  const auto missing = home() / "gone.mp3";
  ui::TestHost host(ui::Text("root"));
  auto window = attachWindow(host.host(), {[] { return ui::Text("root"); }});
  auto root = window->rootViewController();
  auto sheet = std::make_shared<ActivityViewController>(
      std::vector<Value>{Value(fileUrlForPath(clip_)), Value(fileUrlForPath(missing))},
      std::vector<ObjectPtr>{});
  root->presentViewController(sheet, true, nullptr);
  host.pump();
  auto failures = [&] {
    std::vector<std::string> found;
    for (const auto& text : host.texts()) {
      if (text.starts_with(kShareSaveCopyFailedMessage)) found.push_back(text);
    }
    return found;
  };
  EXPECT_TRUE(failures().empty());

  ASSERT_TRUE(host.tap(*host.findText(kShareSaveCopyTitle)));
  host.pump();
  EXPECT_EQ(host.sheetCount(), 1u);
  EXPECT_EQ(root->presentedViewController(), sheet);
  auto said = failures();
  ASSERT_EQ(said.size(), 2u);
  EXPECT_EQ(said[0].rfind(std::string(kShareSaveCopyFailedMessage) + " clip one.mp3: ", 0), 0u)
      << said[0];
  EXPECT_GT(said[0].size(), std::string(kShareSaveCopyFailedMessage).size() + 16);  // and why
  EXPECT_EQ(said[1].rfind(std::string(kShareSaveCopyFailedMessage) + " gone.mp3: ", 0), 0u)
      << said[1];

  // Once the folder can be made the clip is copied; the file that is gone still is not, so the
  // sheet stays and says so. Another try copies nothing twice.
  std::filesystem::remove(downloads_);
  for (int attempt = 0; attempt < 2; ++attempt) {
    ASSERT_TRUE(host.tap(*host.findText(kShareSaveCopyTitle)));
    host.pump();
    EXPECT_EQ(host.sheetCount(), 1u);
    said = failures();
    ASSERT_EQ(said.size(), 1u);
    EXPECT_EQ(said[0].rfind(std::string(kShareSaveCopyFailedMessage) + " gone.mp3: ", 0), 0u);
  }
  EXPECT_EQ(readAll(downloads_ / "clip one.mp3"), "ID3 pretend audio");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(downloads_), {}), 1);

  // With every file there, the copy is written and the sheet closes.
  std::ofstream(missing, std::ios::binary) << "ID3 late audio";
  ASSERT_TRUE(host.tap(*host.findText(kShareSaveCopyTitle)));
  ASSERT_TRUE(pumpUntil([&] {
    host.pump();
    return host.sheetCount() == 0;
  }));
  EXPECT_EQ(root->presentedViewController(), nullptr);
  EXPECT_EQ(readAll(downloads_ / "gone.mp3"), "ID3 late audio");
  EXPECT_FALSE(std::filesystem::exists(downloads_ / "clip one 2.mp3"));
  Application::sharedApplication()->removeWindow(window);
}

TEST_F(PresentationTest, CancelClosesTheSheetAndAppearanceMessagesAreSent) {
  // Replaced appearance methods of the base class are what presentation calls.
  std::vector<std::string> seen;
  auto* cls = runtime::classNamed(kViewControllerClassName);
  registerViewControllerClasses();
  cls = runtime::classNamed(kViewControllerClassName);
  ASSERT_NE(cls, nullptr);
  for (const char* sel : {"viewDidAppear:", "viewDidDisappear:"}) {
    runtime::classReplaceMethod(cls, sel,
                                runtime::implementationWithBlock([&seen, sel](Object& self, bool) {
                                  seen.push_back(runtime::objectGetClassName(&self) + " " + sel);
                                }),
                                "v@:B");
  }
  ui::TestHost host(ui::Text("root"));
  auto window = attachWindow(host.host(), {[] { return ui::Text("root"); }});
  auto sheet = shareSheet();
  window->rootViewController()->presentViewController(sheet, false, nullptr);
  host.pump();
  ASSERT_TRUE(host.tap(*host.findText(kShareCancelTitle)));
  ASSERT_TRUE(pumpUntil([&] {
    host.pump();
    return host.sheetCount() == 0;
  }));
  EXPECT_EQ(seen, (std::vector<std::string>{"UIActivityViewController viewDidAppear:",
                                            "UIActivityViewController viewDidDisappear:"}));
  EXPECT_FALSE(std::filesystem::exists(downloads_));
  Application::sharedApplication()->removeWindow(window);
}

TEST_F(PresentationTest, OpenHandsTheFileToTheDefaultApplication) {
  const auto log = home() / "opened";
  platform::app::testing::writeExecutable(
      home() / "bin" / "xdg-open", "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + log.string() + "'\n");
  ::setenv("PATH", (home() / "bin").c_str(), 1);
  ui::TestHost host(ui::Text("root"));
  auto window = attachWindow(host.host(), {[] { return ui::Text("root"); }});
  window->rootViewController()->presentViewController(shareSheet(), true, nullptr);
  host.pump();
  ASSERT_TRUE(host.tap(*host.findText(kShareOpenTitle)));
  ASSERT_TRUE(pumpUntil(
      [&] {
        host.pump();
        return host.sheetCount() == 0 && std::filesystem::exists(log);
      },
      20));
  ASSERT_TRUE(pumpUntil([&] { return !platform::app::testing::readLines(log).empty(); }, 20));
  EXPECT_EQ(platform::app::testing::readLines(log),
            std::vector<std::string>{fileUrlForPath(clip_)});
  Application::sharedApplication()->removeWindow(window);
}

TEST_F(PresentationTest, HapticImpactFlashesAShortPulse) {
  installHapticPulse();
  ui::TestHost host(windowRootView({[] { return ui::Text("root"); }}));
  EXPECT_EQ(hapticPulseStrength(), 0);
  ImpactFeedbackGenerator(ImpactStyle::Heavy).impactOccurred();
  ASSERT_TRUE(pumpUntil([&] {
    host.pump();
    return hapticPulseStrength() > 0;
  }));
  clock().advance(1);
  ASSERT_TRUE(pumpUntil([&] {
    host.pump();
    return hapticPulseStrength() == 0;
  }));
  EXPECT_EQ(HapticsLog::impacts(), std::vector<ImpactStyle>{ImpactStyle::Heavy});
  HapticsLog::setPulseHandler(nullptr);
}

TEST_F(PresentationTest, TabletPopoverKeepsItsSource) {
  setArguments({"-DeviceIdiom", "pad"});
  ui::TestHost host(ui::Text("root"), {.size = ui::kPadSize, .idiom = ui::UserInterfaceIdiom::pad});
  auto window = attachWindow(host.host(), {[] { return ui::Text("root"); }});
  auto app = Application::sharedApplication();
  ASSERT_EQ(app->userInterfaceIdiom(), ui::UserInterfaceIdiom::pad);
  auto sheet = shareSheet();
  sheet->setModalPresentationStyle(ModalPresentationStyle::popover);
  sheet->popoverPresentationController().sourceView = app->windows().front();
  sheet->popoverPresentationController().sourceRect = {};
  window->rootViewController()->presentViewController(sheet, true, nullptr);
  host.pump();
  EXPECT_EQ(host.sheetCount(), 1u);
  EXPECT_EQ(sheet->modalPresentationStyle(), ModalPresentationStyle::popover);
  EXPECT_EQ(sheet->popoverPresentationController().sourceView.lock(), window);
  auto popover = host.topPopover();
  ASSERT_TRUE(popover);
  EXPECT_NEAR(popover->arrowTip.y, 0, 0.5);
  EXPECT_LE(popover->frame.x, 10.5);  // as near the top-left source point as the window allows
  app->removeWindow(window);
}

TEST_F(PresentationTest, PopoverStyleIsAPopoverAtItsSourceOnTabletsAndASheetOnPhones) {
  for (auto idiom : {ui::UserInterfaceIdiom::pad, ui::UserInterfaceIdiom::phone}) {
    const bool pad = idiom == ui::UserInterfaceIdiom::pad;
    ui::TestHost host(ui::Text("root"),
                      {.size = pad ? ui::kPadSize : ui::kPhoneSize, .idiom = idiom});
    auto window = attachWindow(host.host(), {[] { return ui::Text("root"); }});
    auto sheet = shareSheet();
    sheet->setModalPresentationStyle(ModalPresentationStyle::popover);
    sheet->popoverPresentationController().sourceView = window;
    sheet->popoverPresentationController().sourceRect = {300, 400, 60, 40};
    int appeared = 0;
    window->rootViewController()->presentViewController(sheet, true, [&] { ++appeared; });
    host.pump();
    ASSERT_EQ(host.sheetCount(), 1u);
    EXPECT_EQ(appeared, 1);
    auto shown = host.host().presentations().back();
    EXPECT_EQ(shown.popover, pad);
    if (pad) {
      EXPECT_NEAR(shown.arrowTip.x, 330, 0.5);  // under the middle of the source rectangle
      EXPECT_NEAR(shown.arrowTip.y, 440, 0.5);
      EXPECT_NEAR(shown.frame.y, 452, 0.5);
      EXPECT_TRUE(host.findText("Save a Copy"));
      host.tapAt({20, 1150});  // outside the popover
    } else {
      EXPECT_EQ(shown.frame.width, ui::kPhoneSize.width);  // a full-width sheet
      host.dismissSheet();
    }
    host.pump();
    EXPECT_EQ(host.sheetCount(), 0u);
    EXPECT_EQ(window->rootViewController()->presentedViewController(), nullptr);
    EXPECT_FALSE(sheet->isBeingShown());
    Application::sharedApplication()->removeWindow(window);
  }
}

// The delegate side of the mail composer: records each finish.
struct RecordingMailDelegate : MailComposeControllerDelegate {
  std::vector<std::pair<MailComposeResult, ErrorPtr>> finishes;
  bool onMainThread = true;
  void mailComposeController(MailComposeController&, MailComposeResult result,
                             ErrorPtr error) override {
    onMainThread = onMainThread && isMainThread();
    finishes.emplace_back(result, error);
  }
};

class MailComposerTest : public platform::testing::PlatformTest {
 protected:
  std::shared_ptr<MailComposeController> composer(std::shared_ptr<RecordingMailDelegate> d) {
    auto c = std::make_shared<MailComposeController>();
    c->setMailComposeDelegate(d);
    c->setSubject("Tavo Vastrow Soundboard Sound Request");
    c->setToRecipients(std::vector<std::string>{"support@tavo.example"});
    c->setMessageBody("Person (e.g. Tavo Vastrow) : ", false);
    c->addAttachmentData(Bytes{1, 2, 3}, "audio/mpeg", "a.mp3");
    c->addAttachmentData(Bytes{4}, "text/plain", "b.txt");
    return c;
  }

  // The composer's sheet, as the mail composer package presents it.
  static ui::View sheetOf(std::shared_ptr<MailComposeController> c) {
    return ui::ViewControllerRepresentable(
        [] { return std::shared_ptr<void>(); },
        [c](const ui::RepresentableContext&) -> std::shared_ptr<ui::HostedController> {
          return c;
        });
  }
};

TEST_F(MailComposerTest, SendWritesToTheOutboxAndTellsTheDelegateOnce) {
  setArguments({"-MailOutboxDirectory", (home() / "outbox").string()});
  ASSERT_TRUE(MailComposeController::canSendMail());
  auto delegate = std::make_shared<RecordingMailDelegate>();
  auto c = composer(delegate);
  c->send();
  c->send();
  c->cancel();
  ASSERT_TRUE(pumpUntil([&] { return !delegate->finishes.empty(); }));
  pumpUntil([] { return false; }, 0.05);
  ASSERT_EQ(delegate->finishes.size(), 1u);
  EXPECT_EQ(delegate->finishes[0].first, MailComposeResult::sent);
  EXPECT_EQ(delegate->finishes[0].second, nullptr);
  EXPECT_TRUE(delegate->onMainThread);
  auto files = std::vector<std::filesystem::path>(
      std::filesystem::directory_iterator(home() / "outbox"), {});
  ASSERT_EQ(files.size(), 1u);
  const auto text = readAll(files[0]);
  EXPECT_NE(text.find("Subject: Tavo Vastrow Soundboard Sound Request\r\n"), std::string::npos);
  EXPECT_LT(text.find("filename=\"a.mp3\""), text.find("filename=\"b.txt\""));
}

TEST_F(MailComposerTest, FailureCarriesTheErrorAndCancelAndSaveReportTheirResults) {
  ::setenv("PATH", (home() / "empty-bin").c_str(), 1);
  EXPECT_FALSE(MailComposeController::canSendMail());
  auto delegate = std::make_shared<RecordingMailDelegate>();
  auto failing = composer(delegate);
  failing->send();
  auto cancelled = composer(delegate);
  cancelled->cancel();
  auto saved = composer(delegate);
  saved->saveDraft();
  ASSERT_TRUE(pumpUntil([&] { return delegate->finishes.size() == 3; }));
  std::map<MailComposeResult, ErrorPtr> byResult(delegate->finishes.begin(),
                                                 delegate->finishes.end());
  ASSERT_EQ(byResult.size(), 3u);
  ASSERT_NE(byResult[MailComposeResult::failed], nullptr);
  EXPECT_EQ(byResult[MailComposeResult::failed]->code(), kMailNoTransportError);
  EXPECT_EQ(byResult[MailComposeResult::cancelled], nullptr);
  EXPECT_EQ(byResult[MailComposeResult::saved], nullptr);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(SandboxHome::applicationSupport() /
                                                              kMailDraftsFolder),
                          {}),
            1);
}

TEST_F(MailComposerTest, AFailedSendSaysWhyAndTheMailCanStillBeSavedOrSentAgain) {
  const auto outbox = home() / "outbox";
  setArguments({"-MailOutboxDirectory", outbox.string()});
  for (const bool sendAgain : {false, true}) {
    SCOPED_TRACE(sendAgain ? "sent again" : "saved as a draft");
    // A plain file where the outbox folder should be: sending fails.
    std::filesystem::remove_all(outbox);
    std::ofstream(outbox) << "not a folder";
    auto delegate = std::make_shared<RecordingMailDelegate>();
    auto c = composer(delegate);
    ui::TestHost host(sheetOf(c));
    ASSERT_TRUE(host.typeText(host.findAllFields().at(2), "Ada"));
    ASSERT_TRUE(host.tap(*host.findText(kMailSendTitle)));
    ASSERT_TRUE(pumpUntil([&] { return !delegate->finishes.empty(); }));
    host.pump();
    ASSERT_EQ(delegate->finishes.size(), 1u);
    EXPECT_EQ(delegate->finishes[0].first, MailComposeResult::failed);
    ASSERT_NE(delegate->finishes[0].second, nullptr);
    EXPECT_EQ(delegate->finishes[0].second->domain(), kMailErrorDomain);

    // The sheet says the mail was not sent, and why.
    EXPECT_TRUE(host.findText(kMailSendFailedMessage));
    EXPECT_TRUE(host.findText(delegate->finishes[0].second->localizedDescription()));
    // What was typed is kept and still takes text; every button still acts and is drawn so.
    EXPECT_FALSE(c->isFinished());
    ASSERT_TRUE(host.typeText(host.findAllFields().at(2), " Lovelace"));
    EXPECT_EQ(c->messageBody(), "Person (e.g. Tavo Vastrow) : Ada Lovelace");
    for (const char* title : {kMailCancelTitle, kMailSaveTitle, kMailSendTitle}) {
      auto button = host.findText(title);
      ASSERT_TRUE(button) << title;
      EXPECT_DOUBLE_EQ(button->effectiveOpacity(), 1) << title;
    }

    if (sendAgain) std::filesystem::remove(outbox);  // now the folder can be made
    ASSERT_TRUE(host.tap(*host.findText(sendAgain ? kMailSendTitle : kMailSaveTitle)));
    ASSERT_TRUE(pumpUntil([&] { return delegate->finishes.size() == 2; }));
    EXPECT_EQ(delegate->finishes[1].first,
              sendAgain ? MailComposeResult::sent : MailComposeResult::saved);
    EXPECT_EQ(delegate->finishes[1].second, nullptr);
    EXPECT_TRUE(c->isFinished());
    host.pump();
    EXPECT_FALSE(host.findText(kMailSendFailedMessage));
    // The buttons no longer act now, and look it.
    EXPECT_LT(host.findText(kMailSendTitle)->effectiveOpacity(), 1);

    const auto folder = sendAgain ? outbox : SandboxHome::applicationSupport() / kMailDraftsFolder;
    auto files =
        std::vector<std::filesystem::path>(std::filesystem::directory_iterator(folder), {});
    ASSERT_EQ(files.size(), 1u);
    EXPECT_NE(readAll(files[0]).find("Person (e.g. Tavo Vastrow) : Ada Lovelace"),
              std::string::npos);
  }
}

TEST_F(MailComposerTest, AFailedSaveSaysSoAndKeepsTheMail) {
  // Application Support cannot hold the drafts folder: a plain file is in its place.
  std::filesystem::create_directories(SandboxHome::applicationSupport());
  std::ofstream(SandboxHome::applicationSupport() / kMailDraftsFolder) << "not a folder";
  auto delegate = std::make_shared<RecordingMailDelegate>();
  auto c = composer(delegate);
  ui::TestHost host(sheetOf(c));
  ASSERT_TRUE(host.tap(*host.findText(kMailSaveTitle)));
  ASSERT_TRUE(pumpUntil([&] { return !delegate->finishes.empty(); }));
  host.pump();
  ASSERT_EQ(delegate->finishes.size(), 1u);
  EXPECT_EQ(delegate->finishes[0].first, MailComposeResult::failed);
  ASSERT_NE(delegate->finishes[0].second, nullptr);
  EXPECT_TRUE(host.findText(kMailSaveFailedMessage));
  EXPECT_FALSE(host.findText(kMailSendFailedMessage));
  EXPECT_FALSE(c->isFinished());
  ASSERT_TRUE(host.tap(*host.findText(kMailCancelTitle)));
  ASSERT_EQ(delegate->finishes.size(), 2u);
  EXPECT_EQ(delegate->finishes[1].first, MailComposeResult::cancelled);
}

TEST_F(MailComposerTest, AControllerNobodyOwnsStillReportsItsResult) {
  setArguments({"-MailOutboxDirectory", (home() / "outbox").string()});
  auto delegate = std::make_shared<RecordingMailDelegate>();
  MailComposeController controller;
  controller.setMailComposeDelegate(delegate);
  controller.setToRecipients(std::vector<std::string>{"a@b.c"});
  controller.send();
  ASSERT_EQ(delegate->finishes.size(), 1u);
  EXPECT_EQ(delegate->finishes[0].first, MailComposeResult::sent);
  EXPECT_TRUE(controller.isFinished());
}

TEST_F(MailComposerTest, WhatIsTypedInTheSheetIsWhatSendWrites) {
  setArguments({"-MailOutboxDirectory", (home() / "outbox").string()});
  auto delegate = std::make_shared<RecordingMailDelegate>();
  auto c = composer(delegate);
  ui::TestHost host(sheetOf(c));
  auto fields = host.findAllFields();
  ASSERT_EQ(fields.size(), 3u);  // To, Subject, body
  EXPECT_EQ(fields[0].text(), "support@tavo.example");
  // Replace the subject, add a recipient and finish the sentence of the body.
  ASSERT_TRUE(host.typeText(fields[1], ""));
  for (int i = 0; i < 80; ++i) host.pressKey(ui::EditingKey::backspace);
  host.typeText("Need a sound: «Ölfass» ✓");
  ASSERT_TRUE(host.typeText(*host.findText("support@tavo.example"), ", second@tavo.example"));
  ASSERT_TRUE(host.typeText(fields[2], "Ada\nSound: door"));
  EXPECT_EQ(c->subject(), "Need a sound: «Ölfass» ✓");
  EXPECT_EQ(c->toRecipients(),
            (std::vector<std::string>{"support@tavo.example", "second@tavo.example"}));
  EXPECT_TRUE(host.findText("Need a sound: «Ölfass» ✓"));

  ASSERT_TRUE(host.tap(*host.findText(kMailSendTitle)));
  ASSERT_TRUE(pumpUntil([&] { return !delegate->finishes.empty(); }));
  EXPECT_EQ(delegate->finishes[0].first, MailComposeResult::sent);
  // Once sending has begun the fields no longer change the message.
  host.pump();
  EXPECT_FALSE(host.typeText(fields[1], "late"));
  EXPECT_EQ(c->subject(), "Need a sound: «Ölfass» ✓");

  auto files = std::vector<std::filesystem::path>(
      std::filesystem::directory_iterator(home() / "outbox"), {});
  ASSERT_EQ(files.size(), 1u);
  const auto text = readAll(files[0]);
  EXPECT_NE(text.find("To: support@tavo.example, second@tavo.example\r\n"), std::string::npos)
      << text;
  EXPECT_EQ(text.find("Sound Request"), std::string::npos);
  EXPECT_NE(text.find("Subject: =?UTF-8?"), std::string::npos) << text;
  EXPECT_NE(text.find("Person (e.g. Tavo Vastrow) : Ada"), std::string::npos) << text;
  EXPECT_NE(text.find("Sound: door"), std::string::npos);
}

TEST_F(MailComposerTest, SheetShowsTheFieldsAndItsButtonsFinish) {
  auto delegate = std::make_shared<RecordingMailDelegate>();
  auto c = composer(delegate);
  ui::TestHost host(sheetOf(c));
  host.pump();
  EXPECT_TRUE(host.findText("support@tavo.example"));
  EXPECT_TRUE(host.findText("Tavo Vastrow Soundboard Sound Request"));
  EXPECT_TRUE(host.findText("a.mp3"));
  ASSERT_TRUE(host.tap(*host.findText(kMailCancelTitle)));
  ASSERT_EQ(delegate->finishes.size(), 1u);
  EXPECT_EQ(delegate->finishes[0].first, MailComposeResult::cancelled);
}

}  // namespace
}  // namespace platform::app
