// Shared helpers of the measurement tests: a sink that records what the monitor writes, a
// recorder of every call that reached the shared monitor (silent levels included), and the engine
// lines that reached the utilities logger.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
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

// Every call that reached the shared monitor's log core while the recorder lived, in call
// order, whatever its level: what a test asserts for codes that print nothing.
class MonitorRecorder {
 public:
  MonitorRecorder() {
    MSRMeasurement::monitor()->setLogObserverForTesting([this](const MSRMonitor::LogRecord& r) {
      std::lock_guard<std::mutex> lock(mutex_);
      records_.push_back(r);
    });
  }
  // Removing the observer waits for a call in flight, so none outlives the recorder.
  ~MonitorRecorder() { MSRMeasurement::monitor()->setLogObserverForTesting(nullptr); }
  MonitorRecorder(const MonitorRecorder&) = delete;
  MonitorRecorder& operator=(const MonitorRecorder&) = delete;

  std::vector<MSRMonitor::LogRecord> records() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return records_;
  }
  // (code, level) of every call, in order.
  std::vector<std::pair<std::int64_t, std::int64_t>> codes() const {
    std::vector<std::pair<std::int64_t, std::int64_t>> out;
    for (const auto& r : records()) out.emplace_back(r.messageCode, r.level);
    return out;
  }
  // Every call as "code level message | context descriptions", in order: whole outcomes.
  std::vector<std::string> lines() const {
    std::vector<std::string> out;
    for (const auto& r : records()) {
      std::string line = std::to_string(r.messageCode) + " " + std::to_string(r.level) + " " +
                         r.message.value_or("(nil)") + " |";
      for (const auto& c : r.contexts) line += " " + c.description();
      out.push_back(std::move(line));
    }
    return out;
  }
  // How many calls had that code.
  int count(std::int64_t code) const {
    int n = 0;
    for (const auto& r : records()) n += r.messageCode == code;
    return n;
  }
  // The first context of each call with that code that had one, in order.
  std::vector<platform::Value> contextsOf(std::int64_t code) const {
    std::vector<platform::Value> contexts;
    for (const auto& r : records()) {
      if (r.messageCode == code && !r.contexts.empty()) contexts.push_back(r.contexts.front());
    }
    return contexts;
  }
  // The first call with that code.
  std::optional<MSRMonitor::LogRecord> find(std::int64_t code) const {
    for (auto& r : records()) {
      if (r.messageCode == code) return r;
    }
    return std::nullopt;
  }
  void clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    records_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<MSRMonitor::LogRecord> records_;
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
