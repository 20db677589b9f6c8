// The plain corpus driver: feeds every file named on the command line, and every file under a
// directory named there (in name order), to the target's entry point once. Built with the normal
// compiler where no fuzzer runtime is at hand, so the corpora and the regression inputs run as
// tests everywhere. Exit status 0 when every input ran; a crash ends the process as it would
// under the fuzzer.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/FuzzTarget.h"

namespace {

std::vector<std::filesystem::path> inputsUnder(const std::filesystem::path& path) {
  std::vector<std::filesystem::path> inputs;
  if (std::filesystem::is_directory(path)) {
    for (const auto& entry : std::filesystem::recursive_directory_iterator(path)) {
      if (entry.is_regular_file()) inputs.push_back(entry.path());
    }
    std::sort(inputs.begin(), inputs.end());
  } else {
    inputs.push_back(path);
  }
  return inputs;
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t ran = 0;
  for (int i = 1; i < argc; ++i) {
    for (const auto& input : inputsUnder(argv[i])) {
      std::ifstream file(input, std::ios::binary);
      if (!file) {
        std::fprintf(stderr, "cannot read %s\n", input.c_str());
        return 1;
      }
      std::vector<char> bytes((std::istreambuf_iterator<char>(file)),
                              std::istreambuf_iterator<char>());
      std::fprintf(stderr, "running %s (%zu bytes)\n", input.c_str(), bytes.size());
      LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
      ++ran;
    }
  }
  if (ran == 0) {
    std::fprintf(stderr, "no input found\n");
    return 1;
  }
  std::printf("%zu inputs ran\n", ran);
  return 0;
}
