#include "fuzz/FuzzTarget.h"

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

void require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "fuzz property broken: %s\n", what);
  std::abort();
}

}  // namespace fuzz
