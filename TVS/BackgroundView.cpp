#include "TVS/BackgroundView.h"

#include "TVS/TVSConstants.h"

using namespace platform::ui;

View BackgroundView::body() const {
  ColorScheme colorScheme = environment().colorScheme;
  return Image(colorScheme == ColorScheme::dark ? tvs::kBackgroundImageDark
                                                : tvs::kBackgroundImageLight)
      .resizable(EdgeInsets{}, ImageResizingMode::tile)
      .edgesIgnoringSafeArea(Edges::all);
}
