#include "TVS/Console.h"

#include <cstdio>

namespace tvs {

void consolePrint(std::string_view line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

}  // namespace tvs
