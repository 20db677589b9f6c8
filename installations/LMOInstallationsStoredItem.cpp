#include "installations/LMOInstallationsStoredItem.h"

#include "core/LMOLogger.h"
#include "installations/LMOInstallationsConstants.h"

namespace {
const platform::runtime::ClassRegistrar kClass(lmoinst::kStoredItemClassName,
                                               platform::runtime::kRootClassName,
                                               sizeof(LMOInstallationsStoredItem), nullptr);
const platform::ArchiveDecoderRegistrar kDecoder(lmoinst::kStoredItemClassName,
                                                 &LMOInstallationsStoredItem::decode);
}  // namespace

std::string LMOInstallationsStoredItem::className() const { return lmoinst::kStoredItemClassName; }

void LMOInstallationsStoredItem::encodeWithCoder(platform::KeyedArchiver& coder) const {
  if (lumoInstallationID) coder.encodeString(*lumoInstallationID, lmoinst::kKeyFID);
  if (refreshToken) coder.encodeString(*refreshToken, lmoinst::kKeyRefreshToken);
  if (authToken) coder.encodeObject(platform::Value(authToken), lmoinst::kKeyAuthToken);
  coder.encodeInteger(registrationStatus, lmoinst::kKeyRegistrationStatus);
  if (IIDDefaultToken) coder.encodeString(*IIDDefaultToken, lmoinst::kKeyIIDDefaultToken);
  coder.encodeInteger(storageVersion(), lmoinst::kKeyStorageVersion);
}

platform::ObjectPtr LMOInstallationsStoredItem::decode(platform::KeyedUnarchiver& coder) {
  const long version = coder.decodeInteger(lmoinst::kKeyStorageVersion);
  if (version > lmoinst::kStorageVersion) {
    LMOLoggerLogWarning(lmoinst::kService, lmoinst::kCodeStoredItemNewerVersion,
                        lmoinst::kStoredItemNewerVersion, version, lmoinst::kStorageVersion);
  }
  auto item = std::make_shared<LMOInstallationsStoredItem>();
  item->lumoInstallationID = coder.decodeString(lmoinst::kKeyFID);
  item->refreshToken = coder.decodeString(lmoinst::kKeyRefreshToken);
  item->authToken =
      coder.decodeObjectOfClass(lmoinst::kStoredAuthTokenClassName, lmoinst::kKeyAuthToken)
          .objectAs<LMOInstallationsStoredAuthToken>();
  item->registrationStatus = coder.decodeInteger(lmoinst::kKeyRegistrationStatus);
  item->IIDDefaultToken = coder.decodeString(lmoinst::kKeyIIDDefaultToken);
  return item;
}
