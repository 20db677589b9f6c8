#include "TVS/SoundView.h"

#include "TVS/Console.h"

using namespace platform::ui;

View SoundView::body() const {
  ColorScheme colorScheme = environment().colorScheme;
  auto vm = observedObject(soundVM);
  auto clip = sound;
  auto owner = entity;
  auto action = [vm, clip, owner] {
    tvs::consolePrint(clip->id());
    if (vm) vm->playSound(clip, owner);
  };
  View title = ZStack(
      Alignment::center(),
      {Text(sound->displayName())
           .font(Font::title().withWeight(FontWeight::semibold))
           .padding()
           .frame({.maxWidth = infinity})
           .foregroundColor(colorScheme == ColorScheme::dark ? Color::white() : Color::black())
           .opacity(0.9)
           .background(View(Color::gray()).clipShape(RoundedRectangle(10)).opacity(0.5))});
  return HStack({Button(action, title)});
}
