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

// A directory of its own under the system's temporary directory, made once per process and set
// as the sandbox home ($TVS_HOME), so the target never touches a real home.
const std::filesystem::path& sandboxHome();

// Aborts with the message when the condition does not hold: a broken property of the code under
// test, reported as a crash so that the fuzzer keeps the input.
void require(bool condition, const char* what);

}  // namespace fuzz
