#include "measurement/foundation/MSRMonitor.h"

#include <cstdint>
#include <limits>

#include "measurement/foundation/MSRASLLogger.h"
#include "measurement/foundation/MSRConstants.h"
#include "measurement/foundation/MSRException.h"
#include "measurement/foundation/MSRMonitoringSampledData.h"
#include "platform/base/Error.h"
#include "platform/base/Format.h"
#include "platform/base/ProcessInfo.h"
#include "platform/base/Strings.h"
#include "platform/runtime/Runtime.h"
#include "utilities/VTUAppEnvironmentUtil.h"
#include "utilities/logger/VTULogger.h"

namespace {

constexpr std::uint64_t kSilentMask = 0x24;
constexpr std::uint64_t kMonitorableMask = 0x36;

// The front end says whether the app is an App Store installation; without it, the platform's
// own environment facts decide.
bool isAppStoreInstallation() {
  if (platform::runtime::Class* cls = platform::runtime::classNamed(kMSRAEUClassName)) {
    if (platform::runtime::respondsToSelector(cls, "isFAS")) {
      return platform::runtime::msgSend<bool>(cls, "isFAS");
    }
  }
  return VTUAppEnvironmentUtil::isFromAppStore();
}

bool isEngineError(const platform::Value& v, const platform::Error** out) {
  auto error = v.objectAs<platform::Error>();
  if (!error) return false;
  *out = error.get();
  return true;
}

// The range of numbers with as many decimal digits as the number: 150 -> "100...999",
// -150 -> "-999...-100". Digits are counted on the integer itself, never through a logarithm of
// a double, which rounds 999999999999999 up to 15 digits' worth and cannot hold every 64-bit
// number. From 19 digits on, 10q - 1 does not fit: one range a side, ending at the 64-bit limit.
std::string encodeNumber(const platform::Value& number) {
  const std::int64_t v = number.int64Value();
  // The magnitude as unsigned, so that the most negative number has one too.
  const std::uint64_t a = v < 0 ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
  if (a <= 99) return platform::format("%lld", static_cast<long long>(v));
  std::int64_t q = 100;  // the smallest number with as many digits as a
  while (q <= std::numeric_limits<std::int64_t>::max() / 10 &&
         static_cast<std::uint64_t>(q) * 10 <= a) {
    q *= 10;
  }
  if (q >= 1000000000000000000) {
    return v > 0 ? "1000000000000000000...9223372036854775807"
                 : "-9223372036854775808...-1000000000000000000";
  }
  if (v > 0) {
    return platform::format("%lld...%lld", static_cast<long long>(q),
                            static_cast<long long>(10 * q - 1));
  }
  return platform::format("%lld...%lld", static_cast<long long>(1 - 10 * q),
                          static_cast<long long>(-q));
}

}  // namespace

std::string MSRMonitorContextFromErrors(const std::vector<platform::Value>& contexts) {
  std::string joined;
  bool first = true;
  for (const auto& c : contexts) {
    const platform::Error* error = nullptr;
    if (!isEngineError(c, &error) || error->domain() != kMSRErrorDomain) continue;
    auto it = error->userInfo().find(kMSRMonitorContextKey);
    if (it == error->userInfo().end()) continue;
    const std::string* s = it->second.string();
    if (!s || s->empty()) continue;
    if (!first) joined += ",";
    joined += *s;
    first = false;
  }
  return joined;
}

std::shared_ptr<MSRMonitor> MSRMonitor::initWithLogLevel(std::int64_t logLevel,
                                                         std::shared_ptr<MSRLogging> logger,
                                                         std::int64_t libraryVersion) {
  std::shared_ptr<MSRMonitor> m(new MSRMonitor());
  m->logLevel_ = logLevel;
  m->logger_ = std::move(logger);
  m->libraryVersion_ = libraryVersion;
  m->logTag_ = kMSRDefaultLogTag;
  m->monitoringSampledData_ = std::make_unique<MSRMonitoringSampledData>();
  m->monitorQueue_ = platform::DispatchQueue::create(kMSRMonitorQueueLabel);
  m->monitorQueue_->setTargetQueue(
      platform::DispatchQueue::global(platform::QualityOfService::Background));
  m->monitorUserDefaults_ = platform::UserDefaults::initWithSuiteName(kMSRMonitorSuiteName);
  std::weak_ptr<MSRMonitor> weak = m;
  m->monitorQueue_->async([weak] {
    if (auto self = weak.lock()) self->loadMonitoringDataIfNeededOnMonitorQueue();
  });
  m->readStartUpSwitches();
  return m;
}

std::shared_ptr<MSRMonitor> MSRMonitor::initWithLibraryVersion(std::int64_t libraryVersion) {
  return initWithLogLevel(6, std::make_shared<MSRASLLogger>(), libraryVersion);
}

MSRMonitor::~MSRMonitor() = default;

void MSRMonitor::readStartUpSwitches() {
  if (isAppStoreInstallation()) return;
  auto& info = platform::ProcessInfo::processInfo();
  auto has = [&info](const char* arg) { return info.hasArgument(arg); };
  auto standard = platform::UserDefaults::standardUserDefaults();
  const platform::Value storedDebug = standard->objectForKey(kMSRDebugModeKey);
  deferToLMOLogger_ = (has(kMSRArgLMODebugDisabled) || has(kMSRArgLMODebugEnabled)) &&
                      platform::runtime::classNamed(kMSRLMOConfigurationClassName) != nullptr;
  if (has(kMSRArgNoMSRAnalyticsDebugEnabled) || has(kMSRArgNoLMOAnalyticsDebugEnabled) ||
      has(kMSRArgLMODebugDisabled)) {
    setDebugModeEnabled(false);
  } else if (storedDebug.boolValue() || has(kMSRArgMSRAnalyticsDebugEnabled) ||
             has(kMSRArgLMOAnalyticsDebugEnabled) || has(kMSRArgLMODebugEnabled)) {
    setDebugModeEnabled(true);
  }
  const platform::Value storedVerbose = standard->objectForKey(kMSRVerboseLoggingKey);
  if (has(kMSRArgMSRVerboseDisabled) || has(kMSRArgLMOVerboseDisabled)) {
    setVerboseLoggingEnabled(false);
  } else if (storedVerbose.boolValue() || has(kMSRArgMSRVerboseEnabled) ||
             has(kMSRArgLMOVerboseEnabled)) {
    setVerboseLoggingEnabled(true);
  }
}

void MSRMonitor::setDebugModeEnabled(bool enabled) {
  const bool on = enabled && !isAppStoreInstallation();
  logLevel_ = on ? 7 : 6;
  if (!deferToLMOLogger_) VTULoggerSetMaximumLevel(on ? 7 : 5);
  auto standard = platform::UserDefaults::standardUserDefaults();
  if (on) {
    standard->setObject(platform::Value(true), kMSRDebugModeKey);
    logWithLevel(7, 24000, "Debug mode is on");
  } else {
    standard->removeObjectForKey(kMSRDebugModeKey);
    logWithLevel(7, 24001, "Debug mode is off");
  }
  debugModeEnabled_ = on;
}

void MSRMonitor::setVerboseLoggingEnabled(bool enabled) {
  const bool on = enabled && !isAppStoreInstallation();
  const std::int64_t level = on ? 8 : (debugModeEnabled_ ? 7 : 6);
  logLevel_ = level;
  if (!deferToLMOLogger_) VTULoggerSetMaximumLevel(MSRASLLogger::VTULoggerLevelFromLogLevel(level));
  auto standard = platform::UserDefaults::standardUserDefaults();
  if (on) {
    standard->setObject(platform::Value(true), kMSRVerboseLoggingKey);
    logWithLevel(8, 24003, "Verbose logging is on");
  } else {
    standard->removeObjectForKey(kMSRVerboseLoggingKey);
    logWithLevel(8, 24004, "Verbose logging is off");
  }
  verboseLoggingEnabled_ = on;
}

std::string MSRMonitor::logTag() const {
  std::lock_guard<std::mutex> lock(tagMutex_);
  return logTag_;
}

void MSRMonitor::setLogTag(std::string tag) {
  std::lock_guard<std::mutex> lock(tagMutex_);
  logTag_ = std::move(tag);
}

namespace {
platform::Value orNull(const platform::Value& v) { return v.isNil() ? platform::Value::null() : v; }
}  // namespace

void MSRMonitor::logWithLevel(std::int64_t level, std::int64_t messageCode,
                              const Message& message) {
  logWithLevelContexts(level, messageCode, message, {});
}

void MSRMonitor::logWithLevel(std::int64_t level, std::int64_t messageCode,
                              const Message& message, const platform::Value& context) {
  logWithLevelContexts(level, messageCode, message, {orNull(context)});
}

void MSRMonitor::logWithLevel(std::int64_t level, std::int64_t messageCode,
                              const Message& message, const platform::Value& context1,
                              const platform::Value& context2) {
  logWithLevelContexts(level, messageCode, message, {orNull(context1), orNull(context2)});
}

void MSRMonitor::logWithLevel(std::int64_t level, std::int64_t messageCode,
                              const Message& message, const platform::Value& context1,
                              const platform::Value& context2, const platform::Value& context3) {
  logWithLevelContexts(level, messageCode, message,
                       {orNull(context1), orNull(context2), orNull(context3)});
}

void MSRMonitor::logWithLevelContexts(std::int64_t level, std::int64_t messageCode,
                                      const Message& message,
                                      std::vector<platform::Value> contexts) {
  if (hasLogObserver_.load(std::memory_order_acquire)) {
    std::lock_guard<std::mutex> lock(logObserverMutex_);
    if (logObserver_) logObserver_(LogRecord{level, messageCode, message, contexts});
  }
  const bool loggable = isLoggableLevel(level);
  const bool monitorable = isMonitorableLevel(level);
  if (!loggable && !monitorable) return;
  if (level >= 8 && !verboseLoggingEnabled_) return;
  if (loggable) {
    logToConsole(messageCode, stringWithLogMessage(message, level, contexts, encodeContexts_),
                 level);
  }
  if (monitorable) {
    std::string context = encodedStringWithContextArray(contexts, false);
    const std::string errors = MSRMonitorContextFromErrors(contexts);
    if (!errors.empty()) context += platform::format(",%@", errors);
    insertOrUpdateMonitoringDataWithMessage(message, context, level);
  }
}

bool MSRMonitor::isSilentLevel(std::int64_t level) {
  const auto l = static_cast<std::uint64_t>(level);
  return l > 8 ? true : ((kSilentMask >> l) & 1) != 0;
}

bool MSRMonitor::isMonitorableLevel(std::int64_t level) {
  const auto l = static_cast<std::uint64_t>(level);
  return l > 8 ? true : ((kMonitorableMask >> l) & 1) != 0;
}

std::optional<std::string> MSRMonitor::logLevelDescriptionFromLogLevel(std::int64_t level) {
  static const char* const kNames[] = {"ERROR",   "ERROR",   "ERROR",  "WARNING",
                                       "WARNING", "WARNING", "NOTICE", "DEBUG"};
  if (level < 0 || level > 7) return std::nullopt;
  return std::string(kNames[level]);
}

std::string MSRMonitor::encodedStringWithContextObject(const platform::Value& context) {
  switch (context.kind()) {
    case platform::Value::Kind::Nil:
    case platform::Value::Kind::Null:
      return "";
    case platform::Value::Kind::String:
      return "-";
    case platform::Value::Kind::Number:
      return encodeNumber(context);
    case platform::Value::Kind::Object: {
      if (auto e = context.objectAs<MSRException>()) {
        auto symbol = lastMSRSymbolFromException(e);
        return symbol ? *symbol : "-";
      }
      if (auto error = context.objectAs<platform::Error>()) {
        return error->domain().empty() ? "-" : error->domain();
      }
      return "?";
    }
    default:
      return "?";
  }
}

std::string MSRMonitor::encodedStringWithContextArray(const std::vector<platform::Value>& contexts,
                                                      bool insertSpaces) {
  std::string out;
  for (std::size_t i = 0; i < contexts.size(); ++i) {
    if (i) out += insertSpaces ? ", " : ",";
    out += encodedStringWithContextObject(contexts[i]);
  }
  return out;
}

std::string MSRMonitor::stringWithLogMessage(const Message& message, std::int64_t,
                                             const std::vector<platform::Value>& contexts,
                                             bool encodeContexts) {
  std::string text = !message ? kMSRMessageWasNil
                              : (message->empty() ? kMSRMessageWasEmpty : *message);
  if (contexts.empty()) return text;
  if (encodeContexts) {
    return text + platform::format(": %@", encodedStringWithContextArray(contexts, true));
  }
  text += ": ";
  for (std::size_t i = 0; i < contexts.size(); ++i) {
    if (i) text += ", ";
    const platform::Value& c = contexts[i];
    if (auto e = c.objectAs<MSRException>()) {
      auto symbol = lastMSRSymbolFromException(e);
      text += symbol ? platform::format("%@: %@", *symbol, e->description()) : e->description();
    } else if (c.isNull() || c.isNil()) {
      text += "(nil)";
    } else {
      text += c.description();
    }
  }
  return text;
}

std::optional<std::string> MSRMonitor::lastMSRSymbolFromException(
    const std::shared_ptr<const MSRException>& exception) {
  if (!exception) return std::nullopt;
  const auto& frames = exception->callStackSymbols();
  if (frames.size() < 3) return exception->name();
  for (std::size_t i = 2; i < frames.size(); ++i) {
    std::vector<std::string> pieces;
    std::string piece;
    for (char ch : frames[i]) {
      if (ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r') {
        if (!piece.empty()) pieces.push_back(std::move(piece));
        piece.clear();
      } else {
        piece += ch;
      }
    }
    if (!piece.empty()) pieces.push_back(std::move(piece));
    if (pieces.size() < 5) continue;
    std::string symbol =
        pieces[4] == "+" ? pieces[3] : platform::format("%@ %@", pieces[3], pieces[4]);
    if (platform::lowercase(symbol).find("msr") != std::string::npos) return symbol;
  }
  return exception->name();
}

bool MSRMonitor::isLoggableLevel(std::int64_t level) const {
  return VTULoggerIsLevelLoggable(MSRASLLogger::VTULoggerLevelFromLogLevel(level)) &&
         !isSilentLevel(level);
}

void MSRMonitor::logToConsole(std::int64_t messageCode, const std::optional<std::string>& message,
                              std::int64_t logLevel) {
  if (!message) return;
  std::weak_ptr<MSRMonitor> weak = weak_from_this();
  monitorQueue_->async([weak, messageCode, text = *message, logLevel] {
    auto self = weak.lock();
    if (!self || !self->logger_) return;
    self->logger_->logMessage(text, self->logTag(), messageCode, logLevel);
  });
}

// ---- Health monitor -------------------------------------------------------------------------

std::string MSRMonitor::monitoringDataKeyWithMessage(const Message& message,
                                                     std::int64_t logLevel,
                                                     std::int64_t libraryVersion) {
  static const char kLetters[] = "EEEWWW";
  const char letter = (logLevel >= 0 && logLevel <= 5) ? kLetters[logLevel] : '?';
  return platform::format("%@%@_%lld:%@", "1", std::string(1, letter),
                          static_cast<long long>(libraryVersion),
                          message ? platform::Value(*message) : platform::Value());
}

void MSRMonitor::insertOrUpdateMonitoringDataWithMessage(const Message& message,
                                                         const std::string& encodedContext,
                                                         std::int64_t logLevel) {
  std::string key = monitoringDataKeyWithMessage(message, logLevel, libraryVersion_);
  std::weak_ptr<MSRMonitor> weak = weak_from_this();
  monitorQueue_->async([weak, key = std::move(key), encodedContext] {
    auto self = weak.lock();
    if (!self) return;
    self->loadMonitoringDataIfNeededOnMonitorQueue();  // a sample not read at launch is read again
    self->monitoringSampledData_->insertOrUpdateSampledDataWithKey(key, encodedContext);
    self->saveMonitoringDataToUserDefaultsOnMonitorQueue();
  });
}

std::optional<std::string> MSRMonitor::monitoringDataForDispatchWithSamplePeriod(
    double samplePeriod, double lastSampledTimestamp) {
  std::optional<std::string> result;
  monitorQueue_->sync([&] {
    // A stored sample that could not be read is not "no sample": nothing is due until it reads.
    if (!loadMonitoringDataIfNeededOnMonitorQueue()) return;
    result = monitoringSampledData_->monitoringDataForDispatchWithSamplePeriod(
        samplePeriod, lastSampledTimestamp);
    if (result) saveMonitoringDataToUserDefaultsOnMonitorQueue();
  });
  return result;
}

void MSRMonitor::clearMonitoringData() {
  monitorQueue_->sync([&] {
    auto standard = platform::UserDefaults::standardUserDefaults();
    standard->removeObjectForKey(kMSRDebugModeKey);
    standard->removeObjectForKey(kMSRHealthMonitorKey);
    if (monitorUserDefaults_) monitorUserDefaults_->removeObjectForKey(kMSRHealthMonitorKey);
    // What was sampled in memory goes too; the removals above are known whatever the files.
    monitoringSampledData_ = std::make_unique<MSRMonitoringSampledData>();
    monitoringDataLoaded_ = false;
    loadMonitoringDataIfNeededOnMonitorQueue();
  });
}

void MSRMonitor::flush() {
  monitorQueue_->sync([] {});
}

void MSRMonitor::setLogObserverForTesting(LogObserver observer) {
  std::lock_guard<std::mutex> lock(logObserverMutex_);
  hasLogObserver_ = static_cast<bool>(observer);
  logObserver_ = std::move(observer);
}

bool MSRMonitor::loadMonitoringDataFromUserDefaultsOnMonitorQueue() {
  // Until the old sample has been copied or found absent, the suite's record is not the whole
  // story: loading it now would let the copy be skipped for a sample of this run.
  if (migration_ == Migration::NotRead) return false;
  platform::Value stored;
  if (monitorUserDefaults_) {
    platform::ErrorPtr error;
    stored = monitorUserDefaults_->objectForKey(kMSRHealthMonitorKey, &error);
    if (error) return false;
  }
  auto sampledMeanwhile = std::move(monitoringSampledData_);
  monitoringSampledData_ = std::make_unique<MSRMonitoringSampledData>(stored);
  monitoringDataLoaded_ = true;
  if (sampledMeanwhile && sampledMeanwhile->sampledData().isArray()) {
    monitoringSampledData_->mergeSampledData(*sampledMeanwhile);
    saveMonitoringDataToUserDefaultsOnMonitorQueue();
  }
  return true;
}

bool MSRMonitor::loadMonitoringDataIfNeededOnMonitorQueue() {
  if (monitoringDataLoaded_) return true;
  if (migration_ != Migration::Done) migrateMonitorDataOnMonitorQueue();
  return loadMonitoringDataFromUserDefaultsOnMonitorQueue();
}

void MSRMonitor::saveMonitoringDataToUserDefaultsOnMonitorQueue() {
  // Never over a stored sample that could not be read.
  if (!monitorUserDefaults_ || !monitoringDataLoaded_) return;
  monitorUserDefaults_->setObject(monitoringSampledData_->sampledData(), kMSRHealthMonitorKey);
  synchronizeToDiskOnMonitorQueue();
}

void MSRMonitor::synchronizeToDiskOnMonitorQueue() {
  if (monitorUserDefaults_) monitorUserDefaults_->synchronize();
}

// Moves on only after reads that reached the files it decides on; otherwise it is left where it
// is and runs again at the next load. The state in the suite is the truth; migration_ only
// spares this process reading it again.
void MSRMonitor::migrateMonitorDataOnMonitorQueue() {
  if (!monitorUserDefaults_) {
    migration_ = Migration::Done;
    return;
  }
  auto standard = platform::UserDefaults::standardUserDefaults();
  platform::ErrorPtr error;
  const platform::Value storedState =
      monitorUserDefaults_->objectForKey(kMSRMonitorMigrationStateKey, &error);
  if (error) return;
  std::int64_t state = storedState.int64Value();
  if (state == 0) {
    const platform::Value old = standard->objectForKey(kMSRHealthMonitorKey, &error);
    if (error) return;
    const platform::Value current =
        monitorUserDefaults_->objectForKey(kMSRHealthMonitorKey, &error);
    if (error) return;
    if (old.isArray() && current.isNil()) {
      monitorUserDefaults_->setObject(old, kMSRHealthMonitorKey);
    }
    monitorUserDefaults_->setObject(platform::Value(1), kMSRMonitorMigrationStateKey);
    synchronizeToDiskOnMonitorQueue();
    state = 1;
  }
  if (state == 1) {
    migration_ = Migration::Copied;
    standard->removeObjectForKey(kMSRHealthMonitorKey);
    // A removal the standard file has not taken yet stays to be finished by a later load.
    if (!standard->synchronize()) return;
    monitorUserDefaults_->setObject(platform::Value(2), kMSRMonitorMigrationStateKey);
    synchronizeToDiskOnMonitorQueue();
  }
  migration_ = Migration::Done;
}
