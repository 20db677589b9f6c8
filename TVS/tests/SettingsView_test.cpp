// The settings screen and its FAQ sheet, driven through the TestHost with the real mail
// controller writing to an outbox folder in the sandbox and a recording openURL.
#include "TVS/SettingsView.h"

#include <cairo.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "TVS/FAQView.h"
#include "TVS/SettingsViewConfiguration.h"
#include "platform/app/AppConstants.h"
#include "platform/app/Application.h"
#include "platform/app/Spawn.h"
#include "platform/runtime/Runtime.h"
#include "platform/testing/PlatformTest.h"
#include "platform/ui/UI.h"

namespace {

using namespace platform::ui;
namespace fs = std::filesystem;
namespace rt = platform::runtime;

// The checks the build applies to the configured addresses.
static_assert(settings_configuration::isValidUrl("https://example.com/terms"));
static_assert(!settings_configuration::isValidUrl("not a url"));
static_assert(settings_configuration::isValidMailAddress("support@example.com"));

TEST(SettingsConfigurationTest, UrlCheckAcceptsAbsoluteUrlsAndRefusesTheRest) {
  struct Case {
    const char* text;
    bool valid;
  };
  const Case cases[] = {
      {"https://example.com", true},
      {"https://example.com:8443/a/b?c=d&e=%20f#g", true},
      {"itms-apps://store.example/app/id123?action=write-review", true},
      {"mailto:someone@example.com", true},
      {"https://[::1]:80/", true},
      {"", false},
      {"example.com/no-scheme", false},
      {"://missing-scheme", false},
      {"1http://digit-first.example", false},
      {"https://", false},
      {"https://host:port/", false},
      {"https://exa mple.com", false},
      {"https://example.com/%zz", false},
      {"https://example.com/%2", false},
      {"https://example.com/\"quoted\"", false},
      {"https://example.com/\n", false},
      {"https:", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(settings_configuration::isValidUrl(c.text), c.valid) << c.text;
  }
  EXPECT_TRUE(settings_configuration::isValidMailAddress("a.b+c@mail.example"));
  EXPECT_FALSE(settings_configuration::isValidMailAddress("no-at-sign.example"));
  EXPECT_FALSE(settings_configuration::isValidMailAddress("@example.com"));
  EXPECT_FALSE(settings_configuration::isValidMailAddress("a@"));
  EXPECT_FALSE(settings_configuration::isValidMailAddress("a@b@c"));
  EXPECT_FALSE(settings_configuration::isValidMailAddress("a b@example.com"));
}

// The configured addresses are checked by the compiler: a value that is no URL stops the build
// with "Expected a valid URL".
TEST(SettingsConfigurationTest, ABadAddressFailsTheBuildWithItsMessage) {
  auto compiler = platform::app::findOnPath("c++");
  if (!compiler) compiler = platform::app::findOnPath("g++");
  if (!compiler) GTEST_SKIP() << "no C++ compiler on PATH";
  const fs::path repository = TVS_SOURCE_DIR;
  ASSERT_TRUE(fs::exists(repository / "TVS" / "SettingsViewConfiguration.h"));
  const fs::path work = fs::temp_directory_path() / ("tvs-config-" + std::to_string(::getpid()));
  fs::create_directories(work);
  const fs::path source = work / "config.cpp";
  std::ofstream(source) << "#include \"TVS/SettingsViewConfiguration.h\"\n";

  struct Case {
    std::string define;
    bool builds;
  };
  const Case cases[] = {
      {"", true},
      {"-DTVS_REVIEW_URL=\"https://store.example/app/review\"", true},
      {"-DTVS_REVIEW_URL=\"not a url\"", false},
      {"-DTVS_TERMS_URL=\"https://\"", false},
      {"-DTVS_SUPPORT_EMAIL=\"nobody\"", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.define);
    std::vector<std::string> argv = {*compiler, "-std=c++20", "-fsyntax-only",
                                     "-I" + repository.string()};
    if (!c.define.empty()) argv.push_back(c.define);
    argv.push_back(source.string());
    // The compiler's diagnostics go to a file: its standard error is ours while it runs.
    const fs::path diagnostics = work / "diagnostics.txt";
    const int saved = ::dup(2);
    const int file = ::open(diagnostics.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(file, 2);
    platform::ErrorPtr error;
    auto status = platform::app::runProgram(argv, std::nullopt, &error);
    ::dup2(saved, 2);
    ::close(saved);
    ::close(file);
    ASSERT_TRUE(status) << error->localizedDescription();
    std::ifstream in(diagnostics);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(*status == 0, c.builds) << text.str();
    EXPECT_EQ(text.str().find("Expected a valid URL") != std::string::npos, !c.builds)
        << text.str();
  }
  std::error_code ec;
  fs::remove_all(work, ec);
}

TEST(SettingsViewMailTest, TheTwoDraftsAreExact) {
  const std::string support(settings_configuration::kSupportEmail);
  EmailData contact = SettingsView::makeContactUsEmailData();
  EXPECT_EQ(contact.subject, "Tavo Vastrow Soundboard Contact Us");
  EXPECT_EQ(contact.recipients, std::vector<std::string>{support});
  EXPECT_EQ(contact.body, "");
  EXPECT_FALSE(contact.isBodyHTML);
  EXPECT_TRUE(contact.attachments.empty());

  EmailData request = SettingsView::makeSoundRequestEmailData();
  EXPECT_EQ(request.subject, "Tavo Vastrow Soundboard Sound Request");
  EXPECT_EQ(request.recipients, std::vector<std::string>{support});
  EXPECT_EQ(request.body,
            "Person (e.g. Tavo Vastrow) : \n\n Description (e.g. Add more chimp sounds!): \n\n "
            "Episode # (Optional): \n\n Youtube Link (Optional): \n\n Note: Sound Requests with "
            "timestamped Youtube links will be added quickly. General sound requests will take a "
            "bit longer. ");
  EXPECT_FALSE(request.isBodyHTML);
  EXPECT_TRUE(request.attachments.empty());
}

struct Pixel {
  int r, g, b;
};

// Reads pixels of a snapshot.
class Png {
 public:
  explicit Png(const fs::path& path)
      : surface_(cairo_image_surface_create_from_png(path.c_str())) {}
  ~Png() { cairo_surface_destroy(surface_); }
  bool ok() const { return cairo_surface_status(surface_) == CAIRO_STATUS_SUCCESS; }
  Pixel at(double x, double y) const {
    cairo_surface_flush(surface_);
    const unsigned char* data = cairo_image_surface_get_data(surface_);
    const int stride = cairo_image_surface_get_stride(surface_);
    auto px =
        reinterpret_cast<const uint32_t*>(data + static_cast<int>(y) * stride)[static_cast<int>(x)];
    return {static_cast<int>((px >> 16) & 0xff), static_cast<int>((px >> 8) & 0xff),
            static_cast<int>(px & 0xff)};
  }
  // The brightest and darkest pixels inside `rect`, by the sum of their channels.
  std::pair<int, int> brightnessRange(const Rect& rect) const {
    int lo = 3 * 255, hi = 0;
    for (double y = rect.minY(); y < rect.maxY(); y += 1) {
      for (double x = rect.minX(); x < rect.maxX(); x += 1) {
        Pixel p = at(x, y);
        lo = std::min(lo, p.r + p.g + p.b);
        hi = std::max(hi, p.r + p.g + p.b);
      }
    }
    return {lo, hi};
  }

 private:
  cairo_surface_t* surface_;
};

class SettingsViewTest : public platform::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    // Mail is sendable only through the outbox folder, when a test configures it.
    const fs::path emptyPath = home() / "empty-path";
    fs::create_directories(emptyPath);
    ::setenv("PATH", emptyPath.c_str(), 1);
    outbox_ = home() / "outbox";

    // openURL is recorded instead of starting a browser.
    platform::app::Application::sharedApplication();
    auto log = openedUrls_;
    rt::classReplaceMethod(rt::classNamed(platform::app::kApplicationClassName),
                           "openURL:options:completionHandler:",
                           rt::implementationWithBlock([log](platform::Object&, std::string url,
                                                             platform::Value::Dictionary options,
                                                             std::function<void(bool)> completion) {
                             log->push_back(url + (options.empty() ? "" : " +options") +
                                            (completion ? " +completion" : ""));
                           }),
                           "v@:@@@?");
  }

  void enableMail() {
    setArguments({std::string("-") + platform::app::kMailOutboxArgument, outbox_.string()});
  }

  std::unique_ptr<TestHost> showSettings(ColorScheme scheme = ColorScheme::light) {
    return std::make_unique<TestHost>(NavigationView(View(SettingsView{})),
                                      HostOptions{.colorScheme = scheme});
  }

  void tapText(TestHost& host, const std::string& text) {
    auto element = host.findText(text);
    ASSERT_TRUE(element) << text;
    host.tap(*element);
    host.pump();
  }

  bool waitFor(TestHost& host, const std::function<bool()>& done) {
    return pumpUntil([&] {
      host.pump();
      return done();
    });
  }

  std::vector<std::string> outboxMessages() {
    std::vector<std::string> messages;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(outbox_, ec)) {
      std::ifstream in(entry.path(), std::ios::binary);
      std::stringstream text;
      text << in.rdbuf();
      messages.push_back(text.str());
    }
    return messages;
  }

  fs::path outbox_;
  std::shared_ptr<std::vector<std::string>> openedUrls_ =
      std::make_shared<std::vector<std::string>>();
};

TEST_F(SettingsViewTest, FormShowsEveryRowInOrderUnderItsTitle) {
  auto host = showSettings();
  EXPECT_EQ(host->navigationTitle(), "Settings");
  const std::vector<std::string> expected = {"Sound Request",
                                             "Support",
                                             "Frequently Asked Questions",
                                             "Review Tavo Vastrow Soundboard",
                                             "Contact Us",
                                             "TOS & Privacy Policy",
                                             "Tavo Vastrow Soundboard Version 2.0.1"};
  std::vector<std::string> shown;
  for (const auto& text : host->texts()) {
    if (std::find(expected.begin(), expected.end(), text) != expected.end()) shown.push_back(text);
  }
  EXPECT_EQ(shown, expected);
  auto version = host->findText("Tavo Vastrow Soundboard Version 2.0.1");
  ASSERT_TRUE(version);
  EXPECT_EQ(version->foregroundColor(), Color::gray());
  // The version row is text, not a button.
  EXPECT_FALSE(host->tap(*version));
}

TEST_F(SettingsViewTest, EachMailButtonPresentsOnlyItsOwnDraft) {
  struct Case {
    const char* button;
    const char* subject;
    const char* otherSubject;
    std::string body;
  };
  const Case cases[] = {
      {"Contact Us", "Tavo Vastrow Soundboard Contact Us", "Tavo Vastrow Soundboard Sound Request",
       ""},
      {"Sound Request", "Tavo Vastrow Soundboard Sound Request",
       "Tavo Vastrow Soundboard Contact Us", settings_text::kSoundRequestBody},
  };
  enableMail();
  auto host = showSettings();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.button);
    tapText(*host, c.button);
    ASSERT_EQ(host->sheetCount(), 1u);
    EXPECT_TRUE(host->findText(c.subject));
    EXPECT_FALSE(host->findText(c.otherSubject));
    EXPECT_TRUE(host->findText(std::string(settings_configuration::kSupportEmail)));
    if (!c.body.empty()) {
      EXPECT_TRUE(host->findText(c.body));
    }
    tapText(*host, platform::app::kMailCancelTitle);
    ASSERT_TRUE(waitFor(*host, [&] { return host->sheetCount() == 0; }));
  }
}

TEST_F(SettingsViewTest, EveryWayOfClosingTheComposerLowersItsFlagSoTheNextTapOpensAgain) {
  enableMail();
  auto host = showSettings();
  const char* finishers[] = {platform::app::kMailCancelTitle, platform::app::kMailSaveTitle,
                             platform::app::kMailSendTitle};
  for (const char* button : {"Contact Us", "Sound Request"}) {
    for (const char* finisher : finishers) {
      SCOPED_TRACE(std::string(button) + " / " + finisher);
      tapText(*host, button);
      ASSERT_EQ(host->sheetCount(), 1u);
      tapText(*host, finisher);
      ASSERT_TRUE(waitFor(*host, [&] { return host->sheetCount() == 0; }));
    }
    // Swiped away, too.
    tapText(*host, button);
    ASSERT_EQ(host->sheetCount(), 1u);
    ASSERT_TRUE(host->dismissSheet());
    host->pump();
    tapText(*host, button);
    EXPECT_EQ(host->sheetCount(), 1u);
    ASSERT_TRUE(host->dismissSheet());
    host->pump();
  }
  // One sent message per button, each to the support address with its own subject.
  auto messages = outboxMessages();
  ASSERT_EQ(messages.size(), 2u);
  int contact = 0, request = 0;
  for (const auto& m : messages) {
    EXPECT_NE(m.find(std::string(settings_configuration::kSupportEmail)), std::string::npos);
    if (m.find("Subject: Tavo Vastrow Soundboard Contact Us") != std::string::npos) ++contact;
    if (m.find("Subject: Tavo Vastrow Soundboard Sound Request") != std::string::npos) ++request;
  }
  EXPECT_EQ(contact, 1);
  EXPECT_EQ(request, 1);
}

TEST_F(SettingsViewTest, AFailedSendKeepsTheDraftUpSayingSoUntilItIsSavedAndTheButtonOpensAgain) {
  enableMail();
  std::ofstream(outbox_) << "not a folder";  // sending fails
  auto host = showSettings();
  tapText(*host, "Contact Us");
  ASSERT_EQ(host->sheetCount(), 1u);
  tapText(*host, platform::app::kMailSendTitle);
  ASSERT_TRUE(waitFor(
      *host, [&] { return host->findText(platform::app::kMailSendFailedMessage).has_value(); }));
  EXPECT_EQ(host->sheetCount(), 1u);
  EXPECT_TRUE(host->findText("Tavo Vastrow Soundboard Contact Us"));
  tapText(*host, platform::app::kMailSaveTitle);
  ASSERT_TRUE(waitFor(*host, [&] { return host->sheetCount() == 0; }));
  tapText(*host, "Contact Us");
  EXPECT_EQ(host->sheetCount(), 1u);
  EXPECT_FALSE(host->findText(platform::app::kMailSendFailedMessage));
}

TEST_F(SettingsViewTest, WithoutMailTheSheetIsEmptyAndIsSwipedAway) {
  auto host = showSettings();
  tapText(*host, "Contact Us");
  ASSERT_EQ(host->sheetCount(), 1u);
  EXPECT_FALSE(host->findText(platform::app::kMailSendTitle));
  EXPECT_FALSE(host->findText("Dismiss"));
  EXPECT_FALSE(host->findText("Tavo Vastrow Soundboard Contact Us"));
  ASSERT_TRUE(host->dismissSheet());
  host->pump();
  EXPECT_EQ(host->sheetCount(), 0u);
  tapText(*host, "Sound Request");
  EXPECT_EQ(host->sheetCount(), 1u);
}

TEST_F(SettingsViewTest, FaqSheetOpensClosesWithItsButtonAndOpensAgain) {
  auto host = showSettings();
  tapText(*host, "Frequently Asked Questions");
  ASSERT_EQ(host->sheetCount(), 1u);
  EXPECT_TRUE(host->findText("FAQs"));
  EXPECT_TRUE(host->findText("How do I text sounds?"));
  auto close = host->findSymbol("xmark.octagon");
  ASSERT_TRUE(close);
  EXPECT_TRUE(host->tap(*close));
  host->pump();
  EXPECT_EQ(host->sheetCount(), 0u);

  tapText(*host, "Frequently Asked Questions");
  EXPECT_EQ(host->sheetCount(), 1u);
  // A swipe-down lowers the flag too, so the button opens it rather than toggling it shut.
  ASSERT_TRUE(host->dismissSheet());
  host->pump();
  tapText(*host, "Frequently Asked Questions");
  EXPECT_EQ(host->sheetCount(), 1u);
}

TEST_F(SettingsViewTest, ReviewAndTermsOpenTheConfiguredAddresses) {
  auto host = showSettings();
  tapText(*host, "Review Tavo Vastrow Soundboard");
  tapText(*host, "TOS & Privacy Policy");
  EXPECT_EQ(*openedUrls_,
            (std::vector<std::string>{std::string(settings_configuration::kReviewUrl),
                                      std::string(settings_configuration::kTermsUrl)}));
  EXPECT_EQ(host->sheetCount(), 0u);
}

TEST_F(SettingsViewTest, OpenLinkIgnoresAStringThatIsNotAUrl) {
  SettingsView::openLink("not a link");
  SettingsView::openLink("https://tavovastrow.example/x");
  EXPECT_EQ(*openedUrls_, std::vector<std::string>{"https://tavovastrow.example/x"});
}

TEST_F(SettingsViewTest, FaqHeaderColoursFollowTheScheme) {
  for (ColorScheme scheme : {ColorScheme::light, ColorScheme::dark}) {
    const Color expected = scheme == ColorScheme::dark ? Color::white() : Color::black();
    auto host = showSettings(scheme);
    tapText(*host, "Frequently Asked Questions");
    auto title = host->findText("FAQs");
    auto close = host->findSymbol("xmark.octagon");
    ASSERT_TRUE(title && close);
    EXPECT_EQ(title->foregroundColor(), expected);
    EXPECT_EQ(title->font(), Font::title3().bold());
    EXPECT_EQ(close->foregroundColor(), expected);
    // Title at the leading edge, close button at the trailing edge.
    EXPECT_LT(title->frame().maxX(), close->frame().minX());
    EXPECT_GT(close->frame().minX(), kPhoneSize.width / 2);
  }
  // The sheet follows a switch of the appearance while it is up.
  auto host = showSettings(ColorScheme::light);
  tapText(*host, "Frequently Asked Questions");
  host->setColorScheme(ColorScheme::dark);
  host->pump();
  EXPECT_EQ(host->findText("FAQs")->foregroundColor(), Color::white());
}

TEST_F(SettingsViewTest, SnapshotsOfSettingsAndTheFaqSheetInDarkMode) {
  auto host = showSettings(ColorScheme::dark);
  auto version = host->findText("Tavo Vastrow Soundboard Version 2.0.1");
  ASSERT_TRUE(version);
  const fs::path settingsPng = home() / "settings-dark.png";
  ASSERT_TRUE(host->snapshot(settingsPng));
  {
    Png png(settingsPng);
    ASSERT_TRUE(png.ok());
    // The grey version line: its darkest and brightest pixels differ (drawn text), and the
    // brightest is no brighter than the standard grey.
    auto [lo, hi] = png.brightnessRange(version->frame());
    EXPECT_LT(lo, hi);
    EXPECT_LE(hi, 142 + 142 + 147 + 30);
  }

  tapText(*host, "Frequently Asked Questions");
  auto title = host->findText("FAQs");
  ASSERT_TRUE(title);
  const fs::path faqPng = home() / "faq-dark.png";
  ASSERT_TRUE(host->snapshot(faqPng));
  Png png(faqPng);
  ASSERT_TRUE(png.ok());
  // White glyphs of the title on the dark sheet.
  auto [lo, hi] = png.brightnessRange(title->frame());
  EXPECT_GT(hi, 3 * 220);
  EXPECT_LT(lo, 3 * 100);
}

// ---- The FAQ itself

class FAQViewTest : public platform::testing::PlatformTest {};

TEST_F(FAQViewTest, FiveEntriesInOrderQuestionBoldAboveAnswerLeftAligned) {
  TestHost host(View(FAQView{}));
  const std::vector<std::string> expected = {
      "How do I text sounds?",
      "Swipe left on the sound you want to text and press the green text message button.",
      "How do I save my favorite sounds?",
      "Swipe left on the sound you want to favorite and press the heart button. To view your "
      "favorite sounds, press the pink heart button at the top of the main screen.",
      "How do I request sounds?",
      "Press the 'Sound Request' button in Settings to send us a sound request email. If you have "
      "a specific soundbite, send us a timestamped youtube link and the sound will be added "
      "quickly.",
      "Are you coming out with a dark mode?",
      "Tavo Vastrow Soundboard automatically changes between dark and light mode based on your "
      "iPhone system settings.",
      "How can I ask you a question?",
      "Press the 'Contact Us' button in Settings to send us an email with any questions, "
      "comments, or feedback."};
  EXPECT_EQ(host.texts(), expected);
  double previousY = -1;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(expected[i]);
    auto text = host.findText(expected[i]);
    ASSERT_TRUE(text);
    EXPECT_EQ(text->font(), i % 2 == 0 ? Font::title3().bold() : Font::body());
    EXPECT_GT(text->frame().y, previousY);
    previousY = text->frame().y;
    // Padded by the default amount from the leading edge.
    EXPECT_DOUBLE_EQ(text->frame().x, kDefaultPadding);
  }
}

}  // namespace
