#include "TVS/FavoritesView.h"

#include <string>
#include <vector>

#include "TVS/BackgroundView.h"
#include "TVS/CircleImageView.h"
#include "TVS/EntityLoader.h"
#include "TVS/FavoriteButton.h"
#include "TVS/ShareButton.h"
#include "TVS/SoundView.h"
#include "TVS/WrapperSoundWithEntity.h"

using namespace platform::ui;

View FavoritesView::body() const {
  auto vm = observedObject(soundVM);
  const double size = imageSize;

  // Resolved here rather than per row so that a favourite the catalogue no longer holds takes
  // no row at all.
  std::vector<std::string> ids;
  auto rows = std::make_shared<std::vector<WrapperSoundWithEntityPtr>>();
  if (vm) {
    for (const auto& [soundId, entityId] : vm->favSoundIds().get()) {
      auto found = EntityLoader::findSound(entityId, soundId);
      if (!found || !found->entity() || !found->sound()) continue;
      ids.push_back(soundId);
      rows->push_back(std::move(found));
    }
  }

  View list =
      List({ForEach(std::move(ids), [vm, size, rows](std::size_t i) -> View {
        const auto& row = (*rows)[i];
        const SoundProducingEntityPtr& entity = row->entity();
        const SoundPtr& sound = row->sound();
        return HStack(HStackOptions{.alignment = VerticalAlignment::center},
                      {View(CircleImageView{entity->imageName(), size}),
                       View(SoundView{sound, entity, vm})})
            .swipeActions(
                HorizontalEdge::trailing, /*allowsFullSwipe=*/false,
                {View(FavoriteButton{vm->isFavourite(sound->id()), sound->id(), entity, vm}),
                 View(ShareButton{entity, sound, vm})})
            .listRowSeparator(Visibility::hidden, Edges::all)
            .listRowBackground(Color::clear());
      })}).listStyle(ListStyle::plain);

  return VStack(VStackOptions{.alignment = HorizontalAlignment::center}, {list})
      .background(BackgroundView{}, Alignment::center());
}
