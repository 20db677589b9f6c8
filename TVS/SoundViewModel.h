// The one model object behind the app's screens: plays a clip through the process-wide
// `soundPlayer`, hands a clip's file to the share sheet, and keeps the favourites (sound id ->
// entity id) in the standard user defaults under "favSoundIds". Observed by the screens: every
// change of `favSoundIds` is announced before it is made, then persisted and printed. Favourites
// that could not be read at construction are not known: the model then shows only the changes
// made since, writes nothing, and reads the stored ones again at each change and every few seconds
// until one read succeeds; the changes are then applied onto what is stored and written, without
// waiting for another change. Main thread only.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "TVS/Sound.h"
#include "TVS/SoundProducingEntity.h"
#include "platform/app/AudioPlayer.h"
#include "platform/base/UserDefaults.h"
#include "platform/ui/State.h"

// The player shared by the whole process: an empty player on first use, replaced by a new player
// for every clip that opens. Main thread only.
std::shared_ptr<platform::app::AudioPlayer>& soundPlayer();

class SoundViewModel : public platform::ui::ObservableObject {
 public:
  using FavouriteMap = std::map<std::string, std::string>;

  // Reads the stored favourites; accepts only a dictionary of strings, else starts empty (and
  // empty, not known, when the defaults file cannot be read now). Writes nothing.
  SoundViewModel();
  SoundViewModel(const SoundViewModel&) = delete;
  SoundViewModel& operator=(const SoundViewModel&) = delete;

  const std::shared_ptr<platform::UserDefaults>& defaults() const { return defaults_; }

  // Read it, assign it whole (`favSoundIds().set(map)`) or change it in place
  // (`favSoundIds().mutate([](FavouriteMap& m) { m.erase(id); })`); each change is one write of
  // the whole map and one console line.
  platform::ui::Published<FavouriteMap>& favSoundIds() { return favSoundIds_; }
  const FavouriteMap& favSoundIds() const { return favSoundIds_.get(); }
  bool isFavourite(const std::string& soundId) const { return favSoundIds_->count(soundId) != 0; }

  // Stops whatever plays, sets up the playback session, plays the clip from its start and sends
  // "sound_play". A failure prints one console line and leaves the stopped player in place.
  void playSound(const SoundPtr& sound, const SoundProducingEntityPtr& entity);
  // Presents the share sheet with the clip's file from the first window's root view controller
  // and sends "sound_share", whether or not a sheet could be presented.
  void shareSound(const SoundPtr& sound, const SoundProducingEntityPtr& entity);

  // "file://…/app_sounds.bundle/<entity id>/<sound id>.mp3", or nothing when the sound bundle or
  // the clip is missing, or an id could leave its folder.
  static std::optional<std::string> soundFileURL(const Sound& sound,
                                                 const SoundProducingEntity& entity);

 private:
  // Nothing, with *error set, when the defaults file cannot be read now.
  static std::optional<FavouriteMap> readStoredFavourites(const platform::UserDefaults& defaults,
                                                          platform::ErrorPtr* error);
  void favouritesDidChange(const FavouriteMap& favourites);
  // Reads the stored favourites again and puts the sounds changed meanwhile onto them. False,
  // and nothing changed, while the file still cannot be read.
  bool adoptStoredFavourites();
  // While the stored favourites are not known, reads them again on the main queue a little later.
  void readAgainLater();
  void persist(const FavouriteMap& favourites);

  static constexpr double kFavouritesReadAgainSeconds = 2;

  std::shared_ptr<platform::UserDefaults> defaults_;
  platform::ErrorPtr readError_;
  platform::ui::Published<FavouriteMap> favSoundIds_;
  // While the stored favourites are not known: the map as the last change left it, and every
  // sound id a change touched since construction.
  FavouriteMap shownWhileNotKnown_;
  std::set<std::string> changedWhileNotKnown_;
  bool adopting_ = false;
  // Expires with this object: a later read on the main queue checks it first.
  std::shared_ptr<char> alive_ = std::make_shared<char>();
};

using SoundViewModelPtr = std::shared_ptr<SoundViewModel>;
