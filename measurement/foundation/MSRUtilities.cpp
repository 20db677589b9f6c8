#include "measurement/foundation/MSRUtilities.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "measurement/engine/MSRMeasurement.h"
#include "measurement/foundation/MSRConstants.h"
#include "measurement/foundation/MSRError.h"
#include "measurement/foundation/MSRMonitor.h"
#include "measurement/foundation/MSRPaths.h"
#include "platform/base/Files.h"
#include "platform/base/Format.h"
#include "platform/base/PropertyList.h"
#include "platform/base/Strings.h"
#include "platform/base/UserDefaults.h"
#include "platform/runtime/Crypto.h"

namespace fs = std::filesystem;

std::int64_t MSRNumericUtil::randomInt64() {
  std::int64_t value = 0;
  try {
    const platform::Bytes bytes = platform::crypto::randomBytes(sizeof value);
    std::memcpy(&value, bytes.data(), sizeof value);
  } catch (const std::exception&) {
    MSRMeasurement::monitor()->logWithLevel(5, 26004, "Unable to generate random integer",
                                            platform::Value(std::string(std::strerror(errno))));
    return 0;
  }
  return value;
}

platform::Bytes msr_MD5Data(const platform::Bytes& data) { return platform::crypto::md5(data); }

std::int64_t msr_64LeastSignificantBits(const platform::Bytes& data) {
  const std::size_t n = data.size();
  const std::size_t start = n >= 8 ? n - 8 : 0;
  std::uint64_t v = 0;
  for (std::size_t i = start; i < n; ++i) v = (v << 8) | data[i];
  return static_cast<std::int64_t>(v);
}

std::int64_t msr_64LSBMD5(const platform::Bytes& data) {
  return msr_64LeastSignificantBits(msr_MD5Data(data));
}

std::optional<std::string> msr_MD5String(const std::string& string) {
  if (!platform::isValidUtf8(string)) return std::nullopt;
  const platform::Bytes digest = platform::crypto::md5(std::string_view(string));
  std::string out;
  for (auto b : digest) out += platform::format("%02x", static_cast<unsigned>(b));
  return out;
}

namespace {

// RFC 3986 query characters: unreserved, sub-delims, ":", "@", "/" and "?".
bool isQueryAllowed(unsigned char c) {
  if (std::isalnum(c)) return true;
  return std::strchr("-._~!$&'()*+,;=:@/?", c) != nullptr && c != 0;
}

std::string percentEncode(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (c < 0x80 && isQueryAllowed(c)) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<std::string> msr_stringByUnescapingFromURLArgument(const std::string& string) {
  std::string out;
  for (std::size_t i = 0; i < string.size(); ++i) {
    const char c = string[i];
    if (c == '+') {
      out += ' ';
    } else if (c == '%') {
      if (i + 2 >= string.size()) return std::nullopt;
      const int hi = hexDigit(string[i + 1]), lo = hexDigit(string[i + 2]);
      if (hi < 0 || lo < 0) return std::nullopt;
      out += static_cast<char>(hi * 16 + lo);
      i += 2;
    } else {
      out += c;
    }
  }
  if (!platform::isValidUtf8(out)) return std::nullopt;
  return out;
}

std::size_t msr_UTF32Length(const std::string& string) { return platform::utf32Length(string); }

void msr_getUTF32Bytes(const std::string& string, void* buffer, std::size_t maxBytes) {
  if (!buffer) return;
  auto* out = static_cast<unsigned char*>(buffer);
  std::size_t written = 0;
  for (char32_t c : platform::toUtf32(string)) {
    if (written + 4 > maxBytes) break;
    for (int k = 0; k < 4; ++k) out[written++] = static_cast<unsigned char>((c >> (8 * k)) & 0xff);
  }
}

std::string msr_queryString(const platform::Value::Dictionary& dictionary) {
  std::string out;
  for (const auto& [key, value] : dictionary) {
    if (!out.empty()) out += "&";
    out += platform::format("%@=%@", percentEncode(key), percentEncode(value.description()));
  }
  return out;
}

platform::Value::Dictionary msr_dictionaryWithHttpArgumentsString(const std::string& string) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  while (true) {
    const std::size_t amp = string.find('&', start);
    pieces.push_back(string.substr(start, amp == std::string::npos ? std::string::npos
                                                                  : amp - start));
    if (amp == std::string::npos) break;
    start = amp + 1;
  }
  platform::Value::Dictionary result;
  for (auto it = pieces.rbegin(); it != pieces.rend(); ++it) {
    if (it->empty()) continue;
    const std::size_t eq = it->find('=');
    std::string key, value;
    if (eq == std::string::npos) {
      key = msr_stringByUnescapingFromURLArgument(*it).value_or("");
    } else {
      key = msr_stringByUnescapingFromURLArgument(it->substr(0, eq)).value_or("");
      value = msr_stringByUnescapingFromURLArgument(it->substr(eq + 1)).value_or("");
    }
    result[key] = platform::Value(value);
  }
  return result;
}

// ---- Files ----------------------------------------------------------------------------------

bool MSRDeleteFileAtPath(const std::string& path, platform::ErrorPtr* error) {
  if (path.empty()) {
    MSRSetError(error, 1, "Received empty path for deleting file");
    return false;
  }
  return platform::files::removeItem(path, error);
}

bool MSRMoveFileAtPath(const std::string& sourcePath, const std::string& destinationPath,
                       bool overwrite) {
  if (sourcePath.empty() || destinationPath.empty()) return false;
  bool sourceIsDirectory = false;
  // One that cannot be looked up is not missing: moving on would drop a live file.
  const auto source = platform::files::lookUp(sourcePath, &sourceIsDirectory);
  if (!source) return false;
  if (!*source) return true;
  if (sourceIsDirectory) return false;
  bool destinationIsDirectory = false;
  const auto destination = platform::files::lookUp(destinationPath, &destinationIsDirectory);
  if (!destination) return false;
  if (*destination) {
    if (destinationIsDirectory) return false;
    if (!overwrite) return MSRDeleteFileAtPath(sourcePath, nullptr);
    if (!MSRDeleteFileAtPath(destinationPath, nullptr)) return false;
  }
  if (!platform::files::createDirectory(fs::path(destinationPath).parent_path(), true)) return false;
  return platform::files::moveItem(sourcePath, destinationPath);
}

bool MSRRemoveUserDefaultsDomain(const std::string& suiteName) {
  if (suiteName.empty()) return false;
  // Changes not yet written would be lost with the domain: the file moves with all of them.
  if (auto suite = platform::UserDefaults::initWithSuiteName(suiteName)) suite->synchronize();
  if (!MSRMoveFileAtPath(MSRPreferencesPlistPath(suiteName),
                         MSRApplicationSupportPlistPath(suiteName), false)) {
    return false;
  }
  platform::UserDefaults::standardUserDefaults()->removePersistentDomainForName(suiteName);
  return true;
}

bool MSRMigrateUserDefaults(const std::string& suiteName) {
  if (suiteName.empty()) return false;
  const std::string engineCopy = MSRApplicationSupportPlistPath(suiteName);
  platform::Value dictionary;
  if (auto bytes = platform::files::readFile(engineCopy)) {
    platform::Value parsed = platform::parsePropertyList(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
    if (parsed.isDictionary()) dictionary = parsed;
  }
  const bool moved = MSRMoveFileAtPath(engineCopy, MSRPreferencesPlistPath(suiteName), true);
  if (dictionary.isDictionary()) {
    platform::UserDefaults::standardUserDefaults()->removePersistentDomainForName(suiteName);
    if (auto suite = platform::UserDefaults::initWithSuiteName(suiteName)) {
      for (const auto& [key, value] : *dictionary.dictionary()) suite->setObject(value, key);
    }
  }
  return moved;
}
