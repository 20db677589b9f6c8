#include "fuzz/FuzzTarget.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

namespace fuzz {

const std::filesystem::path& sandboxHome() {
  static const std::filesystem::path home = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "tvs-fuzz-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
      std::perror("mkdtemp");
      std::abort();
    }
    setenv("TVS_HOME", pattern.c_str(), 1);
    return std::filesystem::path(pattern);
  }();
  return home;
}

platform::Bytes keyedArchiveOf(const std::uint8_t* data, std::size_t size) {
  static constexpr std::uint8_t kMagic[4] = {'T', 'V', 'S', 'A'};
  if (size >= 4 && std::equal(kMagic, kMagic + 4, data)) return platform::Bytes(data, data + size);
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int k = 0; k < 8; ++k) crc = (crc & 1) ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
  }
  crc ^= 0xFFFFFFFFu;
  platform::Bytes out = {'T', 'V', 'S', 'A', 1, 0, 0, 0};
  for (std::uint32_t v : {static_cast<std::uint32_t>(size), crc}) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  out.insert(out.end(), data, data + size);
  return out;
}

void require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "fuzz property broken: %s\n", what);
  std::abort();
}

}  // namespace fuzz
