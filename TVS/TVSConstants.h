// The app's own texts: resource names, user-defaults keys, analytics event names, titles and
// console lines. Kept in one place so that a name is spelled the same everywhere.
#pragma once

namespace tvs {

// Catalogue resource in the main bundle.
inline constexpr const char* kCatalogueResourceName = "SoundProducingEntities";
inline constexpr const char* kCatalogueResourceType = "json";
inline constexpr const char* kCatalogueUnreadableLine = "error parsing entities";

// The sound bundle: "app_sounds.bundle/<entity id>/<sound id>.mp3".
inline constexpr const char* kSoundBundleName = "app_sounds";
inline constexpr const char* kSoundBundleType = "bundle";
inline constexpr const char* kSoundFileExtension = ".mp3";

// Favourites: sound id -> entity id, in the standard user defaults.
inline constexpr const char* kFavSoundIdsKey = "favSoundIds";

// Analytics events and their one parameter.
inline constexpr const char* kEventSoundPlay = "sound_play";
inline constexpr const char* kEventSoundShare = "sound_share";
inline constexpr const char* kEventSoundFavorited = "sound_favorited";
inline constexpr const char* kEventParameterId = "id";

// Screens.
inline constexpr const char* kRootTitle = "Tavo Vastrow Soundboard";
inline constexpr const char* kBackgroundImageLight = "what-the-hex";
inline constexpr const char* kBackgroundImageDark = "what-the-hex-dark";
inline constexpr double kGridImageSize = 110;
inline constexpr double kEntityPageImageSize = 125;

}  // namespace tvs
