#include "TVS/ContentView.h"

#include "TVS/EntitiesView.h"
#include "TVS/TVSConstants.h"

// The favourites and settings screens live in their own files; the toolbar links to them once
// they exist and shows the bare items until then.
#if __has_include("TVS/FavoritesView.h")
#include "TVS/FavoritesView.h"
#define TVS_HAS_FAVORITES_VIEW 1
#endif
#if __has_include("TVS/SettingsView.h")
#include "TVS/SettingsView.h"
#define TVS_HAS_SETTINGS_VIEW 1
#endif

using namespace platform::ui;

namespace {

// Portrait side in the favourites rows.
constexpr double kFavoritesImageSize = 70;

View favouritesItem([[maybe_unused]] const SoundViewModelPtr& soundVM) {
  View label = SystemImage("heart.fill").foregroundColor(Color::pink());
#ifdef TVS_HAS_FAVORITES_VIEW
  return NavigationLink(
      [soundVM] {
        return View(FavoritesView{soundVM, kFavoritesImageSize});
      },
      label);
#else
  (void)kFavoritesImageSize;
  return label;
#endif
}

View settingsItem() {
  View label = SystemImage("gear");
#ifdef TVS_HAS_SETTINGS_VIEW
  return NavigationLink([] { return View(SettingsView{}); }, label);
#else
  return label;
#endif
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
