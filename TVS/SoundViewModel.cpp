#include "TVS/SoundViewModel.h"

#include <string_view>

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
#include "platform/dispatch/DispatchQueue.h"

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

// A favourites id as the console line shows it: quotes, backslashes and anything that would end
// or break the line are escaped, so the whole map stays on one line.
void appendEscaped(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    switch (c) {
      case '"':
        out += "\\\"";
        continue;
      case '\\':
        out += "\\\\";
        continue;
      case '\0':
        out += "\\0";
        continue;
      case '\t':
        out += "\\t";
        continue;
      case '\n':
        out += "\\n";
        continue;
      case '\r':
        out += "\\r";
        continue;
      default:
        break;
    }
    if (c < 0x20 || c == 0x7F) {
      out += "\\u{";
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
      out += '}';
      continue;
    }
    // The C1 controls (next-line among them) and the line and paragraph separators; ids are
    // valid UTF-8, so these byte sequences are whole characters.
    if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
        static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
      const auto control = static_cast<unsigned char>(text[i + 1]);
      out += "\\u{";
      out += kHex[control >> 4];
      out += kHex[control & 0xF];
      out += '}';
      ++i;
      continue;
    }
    if (c == 0xE2 && text.substr(i, 3) == "\xE2\x80\xA8") {
      out += "\\u{2028}";
      i += 2;
      continue;
    }
    if (c == 0xE2 && text.substr(i, 3) == "\xE2\x80\xA9") {
      out += "\\u{2029}";
      i += 2;
      continue;
    }
    out += static_cast<char>(c);
  }
}

// The favourites as the app prints a dictionary of strings: ["sound": "entity", ...] in key
// order, "[:]" when empty, always one line.
std::string favouritesLine(const SoundViewModel::FavouriteMap& favourites) {
  if (favourites.empty()) return "[:]";
  std::string line = "[";
  bool first = true;
  for (const auto& [soundId, entityId] : favourites) {
    if (!first) line += ", ";
    first = false;
    line += '"';
    appendEscaped(line, soundId);
    line += "\": \"";
    appendEscaped(line, entityId);
    line += '"';
  }
  return line + "]";
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
      favSoundIds_(this, readStoredFavourites(*defaults_, &readError_).value_or(FavouriteMap())) {
  favSoundIds_.setDidChange(
      [this](const FavouriteMap& favourites) { favouritesDidChange(favourites); });
  if (readError_) readAgainLater();
}

void SoundViewModel::readAgainLater() {
  std::weak_ptr<char> alive = alive_;
  platform::DispatchQueue::main()->after(kFavouritesReadAgainSeconds, [this, alive] {
    if (alive.expired() || !readError_) return;
    // Every change made meanwhile touched a sound; without one there is nothing to write.
    const bool changedMeanwhile = !changedWhileNotKnown_.empty();
    if (!adoptStoredFavourites()) {
      readAgainLater();
      return;
    }
    if (changedMeanwhile) persist(favSoundIds_.get());
  });
}

void SoundViewModel::persist(const FavouriteMap& favourites) {
  defaults_->setObject(platform::Value(toDictionary(favourites)), tvs::kFavSoundIdsKey);
}

std::optional<SoundViewModel::FavouriteMap> SoundViewModel::readStoredFavourites(
    const platform::UserDefaults& defaults, platform::ErrorPtr* error) {
  platform::ErrorPtr readError;
  platform::Value stored = defaults.objectForKey(tvs::kFavSoundIdsKey, &readError);
  if (readError) {
    if (error) *error = readError;
    return std::nullopt;
  }
  if (error) *error = nullptr;
  const platform::Value::Dictionary* dictionary = stored.dictionary();
  if (!dictionary) return FavouriteMap();
  FavouriteMap favourites;
  for (const auto& [soundId, entityId] : *dictionary) {
    // One value of another type makes the whole stored value unusable.
    if (!entityId.string()) return FavouriteMap();
    favourites.emplace(soundId, *entityId.string());
  }
  return favourites;
}

bool SoundViewModel::adoptStoredFavourites() {
  const FavouriteMap& changed = favSoundIds_.get();
  for (const auto& [soundId, entityId] : changed) {
    auto before = shownWhileNotKnown_.find(soundId);
    if (before == shownWhileNotKnown_.end() || before->second != entityId) {
      changedWhileNotKnown_.insert(soundId);
    }
  }
  for (const auto& [soundId, entityId] : shownWhileNotKnown_) {
    if (!changed.count(soundId)) changedWhileNotKnown_.insert(soundId);
  }
  shownWhileNotKnown_ = changed;

  auto stored = readStoredFavourites(*defaults_, &readError_);
  if (!stored) return false;
  // The user's last word on each sound they touched wins; every other stored favourite stays.
  FavouriteMap merged = std::move(*stored);
  for (const std::string& soundId : changedWhileNotKnown_) {
    auto now = changed.find(soundId);
    if (now == changed.end()) {
      merged.erase(soundId);
    } else {
      merged[soundId] = now->second;
    }
  }
  shownWhileNotKnown_.clear();
  changedWhileNotKnown_.clear();
  if (merged != changed) {
    adopting_ = true;
    favSoundIds_.set(std::move(merged));
    adopting_ = false;
  }
  return true;
}

void SoundViewModel::favouritesDidChange(const FavouriteMap& favourites) {
  if (adopting_) return;
  // Writing the whole map now would replace favourites that exist but could not be read.
  if (readError_ && !adoptStoredFavourites()) {
    tvs::consolePrint(favouritesLine(favourites));
    return;
  }
  const FavouriteMap& current = favSoundIds_.get();
  persist(current);
  tvs::consolePrint(favouritesLine(current));
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
