// Helpers of the app platform's tests: MP3 files made on the spot and small executable scripts
// that stand in for xdg-open and sendmail and record how they were called.
#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace platform::app::testing {

// `frames` frames of MPEG-1 layer III, 44.1 kHz, mono, 128 kbit/s, with empty side information:
// a valid file of silence, 1152 samples per frame.
inline void writeSilentMp3(const std::filesystem::path& path, int frames) {
  std::string bytes;
  for (int i = 0; i < frames; ++i) {
    std::string frame(417, '\0');
    frame[0] = static_cast<char>(0xFF);
    frame[1] = static_cast<char>(0xFB);
    frame[2] = static_cast<char>(0x90);
    frame[3] = static_cast<char>(0xC0);
    bytes += frame;
  }
  std::ofstream(path, std::ios::binary) << bytes;
}

inline void writeExecutable(const std::filesystem::path& path, const std::string& script) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path) << script;
  ::chmod(path.c_str(), 0755);
}

inline std::string readAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The lines of a file written by a recording script.
inline std::vector<std::string> readLines(const std::filesystem::path& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace platform::app::testing
