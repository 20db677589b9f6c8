#include "utilities/logger/VTULogger.h"

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <optional>

#include "platform/base/ProcessInfo.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/SystemLog.h"
#include "utilities/VTUAppEnvironmentUtil.h"
#include "utilities/VTUConstants.h"

namespace {

// The system-log client: its level filter and outputs are changed only on the logging queue.
struct LogClient {
  platform::DispatchQueuePtr queue;
  int filterLevel = kVTULoggerLevelNotice;
  std::optional<platform::SystemLogClient> log;  // opened by the set-up
};

LogClient& client() {
  static LogClient* c = new LogClient();
  return *c;
}

std::once_flag gSetUpOnce;
std::atomic<VTULoggerLevel> gMaximumLevel{kVTULoggerLevelNotice};
std::atomic<bool> gDebugMode{false};

std::mutex& prefixMutex() {
  static std::mutex* m = new std::mutex();
  return *m;
}
std::string& versionPrefix() {
  static std::string* p = new std::string();
  return *p;
}

std::atomic<bool> gCapturing{false};
std::mutex& captureMutex() {
  static std::mutex* m = new std::mutex();
  return *m;
}
std::vector<vtu::testing::LoggedLine>& captured() {
  static auto* v = new std::vector<vtu::testing::LoggedLine>();
  return *v;
}

void setUp() {
  // Systems before major version 10 showed the system log nowhere a developer looks, so lines
  // went to standard error too. That is a fact of the app's platform, asked of its declared
  // version: on a plain Linux host only the kernel's release is known, which says nothing about
  // it, and the console must not get every line of the stack.
  const auto version = platform::ProcessInfo::processInfo().declaredOperatingSystemVersion();
  const long major = version ? std::strtol(version->c_str(), nullptr, 10) : 0;
  LogClient& c = client();
  c.log.emplace(vtu::kLoggerFacility, version && major < 10);
  gMaximumLevel.store(kVTULoggerLevelNotice);
  c.filterLevel = kVTULoggerLevelNotice;
  c.queue = platform::DispatchQueue::create(vtu::kLoggingQueueLabel);
  c.queue->setTargetQueue(platform::DispatchQueue::global(platform::QualityOfService::Background));
}

void ensureSetUp() { std::call_once(gSetUpOnce, setUp); }

}  // namespace

void VTULoggerSetUpSystemLogClient() { ensureSetUp(); }

void VTULoggerMirrorToStandardError() {
  // Runs on the logging queue like every other change of the client; callers set up first.
  LogClient& c = client();
  if (!c.queue) return;
  c.queue->async([] { client().log->mirrorToStandardError(); });
}

void VTULoggerEnableDebugMode() {
  if (VTUAppEnvironmentUtil::isFromAppStore()) return;
  gDebugMode.store(true);
  VTULoggerSetMaximumLevel(kVTULoggerLevelDebug);
}

void VTULoggerSetMaximumLevel(VTULoggerLevel level) {
  if (level < kVTULoggerLevelError || level > kVTULoggerLevelDebug) {
    VTULoggerLogError(vtu::kLoggerService, false, vtu::kInvalidLevelCode,
                      vtu::kInvalidLevelMessage, level);
    return;
  }
  ensureSetUp();
  if (level >= kVTULoggerLevelNotice && VTUAppEnvironmentUtil::isFromAppStore()) return;
  gMaximumLevel.store(level);
  client().queue->async([level] { client().filterLevel = static_cast<int>(level); });
}

bool VTULoggerIsLevelLoggable(VTULoggerLevel level) {
  ensureSetUp();
  return gDebugMode.load() || level <= gMaximumLevel.load();
}

bool VTULoggerWouldLog(VTULoggerLevel level, bool force) {
  ensureSetUp();
  return force || gDebugMode.load() || level <= gMaximumLevel.load();
}

void VTULoggerSetVersionPrefix(const std::string& prefix) {
  std::lock_guard<std::mutex> lock(prefixMutex());
  versionPrefix() = prefix;
}

void VTULoggerLogMessage(VTULoggerLevel level, const std::string& service, bool force,
                         const std::string& messageCode, std::string_view format,
                         const std::vector<platform::Value>* args) {
  if (!VTULoggerWouldLog(level, force)) return;
  std::string text = args ? platform::formatValues(format, *args) : std::string(format);
  std::string prefix;
  {
    std::lock_guard<std::mutex> lock(prefixMutex());
    prefix = versionPrefix();
  }
  std::string line = platform::format(vtu::kLoggerLineFormat, prefix, service, messageCode, text);
  if (gCapturing.load()) {
    std::lock_guard<std::mutex> lock(captureMutex());
    captured().push_back({level, line});
  }
  client().queue->async([level, line = std::move(line)] {
    const LogClient& c = client();
    if (level > c.filterLevel) return;
    c.log->write(static_cast<int>(level), line);
  });
}

void VTULoggerWrapper::logWithLevel(VTULoggerLevel level, const std::string& service,
                                    const std::string& code, std::string_view message,
                                    const std::vector<platform::Value>* args) {
  VTULoggerLogMessage(level, service, false, code, message, args);
}

namespace vtu::testing {

void startCapturingLines() {
  std::lock_guard<std::mutex> lock(captureMutex());
  captured().clear();
  gCapturing.store(true);
}

std::vector<LoggedLine> capturedLines() {
  std::lock_guard<std::mutex> lock(captureMutex());
  return captured();
}

void flushLoggingQueue() {
  ensureSetUp();
  client().queue->sync([] {});
}

VTULoggerLevel systemLogFilterLevel() {
  flushLoggingQueue();
  VTULoggerLevel level = 0;
  client().queue->sync([&level] { level = client().filterLevel; });
  return level;
}

bool isDebugModeOn() { return gDebugMode.load(); }
VTULoggerLevel maximumLevel() { return gMaximumLevel.load(); }

}  // namespace vtu::testing
