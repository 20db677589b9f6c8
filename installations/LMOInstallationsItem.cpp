#include "installations/LMOInstallationsItem.h"

#include <charconv>
#include <cmath>
#include <system_error>
#include <vector>

#include "installations/LMOInstallationsConstants.h"
#include "installations/LMOInstallationsErrorUtil.h"
#include "platform/base/Format.h"
#include "platform/base/PropertyList.h"
#include "platform/runtime/Crypto.h"

using platform::Bytes;
using platform::ErrorPtr;
using platform::Value;

LMOInstallationsItem::LMOInstallationsItem(std::string appID, std::string lumoAppName)
    : appID_(std::move(appID)), lumoAppName_(std::move(lumoAppName)) {}

std::shared_ptr<LMOInstallationsItem> LMOInstallationsItem::initWithAppID(
    const std::string& appID, const std::string& lumoAppName) {
  return std::make_shared<LMOInstallationsItem>(appID, lumoAppName);
}

std::shared_ptr<LMOInstallationsItem> LMOInstallationsItem::copy() const {
  auto other = initWithAppID(appID_, lumoAppName_);
  other->lumoInstallationID = lumoInstallationID;
  other->refreshToken = refreshToken;
  other->authToken = authToken ? authToken->copy() : nullptr;
  other->registrationStatus = registrationStatus;
  other->IIDDefaultToken = IIDDefaultToken;
  return other;
}

void LMOInstallationsItem::updateWithStoredItem(const LMOInstallationsStoredItem& item) {
  lumoInstallationID = item.lumoInstallationID;
  refreshToken = item.refreshToken;
  authToken = item.authToken;
  registrationStatus = static_cast<LMOInstallationsRegistrationStatus>(item.registrationStatus);
  IIDDefaultToken = item.IIDDefaultToken;
}

std::shared_ptr<LMOInstallationsStoredItem> LMOInstallationsItem::storedItem() const {
  auto item = std::make_shared<LMOInstallationsStoredItem>();
  item->lumoInstallationID = lumoInstallationID;
  item->refreshToken = refreshToken;
  item->authToken = authToken;
  item->registrationStatus = static_cast<long>(registrationStatus);
  item->IIDDefaultToken = IIDDefaultToken;
  return item;
}

std::string LMOInstallationsItem::identifier() const {
  return identifierWithAppID(appID_, lumoAppName_);
}

std::string LMOInstallationsItem::identifierWithAppID(const std::string& appID,
                                                      const std::string& appName) {
  return appID + appName;
}

bool LMOInstallationsItem::isValid(ErrorPtr* error) const {
  std::vector<std::string> messages;
  if (appID_.empty()) messages.emplace_back(lmoinst::kAppIDEmpty);
  if (lumoAppName_.empty()) messages.emplace_back(lmoinst::kAppNameEmpty);
  if (!lumoInstallationID || lumoInstallationID->empty()) messages.emplace_back(lmoinst::kFIDEmpty);
  switch (registrationStatus) {
    case LMOInstallationsRegistrationStatus::Registered:
      // Presence only: the service's empty strings are its own business.
      if (!refreshToken) messages.emplace_back(lmoinst::kRefreshTokenEmpty);
      if (!authToken || !authToken->token()) messages.emplace_back(lmoinst::kAuthTokenEmpty);
      if (!authToken || !authToken->expirationDate()) {
        messages.emplace_back(lmoinst::kAuthTokenDateEmpty);
      }
      break;
    case LMOInstallationsRegistrationStatus::Unknown:
      messages.emplace_back(lmoinst::kInvalidStatus);
      break;
    default:
      break;
  }
  if (messages.empty()) return true;
  std::string joined;
  for (const auto& m : messages) joined += (joined.empty() ? "" : ", ") + m;
  LMOInstallationsAssignErrorPointer(
      LMOInstallationsErrorUtil::installationsErrorWithCode(
          lmoinst::kErrorCodeUnknown, platform::format(lmoinst::kValidationErrorsFormat, joined),
          nullptr),
      error);
  return false;
}

std::string LMOInstallationsItem::generateFID() {
  const platform::crypto::UUIDBytes uuid = platform::crypto::uuidBytes();
  Bytes bytes;
  bytes.reserve(17);
  bytes.push_back(static_cast<std::uint8_t>(0x70 | (uuid[15] & 0x0F)));
  bytes.insert(bytes.end(), uuid.begin(), uuid.end());
  return base64URLEncodedStringWithData(bytes).substr(0, 22);
}

std::string LMOInstallationsItem::base64URLEncodedStringWithData(const Bytes& data) {
  std::string text = platform::crypto::base64Encode(data);
  for (char& c : text) {
    if (c == '/') c = '_';
  }
  for (char& c : text) {
    if (c == '+') c = '-';
  }
  return text;
}

namespace {

// "604800s": the unit character is dropped whatever it is; what is left must be a plain decimal
// number of seconds (digits, optionally a point and more digits), or nothing at all (0). Signs,
// exponents, hexadecimal, infinities, NaN and blanks are refused: they would give a token that
// is never refreshed or one whose lifetime the service did not state.
std::optional<double> secondsFromExpiresIn(const std::string& expiresIn) {
  const std::string number = expiresIn.substr(0, expiresIn.size() - 1);
  if (number.empty()) return 0.0;
  auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  std::size_t i = 0;
  while (i < number.size() && isDigit(number[i])) ++i;
  if (i == 0) return std::nullopt;
  if (i < number.size()) {
    if (number[i] != '.') return std::nullopt;
    const std::size_t fraction = ++i;
    while (i < number.size() && isDigit(number[i])) ++i;
    if (i == fraction || i < number.size()) return std::nullopt;
  }
  double seconds = 0;
  const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), seconds,
                                            std::chars_format::fixed);
  if (error != std::errc() || end != number.data() + number.size() || !std::isfinite(seconds)) {
    return std::nullopt;
  }
  return seconds;
}

}  // namespace

std::shared_ptr<LMOInstallationsStoredAuthToken> LMOInstallationsItem::authTokenWithJSONDict(
    const Value::Dictionary& dict, double date, ErrorPtr* error) {
  auto token = validStringOrNilForKey(lmoinst::kKeyToken, dict);
  if (!token) {
    LMOInstallationsAssignErrorPointer(
        LMOInstallationsErrorUtil::FIDRegistrationErrorWithResponseMissingField("authToken.token"),
        error);
    return nullptr;
  }
  auto expiresIn = validStringOrNilForKey("expiresIn", dict);
  const auto seconds = expiresIn ? secondsFromExpiresIn(*expiresIn) : std::nullopt;
  if (!seconds) {
    LMOInstallationsAssignErrorPointer(
        LMOInstallationsErrorUtil::FIDRegistrationErrorWithResponseMissingField(
            "authToken.expiresIn"),
        error);
    return nullptr;
  }
  auto result = std::make_shared<LMOInstallationsStoredAuthToken>();
  result->setStatus(LMOInstallationsAuthTokenStatus::TokenOK);
  result->setToken(*token);
  result->setExpirationDate(date + *seconds);
  return result;
}

std::shared_ptr<LMOInstallationsStoredAuthToken>
LMOInstallationsItem::authTokenWithGenerateTokenAPIJSONData(const Bytes& data, double date,
                                                            ErrorPtr* error) {
  auto dict = dictionaryFromJSONData(data, error);
  if (!dict) return nullptr;
  return authTokenWithJSONDict(*dict, date, error);
}

std::shared_ptr<LMOInstallationsItem> LMOInstallationsItem::registeredInstallationWithJSONData(
    const Bytes& data, double date, ErrorPtr* error) const {
  auto dict = dictionaryFromJSONData(data, error);
  if (!dict) return nullptr;
  auto refresh = validStringOrNilForKey(lmoinst::kKeyRefreshToken, *dict);
  if (!refresh) {
    LMOInstallationsAssignErrorPointer(
        LMOInstallationsErrorUtil::FIDRegistrationErrorWithResponseMissingField("refreshToken"),
        error);
    return nullptr;
  }
  auto it = dict->find(lmoinst::kKeyAuthToken);
  if (it == dict->end() || !it->second.dictionary()) {
    LMOInstallationsAssignErrorPointer(
        LMOInstallationsErrorUtil::FIDRegistrationErrorWithResponseMissingField("authToken"),
        error);
    return nullptr;
  }
  auto token = authTokenWithJSONDict(*it->second.dictionary(), date, error);
  if (!token) return nullptr;
  auto item = initWithAppID(appID_, lumoAppName_);
  auto fid = validStringOrNilForKey("fid", *dict);
  item->lumoInstallationID = fid ? fid : lumoInstallationID;
  item->refreshToken = refresh;
  item->authToken = token;
  item->registrationStatus = LMOInstallationsRegistrationStatus::Registered;
  return item;
}

std::optional<Value::Dictionary> LMOInstallationsItem::dictionaryFromJSONData(const Bytes& data,
                                                                              ErrorPtr* error) {
  ErrorPtr parseError;
  Value value = platform::parseJson(
      std::string_view(reinterpret_cast<const char*>(data.data()), data.size()), &parseError);
  if (!value.dictionary()) {
    LMOInstallationsAssignErrorPointer(
        LMOInstallationsErrorUtil::JSONSerializationError(parseError), error);
    return std::nullopt;
  }
  return *value.dictionary();
}

std::optional<std::string> LMOInstallationsItem::validStringOrNilForKey(
    const std::string& key, const Value::Dictionary& dict) {
  auto it = dict.find(key);
  if (it == dict.end() || !it->second.string() || it->second.string()->empty()) {
    return std::nullopt;
  }
  return *it->second.string();
}
