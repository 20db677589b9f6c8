#include "TVS/CircleImageView.h"

using namespace platform::ui;

View CircleImageView::body() const {
  return Image(imageName)
      .resizable()
      .clipShape(Circle())
      .shadow(Color::whiteLevel(0, 0.33), 5, 0, 0)
      .overlay(Circle().stroke(Color::white(), 3))
      .frame(imageSize, imageSize);
}
