#include "TVS/EntityView.h"

#include "TVS/BackgroundView.h"
#include "TVS/CircleImageView.h"
#include "TVS/FavoriteButton.h"
#include "TVS/ShareButton.h"
#include "TVS/SoundView.h"

using namespace platform::ui;

View EntityView::body() const {
  auto vm = observedObject(soundVM);
  auto owner = entity;
  View rows = ForEach(owner->sounds().size(), [vm, owner](std::size_t i) -> View {
    SoundPtr sound = owner->sounds()[i];
    const bool isSet = vm && vm->isFavourite(sound->id());
    View row = View(SoundView{sound, owner, vm})
                   .swipeActions(HorizontalEdge::trailing, /*allowsFullSwipe=*/false,
                                 {View(FavoriteButton{isSet, sound->id(), owner, vm}),
                                  View(ShareButton{owner, sound, vm})});
    return row.listRowSeparator(Visibility::hidden, Edges::all).listRowBackground(Color::clear());
  });
  return VStack(VStackOptions{.alignment = HorizontalAlignment::center},
                {View(CircleImageView{owner->imageName(), imageSize}),
                 List({rows}).listStyle(ListStyle::plain)})
      .navigationTitle(owner->displayName())
      .background(BackgroundView{}, Alignment::center());
}
