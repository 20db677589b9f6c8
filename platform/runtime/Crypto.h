// Digests, Base64 and randomness, through OpenSSL. Random bytes come from the system's secure
// generator unless a test installs a source (deterministic from a starting value, or any function); every
// random helper (uniform integers, UUIDs) draws from that one source. Thread-safe.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/base/Value.h"

namespace platform::crypto {

inline constexpr std::size_t kMD5Length = 16;
inline constexpr std::size_t kSHA1Length = 20;
inline constexpr std::size_t kSHA256Length = 32;

Bytes md5(std::string_view bytes);
Bytes md5(const Bytes& bytes);
Bytes sha1(std::string_view bytes);
Bytes sha1(const Bytes& bytes);
Bytes sha256(std::string_view bytes);
Bytes sha256(const Bytes& bytes);
// Lower-case hexadecimal, two digits per byte.
std::string hexString(const Bytes& bytes);

enum class Base64Alphabet {
  Standard,  // "+" and "/"
  UrlSafe,   // "-" and "_"
};
// No line breaks; "=" padding unless `padding` is false.
std::string base64Encode(const Bytes& bytes, Base64Alphabet alphabet = Base64Alphabet::Standard,
                         bool padding = true);
std::string base64Encode(std::string_view bytes, Base64Alphabet alphabet = Base64Alphabet::Standard,
                         bool padding = true);
// Accepts the given alphabet, with or without padding; null on any other character or a
// length that no encoding produces.
std::optional<Bytes> base64Decode(std::string_view text,
                                  Base64Alphabet alphabet = Base64Alphabet::Standard);

// Initialises OpenSSL so that it stays usable until the process is gone (no exit handler), for
// queue work that still runs while the process exits.
void keepLibraryUntilExit();
// Fills `out` from the current source; false (buffer unspecified) when the source fails.
[[nodiscard]] bool fillRandom(std::uint8_t* out, std::size_t count);
// `count` random bytes. These and the helpers below raise
// Exception(kInternalInconsistencyException) when the source fails, since predictable bytes
// would be worse than none; callers with a fallback of their own use fillRandom.
Bytes randomBytes(std::size_t count);
// Uniform in [0, upperBound) without modulo bias (rejection sampling); 0 when upperBound is 0.
std::uint64_t randomUniform(std::uint64_t upperBound);

// A version-4 random UUID: 16 bytes, and its text in upper-case 8-4-4-4-12 form.
using UUIDBytes = std::array<std::uint8_t, 16>;
UUIDBytes uuidBytes();
std::string uuidString();
std::string uuidString(const UUIDBytes& bytes);

// Test seams. A source fills the buffer it is given and answers whether it could; null restores
// the system's generator.
using RandomSource = std::function<bool(std::uint8_t* out, std::size_t count)>;
void setRandomSourceForTesting(RandomSource source);
// A deterministic source: the same starting value gives the same byte stream.
RandomSource deterministicRandomSource(std::uint64_t start);
// Pins what the next uuidString()/uuidBytes() calls return (in order), before the source is used.
void queueUUIDForTesting(UUIDBytes bytes);

}  // namespace platform::crypto
