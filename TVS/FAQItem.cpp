#include "TVS/FAQItem.h"

using namespace platform::ui;

View FAQItem::body() const {
  return Group({
      Text(question).font(Font::title3().bold()).padding(),
      Text(answer).font(Font::body()).padding(),
  });
}
