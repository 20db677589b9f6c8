#include "utilities/VTUAppEnvironmentUtil.h"

#include <filesystem>

#include "platform/base/Bundle.h"
#include "platform/base/ProcessInfo.h"
#include "platform/base/Strings.h"
#include "platform/runtime/Runtime.h"
#include "utilities/VTUConstants.h"

namespace {

// The executable-encryption flag of a store build. Our executables are ELF files without an
// encryption-information command, so the flag is the platform's App Store fact (false unless a
// test sets it).
bool executableIsEncrypted() { return platform::ProcessInfo::processInfo().isAppStoreInstall(); }

// The main bundle's store receipt: "StoreKit/sandboxReceipt" when that is what the bundle holds,
// else "StoreKit/receipt".
std::filesystem::path receiptPath(const platform::Bundle& bundle) {
  const auto storeKit = bundle.bundlePath() / "StoreKit";
  if (std::filesystem::exists(storeKit / vtu::kSandboxReceiptName)) {
    return storeKit / vtu::kSandboxReceiptName;
  }
  return storeKit / "receipt";
}

}  // namespace

bool VTUAppEnvironmentUtil::isFromAppStore() {
  static const bool encrypted = executableIsEncrypted();
  if (isSimulator()) return false;
  if (isAppStoreReceiptSandbox()) return false;
  auto bundle = platform::Bundle::mainBundle();
  if (bundle && std::filesystem::exists(bundle->bundlePath() / vtu::kStoreInfoFolder)) return true;
  if (!encrypted) return false;
  if (!bundle) return true;
  auto profile = bundle->pathForResource(vtu::kProvisioningProfileName,
                                         vtu::kProvisioningProfileType);
  return !profile || profile->empty();
}

bool VTUAppEnvironmentUtil::isAppStoreReceiptSandbox() {
  auto bundle = platform::Bundle::mainBundle();
  if (!bundle) return false;
  const platform::Value& check = bundle->objectForInfoDictionaryKey(vtu::kReceiptURLCheckEnabledKey);
  if (check.isNumber() && !check.boolValue()) return false;
  return receiptPath(*bundle).filename() == vtu::kSandboxReceiptName;
}

bool VTUAppEnvironmentUtil::isSimulator() {
  const std::string model = deviceModel();
  return model == "x86_64" || model == "i386";
}

std::string VTUAppEnvironmentUtil::deviceModel() {
  return platform::ProcessInfo::processInfo().deviceModel();
}

std::string VTUAppEnvironmentUtil::systemVersion() {
  return platform::ProcessInfo::processInfo().operatingSystemVersion();
}

bool VTUAppEnvironmentUtil::isAppExtension() {
  auto bundle = platform::Bundle::mainBundle();
  return bundle && platform::hasSuffix(bundle->bundlePath().string(), ".appex");
}

bool VTUAppEnvironmentUtil::hasSwiftRuntime() {
  return platform::runtime::classNamed(vtu::kSwiftObjectClassName) != nullptr ||
         platform::runtime::classNamed(vtu::kSwiftObjectMangledClassName) != nullptr;
}

std::string VTUAppEnvironmentUtil::applePlatform() {
  // A phone app never runs on a desktop of its maker's here, so the answer is always the phone's.
  return vtu::kPlatformIOS;
}

std::string VTUAppEnvironmentUtil::deploymentType() { return vtu::kDeploymentType; }
