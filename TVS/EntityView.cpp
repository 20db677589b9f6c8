#include "TVS/EntityView.h"

#include "TVS/BackgroundView.h"
#include "TVS/CircleImageView.h"
#include "TVS/SoundView.h"

// The favourite and share actions live in their own files; rows carry them once they exist.
#if __has_include("TVS/FavoriteButton.h") && __has_include("TVS/ShareButton.h")
#include "TVS/FavoriteButton.h"
#include "TVS/ShareButton.h"
#define TVS_HAS_SWIPE_ACTIONS 1
#endif

using namespace platform::ui;

View EntityView::body() const {
  auto vm = observedObject(soundVM);
  auto owner = entity;
  View rows = ForEach(owner->sounds().size(), [vm, owner](std::size_t i) -> View {
    SoundPtr sound = owner->sounds()[i];
    View row = View(SoundView{sound, owner, vm});
#ifdef TVS_HAS_SWIPE_ACTIONS
    bool isSet = vm && vm->isFavourite(sound->id());
    row = row.swipeActions(
        HorizontalEdge::trailing, /*allowsFullSwipe=*/false,
        {View(FavoriteButton{isSet, sound->id(), owner, vm}), View(ShareButton{owner, sound, vm})});
#endif
    return row.listRowSeparator(Visibility::hidden, Edges::all).listRowBackground(Color::clear());
  });
  return VStack(VStackOptions{.alignment = HorizontalAlignment::center},
                {View(CircleImageView{owner->imageName(), imageSize}),
                 List({rows}).listStyle(ListStyle::plain)})
      .navigationTitle(owner->displayName())
      .background(BackgroundView{}, Alignment::center());
}
