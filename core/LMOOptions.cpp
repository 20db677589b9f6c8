#include "core/LMOOptions.h"

#include <fstream>
#include <sstream>

#include "core/LMOApp.h"
#include "core/LMOBundleUtil.h"
#include "core/LMOConstants.h"
#include "core/LMOLogger.h"
#include "platform/base/Bundle.h"
#include "platform/base/Error.h"
#include "platform/base/Format.h"
#include "platform/base/PropertyList.h"

namespace {

using platform::Value;
using Dictionary = LMOOptions::Dictionary;

// The class-level caches. Read under the mutex; `resetDefaultOptions` clears them.
struct DefaultOptionsState {
  std::mutex mutex;
  bool dictionaryRead = false;
  std::optional<Dictionary> dictionary;
  bool optionsMade = false;
  std::shared_ptr<LMOOptions> options;
};
DefaultOptionsState& defaultState() {
  static auto* state = new DefaultOptionsState;
  return *state;
}

// The dictionary of a property-list file, or nullopt when it does not read as one.
std::optional<Dictionary> readDictionaryFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::stringstream buffer;
  buffer << in.rdbuf();
  Value parsed = platform::parsePropertyList(buffer.str());
  if (const auto* dict = parsed.dictionary()) return *dict;
  return std::nullopt;
}

// The boolean of a switch whatever its kind: numbers by value, strings as the platform reads them.
bool switchValue(const Value& value) {
  if (value.isNumber()) return value.boolValue();
  if (const auto* s = value.string()) {
    std::size_t i = 0;
    while (i < s->size() && ((*s)[i] == ' ' || (*s)[i] == '\t')) ++i;
    if (i >= s->size()) return false;
    const char c = (*s)[i];
    if (c == 'Y' || c == 'y' || c == 'T' || c == 't') return true;
    std::size_t j = i;
    if (c == '+' || c == '-') ++j;
    while (j < s->size() && (*s)[j] == '0') ++j;
    return j < s->size() && (*s)[j] >= '1' && (*s)[j] <= '9';
  }
  return false;
}

std::size_t stringHash(const std::optional<std::string>& s) {
  return s ? std::hash<std::string>()(*s) : 0;
}

}  // namespace

LMOOptions::LMOOptions(Token, Dictionary options) : optionsDictionary_(std::move(options)) {}

std::shared_ptr<LMOOptions> LMOOptions::defaultOptions() {
  auto& state = defaultState();
  {
    std::lock_guard lock(state.mutex);
    if (state.optionsMade) return state.options;
  }
  auto dictionary = defaultOptionsDictionary();
  std::lock_guard lock(state.mutex);
  if (!state.optionsMade) {
    state.optionsMade = true;
    if (dictionary) state.options = initInternalWithOptionsDictionary(*dictionary);
  }
  return state.options;
}

std::optional<Dictionary> LMOOptions::defaultOptionsDictionary() {
  auto& state = defaultState();
  std::lock_guard lock(state.mutex);
  if (state.dictionaryRead) return state.dictionary;
  state.dictionaryRead = true;
  auto path = plistFilePathWithName(lmo::kOptionsPlistName);
  if (path) {
    state.dictionary = readDictionaryFile(*path);
    if (!state.dictionary) {
      LMOLoggerLogError(lmo::kCoreService, lmo::kCodeConfigNotDictionary,
                        lmo::kConfigNotDictionaryMessage, lmo::kOptionsPlistName, lmo::kPlistType);
    }
  }
  return state.dictionary;
}

std::optional<std::string> LMOOptions::plistFilePathWithName(const std::string& name) {
  auto path = LMOBundleUtil::optionsDictionaryPathWithResourceName(
      name, lmo::kPlistType, LMOBundleUtil::relevantBundles());
  if (!path) {
    LMOLoggerLogError(lmo::kCoreService, lmo::kCodeConfigNotFound, lmo::kConfigNotFoundMessage,
                      name, lmo::kPlistType);
  }
  return path;
}

void LMOOptions::resetDefaultOptions() {
  auto& state = defaultState();
  std::lock_guard lock(state.mutex);
  state.dictionaryRead = false;
  state.dictionary.reset();
  state.optionsMade = false;
  state.options.reset();
}

std::shared_ptr<LMOOptions> LMOOptions::initInternalWithOptionsDictionary(
    const Dictionary& options) {
  auto made = std::make_shared<LMOOptions>(Token{}, options);
  made->usingOptionsFromDefaultPlist_ = true;
  return made;
}

std::shared_ptr<LMOOptions> LMOOptions::initWithContentsOfFile(
    const std::optional<std::string>& path) {
  if (!path) {
    LMOLoggerLogError(lmo::kCoreService, lmo::kCodeNilPlistPath, lmo::kNilPlistPathMessage);
    return nullptr;
  }
  auto dictionary = readDictionaryFile(*path);
  if (!dictionary) {
    LMOLoggerLogError(lmo::kCoreService, lmo::kCodeInvalidPlistFile, lmo::kInvalidPlistFileMessage,
                      *path);
    return nullptr;
  }
  return std::make_shared<LMOOptions>(Token{}, std::move(*dictionary));
}

std::shared_ptr<LMOOptions> LMOOptions::initWithVeltroAppID(const std::string& veltroAppID,
                                                            const std::string& VCMSenderID) {
  Dictionary dictionary{{lmo::kVeltroAppIDKey, Value(veltroAppID)},
                        {lmo::kVCMSenderIDKey, Value(VCMSenderID)}};
  if (auto bundle = platform::Bundle::mainBundle()) {
    dictionary[lmo::kBundleIDKey] = Value(bundle->bundleIdentifier());
  }
  return std::make_shared<LMOOptions>(Token{}, std::move(dictionary));
}

std::shared_ptr<LMOOptions> LMOOptions::copy() const {
  auto made = initInternalWithOptionsDictionary(optionsDictionary_);
  made->deepLinkURLScheme_ = deepLinkURLScheme_;
  made->appGroupID_ = appGroupID_;
  made->editingLocked_ = editingLocked_;
  made->usingOptionsFromDefaultPlist_ = usingOptionsFromDefaultPlist_;
  return made;
}

std::optional<std::string> LMOOptions::stringForKey(const char* key) const {
  auto it = optionsDictionary_.find(key);
  if (it == optionsDictionary_.end()) return std::nullopt;
  if (const auto* s = it->second.string()) return *s;
  return std::nullopt;
}

void LMOOptions::setStringForKey(const std::optional<std::string>& value, const char* key) {
  checkEditingLocked();
  if (value) {
    optionsDictionary_[key] = Value(*value);
  } else {
    optionsDictionary_.erase(key);
  }
}

void LMOOptions::checkEditingLocked() const {
  if (editingLocked_)
    throw platform::Exception(lmo::kOptionsExceptionName, lmo::kOptionsLockedReason);
}

#define LMO_OPTIONS_STRING_ACCESSORS(getter, setter, key)                             \
  std::optional<std::string> LMOOptions::getter() const { return stringForKey(key); } \
  void LMOOptions::setter(const std::optional<std::string>& value) { setStringForKey(value, key); }

LMO_OPTIONS_STRING_ACCESSORS(APIKey, setAPIKey, lmo::kAPIKeyKey)
LMO_OPTIONS_STRING_ACCESSORS(clientID, setClientID, lmo::kClientIDKey)
LMO_OPTIONS_STRING_ACCESSORS(trackingID, setTrackingID, lmo::kTrackingIDKey)
LMO_OPTIONS_STRING_ACCESSORS(VCMSenderID, setVCMSenderID, lmo::kVCMSenderIDKey)
LMO_OPTIONS_STRING_ACCESSORS(projectID, setProjectID, lmo::kProjectIDKey)
LMO_OPTIONS_STRING_ACCESSORS(androidClientID, setAndroidClientID, lmo::kAndroidClientIDKey)
LMO_OPTIONS_STRING_ACCESSORS(veltroAppID, setVeltroAppID, lmo::kVeltroAppIDKey)
LMO_OPTIONS_STRING_ACCESSORS(databaseURL, setDatabaseURL, lmo::kDatabaseURLKey)
LMO_OPTIONS_STRING_ACCESSORS(storageBucket, setStorageBucket, lmo::kStorageBucketKey)
LMO_OPTIONS_STRING_ACCESSORS(bundleID, setBundleID, lmo::kBundleIDKey)
#undef LMO_OPTIONS_STRING_ACCESSORS

bool LMOOptions::isAnalyticsEnabled() const {
  auto it = optionsDictionary_.find(lmo::kIsAnalyticsEnabledKey);
  return it != optionsDictionary_.end() && switchValue(it->second);
}

bool LMOOptions::isSignInEnabled() const {
  auto it = optionsDictionary_.find(lmo::kIsSignInEnabledKey);
  return it != optionsDictionary_.end() && switchValue(it->second);
}

void LMOOptions::setDeepLinkURLScheme(const std::optional<std::string>& value) {
  checkEditingLocked();
  deepLinkURLScheme_ = value;
}

void LMOOptions::setAppGroupID(const std::optional<std::string>& value) {
  checkEditingLocked();
  appGroupID_ = value;
}

const Dictionary& LMOOptions::analyticsOptionsDictionaryWithInfoDictionary(
    const Value& info) const {
  std::lock_guard lock(analyticsMutex_);
  if (!analyticsOptions_) {
    Dictionary built;
    for (const char* key : {lmo::kIsMeasurementEnabledKey, lmo::kAnalyticsCollectionEnabledKey,
                            lmo::kAnalyticsCollectionDeactivatedKey}) {
      const Value& fromInfo = info[key];
      if (!fromInfo.isNil()) {
        built[key] = fromInfo;
        continue;
      }
      auto it = optionsDictionary_.find(key);
      if (it != optionsDictionary_.end()) built[key] = it->second;
    }
    analyticsOptions_ = std::move(built);
  }
  return *analyticsOptions_;
}

const Dictionary& LMOOptions::analyticsOptionsDictionary() const {
  auto bundle = platform::Bundle::mainBundle();
  return analyticsOptionsDictionaryWithInfoDictionary(bundle ? bundle->infoDictionary()
                                                             : platform::nilValue());
}

const Value& LMOOptions::analyticsOption(const char* key) const {
  const auto& options = analyticsOptionsDictionary();
  auto it = options.find(key);
  return it == options.end() ? platform::nilValue() : it->second;
}

bool LMOOptions::isAnalyticsCollectionDeactivated() const {
  const Value& value = analyticsOption(lmo::kAnalyticsCollectionDeactivatedKey);
  return !value.isNil() && switchValue(value);
}

std::optional<bool> LMOOptions::measurementEnabledIfKnown(platform::ErrorPtr* error) const {
  if (isAnalyticsCollectionDeactivated()) return false;
  const Value& value = analyticsOption(lmo::kIsMeasurementEnabledKey);
  if (!value.isNil()) return switchValue(value);
  if (LMOApp::isDefaultAppConfigured()) {
    if (auto app = LMOApp::defaultApp()) return app->dataCollectionDefaultEnabledIfKnown(error);
  }
  return false;
}

std::optional<bool> LMOOptions::analyticsCollectionEnabledIfKnown(platform::ErrorPtr* error) const {
  if (isAnalyticsCollectionDeactivated()) return false;
  const Value& value = analyticsOption(lmo::kAnalyticsCollectionEnabledKey);
  if (!value.isNil()) return switchValue(value);
  return measurementEnabledIfKnown(error);
}

bool LMOOptions::isMeasurementEnabled() const {
  return measurementEnabledIfKnown(nullptr).value_or(false);
}

bool LMOOptions::isAnalyticsCollectionEnabled() const {
  return analyticsCollectionEnabledIfKnown(nullptr).value_or(false);
}

bool LMOOptions::isAnalyticsCollectionExplicitlySet() const {
  if (isAnalyticsCollectionDeactivated()) return true;
  if (analyticsOption(lmo::kAnalyticsCollectionEnabledKey).isNumber()) return true;
  return analyticsOption(lmo::kIsMeasurementEnabledKey).isNumber();
}

const std::string& LMOOptions::libraryVersionID() {
  static const std::string* id = [] {
    const std::string version = lmo::kCoreSDKVersion;
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (true) {
      auto dot = version.find('.', start);
      parts.push_back(version.substr(start, dot - start));
      if (dot == std::string::npos) break;
      start = dot + 1;
    }
    while (parts.size() < 3) parts.push_back("0");
    auto number = [](const std::string& s) { return std::atoi(s.c_str()); };
    return new std::string(platform::format(lmo::kLibraryVersionIDFormat, parts[0],
                                            platform::format("%02d", number(parts[1])),
                                            platform::format("%02d", number(parts[2]))));
  }();
  return *id;
}

bool LMOOptions::isEqualToOptions(const LMOOptions& other) const {
  if (this == &other) return true;
  return optionsDictionary_ == other.optionsDictionary_ &&
         deepLinkURLScheme_ == other.deepLinkURLScheme_ && appGroupID_ == other.appGroupID_ &&
         analyticsOptionsDictionary() == other.analyticsOptionsDictionary();
}

bool LMOOptions::isEqual(const platform::Object& other) const {
  const auto* options = dynamic_cast<const LMOOptions*>(&other);
  return options && isEqualToOptions(*options);
}

std::size_t LMOOptions::hash() const {
  return Value(optionsDictionary_).hash() ^ stringHash(deepLinkURLScheme_) ^
         stringHash(appGroupID_);
}

std::string LMOOptions::description() const {
  return platform::format("<LMOOptions: %p> %@", platform::pointerValue(this),
                          Value(optionsDictionary_));
}
