// Facts about the environment the process runs in, derived by fixed rules from the platform's
// environment facts (platform::ProcessInfo, the main bundle, the object runtime). On Linux there
// is no encrypted store executable, so an install counts as from the store only through the
// "SC_Info" rule or a test override. Class methods only; thread-safe.
#pragma once

#include <string>

class VTUAppEnvironmentUtil {
 public:
  static bool isFromAppStore();
  static bool isAppStoreReceiptSandbox();
  static bool isSimulator();
  static std::string deviceModel();
  static std::string systemVersion();
  static bool isAppExtension();
  static bool isIOS7OrHigher() { return true; }
  static bool hasSwiftRuntime();
  static std::string applePlatform();
  static std::string deploymentType();
};
