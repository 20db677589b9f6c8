// Helpers shared by the app's tests: writing a catalogue into the test bundle, pointing the main
// bundle at the built app bundle, and capturing what the app prints to standard output.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "measurement/engine/MSRMeasurement.h"
#include "measurement/foundation/MSRMonitor.h"
#include "platform/base/Bundle.h"
#include "utilities/logger/VTULogger.h"

namespace tvs::testing {

inline void writeFile(const std::filesystem::path& path, const std::string& content) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out << content;
}

// Points the main bundle at `dir` (forgetting the cached one).
inline void useBundle(const std::filesystem::path& dir) {
  ::setenv("TVS_BUNDLE", dir.c_str(), 1);
  platform::Bundle::resetMainBundleForTesting();
}

// The app bundle assembled by the build.
inline std::filesystem::path builtBundle() { return TVS_BUILT_BUNDLE_DIR; }

// Lines printed to standard output while `body` runs.
template <class F>
std::vector<std::string> stdoutLines(F&& body) {
  ::testing::internal::CaptureStdout();
  body();
  std::string text = ::testing::internal::GetCapturedStdout();
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// The names of the analytics events that reached the front end, in order. No app core is
// configured in these tests, so each one is dropped with the "not configured" line that names
// it; the tests start capturing the logger's lines in their set-up.
inline std::vector<std::string> analyticsEvents() {
  MSRMeasurement::monitor()->flush();
  vtu::testing::flushLoggingQueue();
  std::vector<std::string> events;
  const std::string marker = "Call +[LMOApp configure]: ";
  for (const auto& line : vtu::testing::capturedLines()) {
    auto at = line.line.find(marker);
    if (at != std::string::npos) events.push_back(line.line.substr(at + marker.size()));
  }
  return events;
}

}  // namespace tvs::testing
