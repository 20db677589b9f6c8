// Shared helpers of the foundation's tests: a sink that records what the monitor writes, and the
// engine lines that reached the utilities logger.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "measurement/engine/MSRMeasurement.h"
#include "measurement/foundation/MSRLogging.h"
#include "measurement/foundation/MSRMonitor.h"
#include "utilities/logger/VTULogger.h"

namespace msr_test {

struct SinkRecord {
  std::string message;
  std::string tag;
  std::int64_t code;
  std::int64_t level;
};

class RecordingLogger : public MSRLogging {
 public:
  void logMessage(const std::string& message, const std::string& logTag,
                  std::int64_t messageCode, std::int64_t withLogLevel) override {
    std::lock_guard<std::mutex> lock(mutex_);
    records_.push_back({message, logTag, messageCode, withLogLevel});
  }
  std::vector<SinkRecord> records() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return records_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<SinkRecord> records_;
};

// Lines of the shared monitor that reached the utilities logger, after both queues drained.
inline std::vector<std::string> engineLines() {
  MSRMeasurement::monitor()->flush();
  vtu::testing::flushLoggingQueue();
  std::vector<std::string> out;
  for (const auto& l : vtu::testing::capturedLines()) out.push_back(l.line);
  return out;
}

// The codes ("I-ACS0xxxxx") of the shared monitor's lines, in order.
inline std::vector<std::string> engineCodes() {
  std::vector<std::string> codes;
  for (const auto& line : engineLines()) {
    const auto at = line.find("[I-ACS");
    if (at != std::string::npos) codes.push_back(line.substr(at + 1, 11));
  }
  return codes;
}

}  // namespace msr_test
