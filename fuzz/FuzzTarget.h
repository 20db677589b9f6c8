// What every fuzz target shares: the entry point libFuzzer (or the plain corpus driver) calls
// with one input, and a fresh sandbox home for targets that read files. One input at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string_view>

#include "platform/base/Value.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace fuzz {

inline platform::Bytes bytesOf(const std::uint8_t* data, std::size_t size) {
  return platform::Bytes(data, data + size);
}

inline std::string_view textOf(const std::uint8_t* data, std::size_t size) {
  return std::string_view(reinterpret_cast<const char*>(data), size);
}

// The keyed archive the input stands for: the input itself when it starts with the archive's
// magic, otherwise the input as the payload of an archive with a correct header and checksum,
// so that mutations reach the payload parser instead of stopping at the checksum.
platform::Bytes keyedArchiveOf(const std::uint8_t* data, std::size_t size);

// A directory of its own under the system's temporary directory, made once per process and set
// as the sandbox home ($TVS_HOME), so the target never touches a real home.
const std::filesystem::path& sandboxHome();

// Aborts with the message when the condition does not hold: a broken property of the code under
// test, reported as a crash so that the fuzzer keeps the input.
void require(bool condition, const char* what);

}  // namespace fuzz
