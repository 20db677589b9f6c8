#include "TVS/SoundViewModel.h"

#include "TVS/Console.h"
#include "TVS/TVSConstants.h"
#include "measurement/frontend/LMOAnalytics.h"
#include "platform/app/ActivityViewController.h"
#include "platform/app/AppConstants.h"
#include "platform/app/Application.h"
#include "platform/app/AudioSession.h"
#include "platform/app/Window.h"
#include "platform/base/Bundle.h"
#include "platform/base/Error.h"

namespace {

// An id names a folder or a file inside the sound bundle; anything that could name another
// place, or nothing at all, finds no file.
bool isSafePathComponent(const std::string& id) {
  if (id.empty() || id == "." || id == "..") return false;
  return id.find('/') == std::string::npos && id.find('\0') == std::string::npos;
}

platform::Value::Dictionary toDictionary(const SoundViewModel::FavouriteMap& favourites) {
  platform::Value::Dictionary dictionary;
  for (const auto& [soundId, entityId] : favourites) dictionary.emplace(soundId, entityId);
  return dictionary;
}

// What a clip without a file reports, worded as the platform words a missing file.
std::string missingFileLine(const Sound& sound) {
  return platform::Error::withDescription(
             platform::kFileErrorDomain, platform::kFileReadNoSuchFileError,
             "The file \"" + sound.id() + tvs::kSoundFileExtension +
                 "\" couldn't be opened because there is no such file.")
      ->localizedDescription();
}

void sendEvent(const char* name, const Sound& sound) {
  LMOAnalytics::logEventWithName(name,
                                 platform::Value::Dictionary{{tvs::kEventParameterId, sound.id()}});
}

}  // namespace

std::shared_ptr<platform::app::AudioPlayer>& soundPlayer() {
  static auto* player = new std::shared_ptr<platform::app::AudioPlayer>(
      std::make_shared<platform::app::AudioPlayer>());
  return *player;
}

SoundViewModel::SoundViewModel()
    : defaults_(platform::UserDefaults::standardUserDefaults()),
      favSoundIds_(this, readStoredFavourites(*defaults_)) {
  favSoundIds_.setDidChange(
      [this](const FavouriteMap& favourites) { favouritesDidChange(favourites); });
}

SoundViewModel::FavouriteMap SoundViewModel::readStoredFavourites(
    const platform::UserDefaults& defaults) {
  platform::Value stored = defaults.objectForKey(tvs::kFavSoundIdsKey);
  const platform::Value::Dictionary* dictionary = stored.dictionary();
  if (!dictionary) return {};
  FavouriteMap favourites;
  for (const auto& [soundId, entityId] : *dictionary) {
    // One value of another type makes the whole stored value unusable.
    if (!entityId.string()) return {};
    favourites.emplace(soundId, *entityId.string());
  }
  return favourites;
}

void SoundViewModel::favouritesDidChange(const FavouriteMap& favourites) {
  platform::Value value(toDictionary(favourites));
  defaults_->setObject(value, tvs::kFavSoundIdsKey);
  tvs::consolePrint(value.description());
}

std::optional<std::string> SoundViewModel::soundFileURL(const Sound& sound,
                                                        const SoundProducingEntity& entity) {
  auto mainBundle = platform::Bundle::mainBundle();
  if (!mainBundle) return std::nullopt;
  auto soundBundlePath = mainBundle->pathForResource(tvs::kSoundBundleName, tvs::kSoundBundleType);
  if (!soundBundlePath) return std::nullopt;
  auto soundBundle = platform::Bundle::bundleWithPath(*soundBundlePath);
  if (!soundBundle) return std::nullopt;
  if (!isSafePathComponent(sound.id()) || !isSafePathComponent(entity.id())) return std::nullopt;
  return soundBundle->urlForResource(sound.id(), tvs::kSoundFileExtension, entity.id());
}

void SoundViewModel::playSound(const SoundPtr& sound, const SoundProducingEntityPtr& entity) {
  if (!sound || !entity) return;
  auto& player = soundPlayer();
  player->stop();
  std::optional<std::string> url = soundFileURL(*sound, *entity);

  auto& session = platform::app::AudioSession::sharedInstance();
  platform::ErrorPtr error;
  if (!session.setCategory(platform::app::AudioSessionCategory::Playback,
                           platform::app::AudioSessionMode::Default, 0, &error)) {
    tvs::consolePrint(error ? error->localizedDescription() : "audio session category refused");
    return;
  }
  if (!session.setActive(true, 0, &error)) {
    tvs::consolePrint(error ? error->localizedDescription() : "audio session activation refused");
    return;
  }
  // A clip without a file fails the way a player that cannot open its file does.
  if (!url) {
    tvs::consolePrint(missingFileLine(*sound));
    return;
  }
  auto opened =
      platform::app::AudioPlayer::create(*url, platform::app::kFileTypeMPEGLayer3, &error);
  if (!opened) {
    tvs::consolePrint(error ? error->localizedDescription() : "the audio file could not be opened");
    return;
  }
  player = std::move(opened);
  player->play();
  sendEvent(tvs::kEventSoundPlay, *sound);
}

void SoundViewModel::shareSound(const SoundPtr& sound, const SoundProducingEntityPtr& entity) {
  if (!sound || !entity) return;
  std::optional<std::string> url = soundFileURL(*sound, *entity);
  if (!url) {
    // Nothing to hand over: no sheet, but the share is still reported like every other.
    tvs::consolePrint(missingFileLine(*sound));
    sendEvent(tvs::kEventSoundShare, *sound);
    return;
  }
  auto sheet = std::make_shared<platform::app::ActivityViewController>(
      std::vector<platform::Value>{platform::Value(*url)}, std::vector<platform::ObjectPtr>{});

  auto application = platform::app::Application::sharedApplication();
  std::shared_ptr<platform::app::Window> firstWindow =
      application->windows().empty() ? nullptr : application->windows().front();
  if (application->userInterfaceIdiom() == platform::ui::UserInterfaceIdiom::pad) {
    sheet->setModalPresentationStyle(platform::app::ModalPresentationStyle::popover);
    auto& popover = sheet->popoverPresentationController();
    popover.sourceRect = platform::ui::Rect{0, 0, 0, 0};
    popover.sourceView = firstWindow;
  }
  if (firstWindow) {
    if (auto root = firstWindow->rootViewController()) {
      root->presentViewController(sheet, /*animated=*/true, {});
    }
  }
  sendEvent(tvs::kEventSoundShare, *sound);
}
