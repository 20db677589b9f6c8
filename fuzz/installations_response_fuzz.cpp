// The installations service's answers: the body of a registration and of a token request, read
// as the service client reads them, against a fixed clock reading.
#include "fuzz/FuzzTarget.h"
#include "installations/LMOInstallationsItem.h"
#include "installations/LMOInstallationsStoredAuthToken.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  platform::Bytes body = fuzz::bytesOf(data, size);
  constexpr double kNow = 1767225600.0;
  static auto installation = LMOInstallationsItem::initWithAppID("1:123:ios:abc", "__DEFAULT__");
  installation->lumoInstallationID = "cXr8h0a5SjeyQbQS3Ve-I0";

  platform::ErrorPtr error;
  auto registered = installation->registeredInstallationWithJSONData(body, kNow, &error);
  fuzz::require((registered != nullptr) != (error != nullptr), "a record or an error");
  error = nullptr;
  auto token = LMOInstallationsItem::authTokenWithGenerateTokenAPIJSONData(body, kNow, &error);
  fuzz::require((token != nullptr) != (error != nullptr), "a token or an error");
  return 0;
}
