// The measurement engine's one log and health-monitor service. Engine code logs with a level
// (0..8), a message code and context values; loggable levels go to the console through the sink,
// monitorable ones into the health-monitor sample. Log calls come from any thread: filtering and
// formatting run on the caller's thread, sink writes and sample updates on the serial queue
// "MSRMonitorQueue", in call order. Flags, level and tag are set at start-up and read anywhere.
//
// Usage: MSRMeasurement::monitor()->logWithLevel(2, 26001, "Text. Value", value);
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "measurement/foundation/MSRLogging.h"
#include "platform/base/UserDefaults.h"
#include "platform/base/Value.h"
#include "platform/dispatch/DispatchQueue.h"

class MSRMonitoringSampledData;
class MSRException;

// Joins with "," the monitor contexts of the engine errors among the contexts.
std::string MSRMonitorContextFromErrors(const std::vector<platform::Value>& contexts);

class MSRMonitor : public std::enable_shared_from_this<MSRMonitor> {
 public:
  using Message = std::optional<std::string>;  // nullopt is a nil message

  static std::shared_ptr<MSRMonitor> initWithLogLevel(std::int64_t logLevel,
                                                      std::shared_ptr<MSRLogging> logger,
                                                      std::int64_t libraryVersion);
  // Level 6 and a new MSRASLLogger.
  static std::shared_ptr<MSRMonitor> initWithLibraryVersion(std::int64_t libraryVersion);
  ~MSRMonitor();

  // Switches.
  void setDebugModeEnabled(bool enabled);
  bool isDebugModeEnabled() const { return debugModeEnabled_; }
  void setVerboseLoggingEnabled(bool enabled);
  bool isVerboseLoggingEnabled() const { return verboseLoggingEnabled_; }
  std::int64_t logLevel() const { return logLevel_; }
  void setLogLevel(std::int64_t level) { logLevel_ = level; }
  bool encodeContexts() const { return encodeContexts_; }
  void setEncodeContexts(bool encode) { encodeContexts_ = encode; }
  std::string logTag() const;
  void setLogTag(std::string tag);
  bool deferToLMOLogger() const { return deferToLMOLogger_; }
  std::int64_t libraryVersion() const { return libraryVersion_; }

  // Logging. A nil context (Value()) becomes the null marker.
  void logWithLevel(std::int64_t level, std::int64_t messageCode, const Message& message);
  void logWithLevel(std::int64_t level, std::int64_t messageCode, const Message& message,
                    const platform::Value& context);
  void logWithLevel(std::int64_t level, std::int64_t messageCode, const Message& message,
                    const platform::Value& context1, const platform::Value& context2);
  void logWithLevel(std::int64_t level, std::int64_t messageCode, const Message& message,
                    const platform::Value& context1, const platform::Value& context2,
                    const platform::Value& context3);
  // The core.
  void logWithLevelContexts(std::int64_t level, std::int64_t messageCode, const Message& message,
                            std::vector<platform::Value> contexts);

  // Class operations.
  static bool isSilentLevel(std::int64_t level);
  static bool isMonitorableLevel(std::int64_t level);
  static std::optional<std::string> logLevelDescriptionFromLogLevel(std::int64_t level);
  static std::string encodedStringWithContextObject(const platform::Value& context);
  static std::string encodedStringWithContextArray(const std::vector<platform::Value>& contexts,
                                                   bool insertSpaces);
  static std::string stringWithLogMessage(const Message& message, std::int64_t logLevel,
                                          const std::vector<platform::Value>& contexts,
                                          bool encodeContexts);
  static std::optional<std::string> lastMSRSymbolFromException(
      const std::shared_ptr<const MSRException>& exception);

  bool isLoggableLevel(std::int64_t level) const;
  void logToConsole(std::int64_t messageCode, const std::optional<std::string>& message,
                    std::int64_t logLevel);

  // Health monitor (sample of monitorable messages, persisted in the monitor's suite).
  static std::string monitoringDataKeyWithMessage(const Message& message, std::int64_t logLevel,
                                                  std::int64_t libraryVersion);
  void insertOrUpdateMonitoringDataWithMessage(const Message& message,
                                               const std::string& encodedContext,
                                               std::int64_t logLevel);
  // Synchronous on the monitor queue; never call it from that queue. Nothing is due while the
  // stored sample cannot be read: messages are counted in memory meanwhile and folded onto it
  // once it reads, and it is never saved over.
  std::optional<std::string> monitoringDataForDispatchWithSamplePeriod(
      double samplePeriod, double lastSampledTimestamp);
  void clearMonitoringData();

  // Waits until every block queued so far on the monitor queue has run (tests, shutdown).
  void flush();

  // Test seam: sees every call that reaches the log core, whatever its level and before any
  // filtering, on the caller's thread. The observer runs under a lock and must not log. An empty
  // observer removes it.
  struct LogRecord {
    std::int64_t level;
    std::int64_t messageCode;
    Message message;
    std::vector<platform::Value> contexts;
  };
  using LogObserver = std::function<void(const LogRecord&)>;
  void setLogObserverForTesting(LogObserver observer);
  const platform::DispatchQueuePtr& monitorQueue() const { return monitorQueue_; }

 private:
  MSRMonitor() = default;
  // Each reports whether the stored sample is known now, i.e. it could be read; until it is,
  // messages are sampled in memory only, nothing is saved and nothing is due for dispatch.
  bool loadMonitoringDataFromUserDefaultsOnMonitorQueue();
  bool loadMonitoringDataIfNeededOnMonitorQueue();
  void saveMonitoringDataToUserDefaultsOnMonitorQueue();
  void migrateMonitorDataOnMonitorQueue();
  void synchronizeToDiskOnMonitorQueue();
  void readStartUpSwitches();

  std::atomic<std::int64_t> logLevel_{6};
  std::shared_ptr<MSRLogging> logger_;
  std::unique_ptr<MSRMonitoringSampledData> monitoringSampledData_;  // monitor queue only
  // Monitor queue only. Whether monitoringSampledData_ holds the stored sample, and how far the
  // move of the old sample out of the standard domain has got in this process.
  bool monitoringDataLoaded_ = false;
  enum class Migration { NotRead, Copied, Done };
  Migration migration_ = Migration::NotRead;
  platform::DispatchQueuePtr monitorQueue_;
  std::int64_t libraryVersion_ = 0;
  std::shared_ptr<platform::UserDefaults> monitorUserDefaults_;
  bool deferToLMOLogger_ = false;
  std::atomic<bool> debugModeEnabled_{false};
  std::atomic<bool> verboseLoggingEnabled_{false};
  std::atomic<bool> encodeContexts_{false};
  mutable std::mutex tagMutex_;
  std::string logTag_;
  std::atomic<bool> hasLogObserver_{false};  // spares every log call the lock below
  std::mutex logObserverMutex_;
  LogObserver logObserver_;
};
