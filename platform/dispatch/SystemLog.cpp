#include "platform/dispatch/SystemLog.h"

#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <string>

namespace platform {

namespace {

// Captures are rare and only in tests; one lock keeps install, removal and delivery ordered.
std::mutex& captureMutex() {
  static auto* m = new std::mutex;
  return *m;
}

std::vector<SystemLogCapture*>& captures() {
  static auto* v = new std::vector<SystemLogCapture*>;
  return *v;
}

LogLevel clamped(int level) {
  return static_cast<LogLevel>(
      std::clamp(level, static_cast<int>(LogLevel::Error), static_cast<int>(LogLevel::Debug)));
}

}  // namespace

void SystemLog::deliver(LogLevel level, std::string_view message, bool toStandardError,
                        const std::string& facility) {
  level = clamped(static_cast<int>(level));
  const int raw = static_cast<int>(level);
  {
    std::lock_guard lock(captureMutex());
    if (!captures().empty()) {
      captures().back()->append(
          SystemLogCapture::Line{level, std::string(message), toStandardError, facility});
      return;
    }
  }
  std::string text(message);
  // Never a format string: the message (and facility) go in as arguments.
  if (facility.empty()) {
    syslog(raw, "%s", text.c_str());
  } else {
    syslog(raw, "[%s] %s", facility.c_str(), text.c_str());
  }
  if (toStandardError) {
    // The line as given (callers format their own), in one write so that lines of concurrent
    // threads do not interleave.
    if (text.empty() || text.back() != '\n') text.push_back('\n');
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0) {
      ssize_t n = ::write(STDERR_FILENO, p, left);
      if (n <= 0) break;
      p += n;
      left -= static_cast<size_t>(n);
    }
  }
}

struct SystemLogCapture::State {
  mutable std::mutex mutex;
  std::vector<Line> lines;
};

void SystemLog::write(int level, std::string_view message, bool toStandardError) {
  SystemLog::deliver(clamped(level), message, toStandardError, std::string());
}

void SystemLog::write(LogLevel level, std::string_view message, bool toStandardError) {
  SystemLog::deliver(level, message, toStandardError, std::string());
}

SystemLogClient::SystemLogClient(std::string facility, bool mirrorToStandardError)
    : facility_(std::move(facility)), mirrorToStandardError_(mirrorToStandardError) {}

void SystemLogClient::write(LogLevel level, std::string_view message) const {
  SystemLog::deliver(level, message, mirrorToStandardError_, facility_);
}

void SystemLogClient::write(int level, std::string_view message) const {
  SystemLog::deliver(clamped(level), message, mirrorToStandardError_, facility_);
}

SystemLogCapture::SystemLogCapture() : state_(new State) {
  std::lock_guard lock(captureMutex());
  captures().push_back(this);
}

SystemLogCapture::~SystemLogCapture() {
  {
    std::lock_guard lock(captureMutex());
    auto& v = captures();
    v.erase(std::remove(v.begin(), v.end(), this), v.end());
  }
  delete state_;
}

void SystemLogCapture::append(Line line) {
  std::lock_guard lock(state_->mutex);
  state_->lines.push_back(std::move(line));
}

std::vector<SystemLogCapture::Line> SystemLogCapture::lines() const {
  std::lock_guard lock(state_->mutex);
  return state_->lines;
}

bool SystemLogCapture::contains(std::string_view text) const {
  std::lock_guard lock(state_->mutex);
  return std::any_of(state_->lines.begin(), state_->lines.end(),
                     [&](const Line& l) { return l.message.find(text) != std::string::npos; });
}

void SystemLogCapture::clear() {
  std::lock_guard lock(state_->mutex);
  state_->lines.clear();
}

}  // namespace platform
