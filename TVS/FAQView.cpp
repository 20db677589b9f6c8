#include "TVS/FAQView.h"

using namespace platform::ui;

std::vector<FAQItem> FAQView::items() {
  using namespace faq_text;
  return {
      {kTextSoundsQuestion, kTextSoundsAnswer},
      {kFavoritesQuestion, kFavoritesAnswer},
      {kRequestQuestion, kRequestAnswer},
      {kDarkModeQuestion, std::string(kAppName) + kDarkModeAnswerRest},
      {kQuestionQuestion, kQuestionAnswer},
  };
}

View FAQView::body() const {
  std::vector<View> entries;
  for (auto& item : items()) entries.push_back(View(std::move(item)));
  return ScrollView(
      Axis::vertical, /*showsIndicators=*/true,
      VStack(VStackOptions{.alignment = HorizontalAlignment::leading}, std::move(entries)));
}
