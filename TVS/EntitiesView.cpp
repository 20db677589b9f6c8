#include "TVS/EntitiesView.h"

#include "TVS/BackgroundView.h"
#include "TVS/CircleImageView.h"
#include "TVS/EntityView.h"
#include "TVS/TVSConstants.h"

using namespace platform::ui;

View EntitiesView::body() const {
  auto vm = observedObject(soundVM);
  auto catalogue = entities;
  double size = imageSize;
  View cells = ForEach(catalogue.size(), [vm, catalogue, size](std::size_t i) -> View {
    SoundProducingEntityPtr entity = catalogue[i];
    return NavigationLink(
        [vm, entity] {
          return View(EntityView{entity, vm, tvs::kEntityPageImageSize});
        },
        View(CircleImageView{entity->imageName(), size}));
  });
  View grid =
      LazyVGrid({GridItem::adaptive(size, infinity)},
                LazyVGridOptions{.alignment = HorizontalAlignment::center, .spacing = 20}, {cells})
          .padding(Edges::leading, 10)
          .padding(Edges::trailing, 10);
  View spacer = Rectangle().opacity(0).frame(std::nullopt, 20);
  return ScrollView(Axis::vertical, /*showsIndicators=*/true, VStack({spacer, grid}))
      .background(BackgroundView{}, Alignment::center());
}
