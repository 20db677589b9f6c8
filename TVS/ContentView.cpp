#include "TVS/ContentView.h"

#include "TVS/EntitiesView.h"
#include "TVS/FavoritesView.h"
#include "TVS/SettingsView.h"
#include "TVS/TVSConstants.h"

using namespace platform::ui;

namespace {

// Portrait side in the favourites rows.
constexpr double kFavoritesImageSize = 70;

View favouritesItem(const SoundViewModelPtr& soundVM) {
  View label = SystemImage("heart.fill").foregroundColor(Color::pink());
  return NavigationLink(
      [soundVM] {
        return View(FavoritesView{soundVM, kFavoritesImageSize});
      },
      label);
}

View settingsItem() {
  return NavigationLink([] { return View(SettingsView{}); }, SystemImage("gear"));
}

}  // namespace

View ContentView::body() const {
  auto make = makeSoundVM;
  auto soundVM = stateObject<SoundViewModel>(
      [make]() -> SoundViewModelPtr { return make ? make() : std::make_shared<SoundViewModel>(); });
  return NavigationView(
      View(EntitiesView{soundVM, tvs::kGridImageSize, entities})
          .navigationTitle(tvs::kRootTitle)
          .navigationBarTitleDisplayMode(NavigationBarTitleDisplayMode::inlineMode)
          .toolbar({{ToolbarPlacement::navigationBarLeading, favouritesItem(soundVM)},
                    {ToolbarPlacement::navigationBarTrailing, settingsItem()}}));
}
