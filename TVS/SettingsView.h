// The settings screen: a form with a sound-request mail, then a support section with the FAQ
// sheet, the store's review page, a contact mail, the terms document and the version line. Each
// mail button has a presentation flag of its own, so a tap presents only its own draft. Reads and
// writes nothing persistent. Main thread only.
#pragma once

#include <string>

#include "email_composer/EmailData.h"
#include "platform/ui/State.h"
#include "platform/ui/View.h"

namespace settings_text {

inline constexpr const char* kTitle = "Settings";
inline constexpr const char* kSoundRequestTitle = "Sound Request";
inline constexpr const char* kSupportHeader = "Support";
inline constexpr const char* kFaqTitle = "Frequently Asked Questions";
inline constexpr const char* kReviewTitle = "Review Tavo Vastrow Soundboard";
inline constexpr const char* kContactUsTitle = "Contact Us";
inline constexpr const char* kTermsTitle = "TOS & Privacy Policy";
inline constexpr const char* kVersionLine = "Tavo Vastrow Soundboard Version 2.0.1";

inline constexpr const char* kContactUsSubject = "Tavo Vastrow Soundboard Contact Us";
inline constexpr const char* kSoundRequestSubject = "Tavo Vastrow Soundboard Sound Request";
inline constexpr const char* kSoundRequestBody =
    "Person (e.g. Tavo Vastrow) : \n\n Description (e.g. Add more chimp sounds!): \n\n Episode # "
    "(Optional): \n\n Youtube Link (Optional): \n\n Note: Sound Requests with timestamped Youtube "
    "links will be added quickly. General sound requests will take a bit longer. ";

}  // namespace settings_text

struct SettingsView {
  // Built with every construction of the view, the same each time.
  EmailData contactUsEmailData = makeContactUsEmailData();
  EmailData soundRequestEmailData = makeSoundRequestEmailData();

  static EmailData makeContactUsEmailData();
  static EmailData makeSoundRequestEmailData();

  // Hands `link` to the application's openURL with no options and no completion; the outcome is
  // not examined. A string that is not a URL opens nothing.
  static void openLink(const std::string& link);

  // The FAQ sheet: a header with "FAQs" and a close button (coloured for `colorScheme`) that
  // toggles `showFaqSheet`, above the FAQ.
  static platform::ui::View faqSheet(platform::ui::ColorScheme colorScheme,
                                     platform::ui::Binding<bool> showFaqSheet);

  platform::ui::View body() const;
};
