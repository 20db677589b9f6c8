#include "TVS/SettingsView.h"

#include <string>
#include <vector>

#include "TVS/FAQView.h"
#include "TVS/SettingsViewConfiguration.h"
#include "email_composer/EmailComposer.h"
#include "platform/app/Application.h"

using namespace platform::ui;

namespace {

std::vector<std::string> supportRecipients() {
  return {std::string(settings_configuration::kSupportEmail)};
}

// A button that raises `flag`, with the composer of `mail` attached. The screen ignores how the
// composer ends, and a machine without mail shows an empty sheet that is swiped away.
View mailButton(const char* title, const State<bool>& flag, const EmailData& mail) {
  return emailComposer(
      Button(title, [flag] { flag.set(true); }), flag.binding(), mail, [] {},
      [](const EmailComposerOutcome&) {}, DeviceCannotSendEmailsView([] { return EmptyView(); }));
}

}  // namespace

EmailData SettingsView::makeContactUsEmailData() {
  return EmailData(settings_text::kContactUsSubject, supportRecipients(), "", false, {});
}

EmailData SettingsView::makeSoundRequestEmailData() {
  return EmailData(settings_text::kSoundRequestSubject, supportRecipients(),
                   settings_text::kSoundRequestBody, false, {});
}

void SettingsView::openLink(const std::string& link) {
  if (!settings_configuration::isValidUrl(link)) return;
  platform::app::Application::sharedApplication()->openURL(link, {}, nullptr);
}

View SettingsView::faqSheet(ColorScheme colorScheme, Binding<bool> showFaqSheet) {
  const Color color = colorScheme == ColorScheme::dark ? Color::white() : Color::black();
  return VStack({
      HStack(
          HStackOptions{.alignment = VerticalAlignment::center},
          {
              Text(faq_text::kSheetTitle)
                  .font(Font::title3().bold())
                  .foregroundColor(color)
                  .padding(Edges::top)
                  .padding(Edges::leading),
              Spacer(),
              Button(
                  [showFaqSheet] { showFaqSheet.set(!showFaqSheet.get()); },
                  SystemImage(faq_text::kCloseSymbol).font(Font::title3()).foregroundColor(color))
                  .padding(Edges::top)
                  .padding(Edges::trailing),
          }),
      View(FAQView{}),
  });
}

View SettingsView::body() const {
  auto showFaqSheet = state(false);
  auto showEmailComposer = state(false);
  auto showSoundRequestComposer = state(false);

  View faqButton = Button(settings_text::kFaqTitle, [showFaqSheet] {
                     showFaqSheet.set(!*showFaqSheet);
                   }).sheet(showFaqSheet.binding(), {}, [binding = showFaqSheet.binding()] {
    return faqSheet(environment().colorScheme, binding);
  });

  return VStack(
             VStackOptions{.alignment = HorizontalAlignment::center},
             {Form({
                 Section({mailButton(settings_text::kSoundRequestTitle, showSoundRequestComposer,
                                     soundRequestEmailData)}),
                 Section(
                     Text(settings_text::kSupportHeader),
                     {
                         faqButton,
                         Button(settings_text::kReviewTitle,
                                [] { openLink(std::string(settings_configuration::kReviewUrl)); }),
                         mailButton(settings_text::kContactUsTitle, showEmailComposer,
                                    contactUsEmailData),
                         Button(settings_text::kTermsTitle,
                                [] { openLink(std::string(settings_configuration::kTermsUrl)); }),
                         Text(settings_text::kVersionLine).foregroundColor(Color::gray()),
                     }),
             })})
      .navigationTitle(settings_text::kTitle);
}
