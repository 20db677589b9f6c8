#include "TVS/FavoriteButton.h"

#include "TVS/TVSConstants.h"
#include "measurement/frontend/LMOAnalytics.h"
#include "platform/app/Haptics.h"

using namespace platform::ui;

namespace {

constexpr const char* kHeartFillImage = "heartfill";
constexpr const char* kHeartImage = "heart";

}  // namespace

void FavoriteButton::toggleFavorite(SoundViewModel& soundVM, const std::string& soundId,
                                    const SoundProducingEntity& entity, const State<bool>& isSet) {
  // The map decides, not the flag: a change made elsewhere may have left the flag behind.
  const auto& favourites = soundVM.favSoundIds().get();
  if (!favourites.empty() && favourites.count(soundId) != 0) {
    soundVM.favSoundIds().mutate(
        [&soundId](SoundViewModel::FavouriteMap& map) { map.erase(soundId); });
    isSet.set(false);
  } else {
    const std::string entityId = entity.id();
    soundVM.favSoundIds().mutate(
        [&soundId, &entityId](SoundViewModel::FavouriteMap& map) { map[soundId] = entityId; });
    isSet.set(true);
    LMOAnalytics::logEventWithName(tvs::kEventSoundFavorited,
                                   platform::Value::Dictionary{{tvs::kEventParameterId, soundId}});
  }
  platform::app::ImpactFeedbackGenerator(platform::app::ImpactStyle::Heavy).impactOccurred();
}

View FavoriteButton::body() const {
  auto flag = state(isSet);
  auto vm = observedObject(soundVM);
  auto owner = entity;
  auto id = soundId;
  return Button(
      [vm, owner, id, flag] {
        if (vm && owner) toggleFavorite(*vm, id, *owner, flag);
      },
      Image(*flag ? kHeartFillImage : kHeartImage));
}
