#include "platform/runtime/Crypto.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <mutex>
#include <stdexcept>

#include "platform/base/Error.h"

namespace platform::crypto {
namespace {

Bytes digest(const EVP_MD* md, const void* data, std::size_t size) {
  keepLibraryUntilExit();
  Bytes out(static_cast<std::size_t>(EVP_MD_get_size(md)));
  unsigned int length = 0;
  if (EVP_Digest(data, size, out.data(), &length, md, nullptr) != 1) {
    // Only an allocation failure inside OpenSSL gets here; a wrong digest must never pass.
    throw Exception(kInternalInconsistencyException, "the digest could not be computed");
  }
  out.resize(length);
  return out;
}

struct RandomState {
  std::mutex mutex;
  RandomSource source;
  std::deque<UUIDBytes> uuids;
};

RandomState& randomState() {
  static auto* state = new RandomState;
  return *state;
}

constexpr char kStandard[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kUrlSafe[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

}  // namespace

Bytes md5(std::string_view bytes) { return digest(EVP_md5(), bytes.data(), bytes.size()); }
Bytes md5(const Bytes& bytes) { return digest(EVP_md5(), bytes.data(), bytes.size()); }
Bytes sha1(std::string_view bytes) { return digest(EVP_sha1(), bytes.data(), bytes.size()); }
Bytes sha1(const Bytes& bytes) { return digest(EVP_sha1(), bytes.data(), bytes.size()); }
Bytes sha256(std::string_view bytes) { return digest(EVP_sha256(), bytes.data(), bytes.size()); }
Bytes sha256(const Bytes& bytes) { return digest(EVP_sha256(), bytes.data(), bytes.size()); }

std::string hexString(const Bytes& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (std::uint8_t b : bytes) {
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 0x0F]);
  }
  return out;
}

std::string base64Encode(std::string_view bytes, Base64Alphabet alphabet, bool padding) {
  if (bytes.empty()) return {};
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                reinterpret_cast<const unsigned char*>(bytes.data()),
                                static_cast<int>(bytes.size()));
  out.resize(static_cast<std::size_t>(written));
  if (alphabet == Base64Alphabet::UrlSafe) {
    for (char& c : out) {
      if (c == '+')
        c = '-';
      else if (c == '/')
        c = '_';
    }
  }
  if (!padding) {
    while (!out.empty() && out.back() == '=') out.pop_back();
  }
  return out;
}

std::string base64Encode(const Bytes& bytes, Base64Alphabet alphabet, bool padding) {
  return base64Encode(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                      alphabet, padding);
}

std::optional<Bytes> base64Decode(std::string_view text, Base64Alphabet alphabet) {
  const char* table = alphabet == Base64Alphabet::UrlSafe ? kUrlSafe : kStandard;
  int reverse[256];
  for (int& r : reverse) r = -1;
  for (int i = 0; i < 64; ++i) reverse[static_cast<unsigned char>(table[i])] = i;

  std::size_t end = text.size();
  std::size_t pad = 0;
  while (end > 0 && text[end - 1] == '=' && pad < 2) {
    --end;
    ++pad;
  }
  // With padding the whole text is a multiple of four; without, one leftover symbol is
  // impossible (it would carry only six bits).
  if (pad > 0 && text.size() % 4 != 0) return std::nullopt;
  if (end % 4 == 1) return std::nullopt;

  Bytes out;
  out.reserve(end / 4 * 3 + 2);
  std::uint32_t buffer = 0;
  int bits = 0;
  for (std::size_t i = 0; i < end; ++i) {
    int v = reverse[static_cast<unsigned char>(text[i])];
    if (v < 0) return std::nullopt;
    buffer = (buffer << 6) | static_cast<std::uint32_t>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<std::uint8_t>((buffer >> bits) & 0xFF));
    }
  }
  // Leftover bits must be zero, or two different texts would decode to the same bytes.
  if (bits > 0 && (buffer & ((1u << bits) - 1)) != 0) return std::nullopt;
  return out;
}

void keepLibraryUntilExit() {
  // OpenSSL frees its locks in an exit handler of its own; queue work still running at exit
  // (a monitor sampling, say) would then crash inside it. Initialised this way first, it never
  // registers that handler and stays usable until the process is gone.
  static std::once_flag once;
  std::call_once(once, [] { OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr); });
}

bool fillRandom(std::uint8_t* out, std::size_t count) {
  if (count == 0) return true;
  keepLibraryUntilExit();
  RandomSource source;
  {
    std::lock_guard lock(randomState().mutex);
    source = randomState().source;
  }
  if (source) return source(out, count);
  while (count > 0) {
    int chunk = static_cast<int>(std::min<std::size_t>(count, 1 << 30));
    if (RAND_bytes(out, chunk) != 1) return false;
    out += chunk;
    count -= static_cast<std::size_t>(chunk);
  }
  return true;
}

namespace {
void fillOrThrow(std::uint8_t* out, std::size_t count) {
  if (!fillRandom(out, count)) {
    throw Exception(kInternalInconsistencyException, "the secure random generator failed");
  }
}
}  // namespace

Bytes randomBytes(std::size_t count) {
  Bytes out(count);
  fillOrThrow(out.data(), count);
  return out;
}

std::uint64_t randomUniform(std::uint64_t upperBound) {
  if (upperBound < 2) return 0;
  // Values below `threshold` would make the low residues more likely; draw again for them.
  const std::uint64_t threshold = (0 - upperBound) % upperBound;
  for (;;) {
    std::uint64_t r = 0;
    fillOrThrow(reinterpret_cast<std::uint8_t*>(&r), sizeof r);
    if (r >= threshold) return r % upperBound;
  }
}

UUIDBytes uuidBytes() {
  {
    std::lock_guard lock(randomState().mutex);
    auto& queued = randomState().uuids;
    if (!queued.empty()) {
      UUIDBytes next = queued.front();
      queued.pop_front();
      return next;
    }
  }
  UUIDBytes b;
  fillOrThrow(b.data(), b.size());
  b[6] = static_cast<std::uint8_t>((b[6] & 0x0F) | 0x40);  // version 4
  b[8] = static_cast<std::uint8_t>((b[8] & 0x3F) | 0x80);  // RFC 4122 variant
  return b;
}

std::string uuidString(const UUIDBytes& b) {
  char text[37];
  std::snprintf(text, sizeof text,
                "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", b[0], b[1],
                b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14],
                b[15]);
  return text;
}

std::string uuidString() { return uuidString(uuidBytes()); }

void setRandomSourceForTesting(RandomSource source) {
  std::lock_guard lock(randomState().mutex);
  randomState().source = std::move(source);
}

RandomSource deterministicRandomSource(std::uint64_t start) {
  auto state = std::make_shared<std::pair<std::mutex, std::uint64_t>>();
  state->second = start;
  return [state](std::uint8_t* out, std::size_t count) {
    std::lock_guard lock(state->first);
    for (std::size_t i = 0; i < count; i += 8) {
      // splitmix64: a full-period generator with well-mixed output, enough for tests.
      std::uint64_t z = (state->second += 0x9E3779B97F4A7C15ull);
      z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
      z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
      z ^= z >> 31;
      for (std::size_t j = 0; j < 8 && i + j < count; ++j) {
        out[i + j] = static_cast<std::uint8_t>(z >> (8 * j));
      }
    }
    return true;
  };
}

void queueUUIDForTesting(UUIDBytes bytes) {
  std::lock_guard lock(randomState().mutex);
  randomState().uuids.push_back(bytes);
}

}  // namespace platform::crypto
