// One entry of the FAQ: the question in bold title-3 type above its answer in body type, each
// padded by the default amount. A view value; main thread only.
#pragma once

#include <string>

#include "platform/ui/View.h"

struct FAQItem {
  std::string question;
  std::string answer;

  platform::ui::View body() const;
};
