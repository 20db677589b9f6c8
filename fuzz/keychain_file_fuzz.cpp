// The keychain's items file as it lies in the sandbox: the input is the file; every item is
// looked up, one is added (the file is rewritten) and the lookup must still answer.
#include <fstream>
#include <iterator>
#include <string>

#include "fuzz/FuzzTarget.h"
#include "platform/runtime/Keychain.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::sandboxHome();
  auto path = platform::Keychain::storagePath();
  std::filesystem::create_directories(path.parent_path());
  // The file: an archive, or a payload given a correct header (see keyedArchiveOf).
  platform::Bytes bytes = fuzz::keyedArchiveOf(data, size);
  {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    file.close();
    // A file that could not be written (a full disk) says nothing about the keychain.
    if (!file) return 0;
  }
  auto& keychain = platform::Keychain::shared();
  using platform::Value;
  platform::Value::Dictionary all = {
      {platform::kSecClass, Value(platform::kSecClassGenericPassword)},
      {platform::kSecMatchLimit, Value(platform::kSecMatchLimitAll)},
      {platform::kSecReturnAttributes, Value(true)},
      {platform::kSecReturnData, Value(true)}};
  Value found;
  keychain.copyMatching(all, &found);
  platform::Value::Dictionary item = {
      {platform::kSecClass, Value(platform::kSecClassGenericPassword)},
      {platform::kSecAttrService, Value("fuzz")},
      {platform::kSecAttrAccount, Value("account")},
      {platform::kSecValueData, Value::data(platform::Bytes{1, 2, 3})}};
  platform::OSStatus added = keychain.add(item);
  if (added == platform::errSecDecode) {
    // An unreadable file is left as it was, never replaced.
    std::ifstream file(path, std::ios::binary);
    std::string kept((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    fuzz::require(kept == std::string(bytes.begin(), bytes.end()),
                  "an unreadable keychain file is kept");
    keychain.clearRecordedCalls();
    return 0;
  }
  fuzz::require(added == platform::errSecSuccess || added == platform::errSecDuplicateItem,
                "an item can be added to a readable file");
  platform::Value::Dictionary query = {
      {platform::kSecClass, Value(platform::kSecClassGenericPassword)},
      {platform::kSecAttrService, Value("fuzz")},
      {platform::kSecAttrAccount, Value("account")}};
  fuzz::require(keychain.copyMatching(query) == platform::errSecSuccess, "the item is found");
  keychain.clearRecordedCalls();
  return 0;
}
