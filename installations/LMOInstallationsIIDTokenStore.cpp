#include "installations/LMOInstallationsIIDTokenStore.h"

#include "installations/LMOInstallationsConstants.h"
#include "installations/LMOInstallationsErrorUtil.h"
#include "platform/base/Bundle.h"
#include "platform/base/Format.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/runtime/Keychain.h"
#include "utilities/storage/VTUKeychainUtils.h"

using platform::Bytes;
using platform::ErrorPtr;
using platform::Value;

namespace {
const platform::runtime::ClassRegistrar kClass(lmoinst::kIIDTokenInfoClassName,
                                               platform::runtime::kRootClassName,
                                               sizeof(LMOInstallationsIIDTokenInfo), nullptr);
const platform::ArchiveDecoderRegistrar kDecoder(lmoinst::kIIDTokenInfoClassName,
                                                 &LMOInstallationsIIDTokenInfo::decode);

platform::DispatchQueuePtr utilityQueue() {
  return platform::DispatchQueue::global(platform::QualityOfService::Utility);
}
}  // namespace

std::string LMOInstallationsIIDTokenInfo::className() const {
  return lmoinst::kIIDTokenInfoClassName;
}

void LMOInstallationsIIDTokenInfo::encodeWithCoder(platform::KeyedArchiver&) const {}

platform::ObjectPtr LMOInstallationsIIDTokenInfo::decode(platform::KeyedUnarchiver& coder) {
  auto info = std::make_shared<LMOInstallationsIIDTokenInfo>();
  info->token = coder.decodeString(lmoinst::kKeyToken);
  return info;
}

PRMPromisePtr LMOInstallationsIIDTokenStore::existingIIDDefaultToken() {
  return IIDDefaultTokenData()->onQueueThen(utilityQueue(), [](const Value& data) -> Value {
    return Value(IIDCheckinWithData(*data.bytes()));
  });
}

PRMPromisePtr LMOInstallationsIIDTokenStore::IIDDefaultTokenData() {
  const auto query = IIDDefaultTokenDataKeychainQuery();
  return PRMPromise::onQueueDo(utilityQueue(), [query]() -> Value {
    ErrorPtr error;
    auto data = VTUKeychainUtils::getItemWithQuery(query, &error);
    if (!data) return Value(error ? error : LMOInstallationsErrorUtil::corruptedIIDTokenData());
    return Value::data(*data);
  });
}

PRMPromisePtr LMOInstallationsIIDTokenStore::IIDCheckinWithData(const Bytes& data) {
  return PRMPromise::onQueueDo(utilityQueue(), [data]() -> Value {
    platform::KeyedUnarchiver unarchiver(data);
    if (unarchiver.error()) return Value(unarchiver.error());
    unarchiver.setClassName(lmoinst::kIIDLegacyTokenClassName, lmoinst::kIIDTokenInfoClassName);
    auto info = unarchiver
                    .decodeObjectOfClass(lmoinst::kIIDTokenInfoClassName,
                                         platform::kKeyedArchiveRootObjectKey)
                    .objectAs<LMOInstallationsIIDTokenInfo>();
    if (!info || !info->token || info->token->empty()) {
      return Value(LMOInstallationsErrorUtil::corruptedIIDTokenData());
    }
    return Value(*info->token);
  });
}

Value::Dictionary LMOInstallationsIIDTokenStore::IIDDefaultTokenDataKeychainQuery() const {
  Value::Dictionary query{
      {platform::kSecClass, Value(platform::kSecClassGenericPassword)},
      {platform::kSecAttrGeneric, Value::data(std::string_view(lmoinst::kIIDTokensGeneric))},
      {platform::kSecAttrService, Value(serviceKeyForAuthorizedEntity(
                                      VCMSenderID_.value_or(""), lmoinst::kIIDDefaultTokenScope))},
  };
  const std::string account = IIDAppIdentifier();
  if (!account.empty()) query[platform::kSecAttrAccount] = Value(account);
  return query;
}

std::string LMOInstallationsIIDTokenStore::IIDAppIdentifier() {
  return platform::Bundle::mainBundle()->bundleIdentifier();
}

std::string LMOInstallationsIIDTokenStore::serviceKeyForAuthorizedEntity(const std::string& entity,
                                                                         const std::string& scope) {
  return platform::format(lmoinst::kIIDServiceKeyFormat, entity, scope);
}
