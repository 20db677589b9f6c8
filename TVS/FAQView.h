// The frequently asked questions: five entries in a vertical scroll view, left-aligned, shown in
// the FAQ sheet of the settings screen. Static content; main thread only.
#pragma once

#include <string>
#include <vector>

#include "TVS/FAQItem.h"
#include "platform/ui/View.h"

namespace faq_text {

inline constexpr const char* kAppName = "Tavo Vastrow Soundboard";

inline constexpr const char* kTextSoundsQuestion = "How do I text sounds?";
inline constexpr const char* kTextSoundsAnswer =
    "Swipe left on the sound you want to text and press the green text message button.";
inline constexpr const char* kFavoritesQuestion = "How do I save my favorite sounds?";
inline constexpr const char* kFavoritesAnswer =
    "Swipe left on the sound you want to favorite and press the heart button. To view your "
    "favorite sounds, press the pink heart button at the top of the main screen.";
inline constexpr const char* kRequestQuestion = "How do I request sounds?";
inline constexpr const char* kRequestAnswer =
    "Press the 'Sound Request' button in Settings to send us a sound request email. If you have "
    "a specific soundbite, send us a timestamped youtube link and the sound will be added "
    "quickly.";
inline constexpr const char* kDarkModeQuestion = "Are you coming out with a dark mode?";
// Follows the app's name.
inline constexpr const char* kDarkModeAnswerRest =
    " automatically changes between dark and light mode based on your iPhone system settings.";
inline constexpr const char* kQuestionQuestion = "How can I ask you a question?";
inline constexpr const char* kQuestionAnswer =
    "Press the 'Contact Us' button in Settings to send us an email with any questions, "
    "comments, or feedback.";

// The FAQ sheet's header.
inline constexpr const char* kSheetTitle = "FAQs";
inline constexpr const char* kCloseSymbol = "xmark.octagon";

}  // namespace faq_text

struct FAQView {
  // The entries in display order.
  static std::vector<FAQItem> items();

  platform::ui::View body() const;
};
