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

}  // namespace

struct SystemLogCapture::State {
  mutable std::mutex mutex;
  std::vector<Line> lines;
};

void SystemLog::write(int level, std::string_view message, bool toStandardError) {
  level = std::clamp(level, static_cast<int>(LogLevel::Error), static_cast<int>(LogLevel::Debug));
  write(static_cast<LogLevel>(level), message, toStandardError);
}

void SystemLog::write(LogLevel level, std::string_view message, bool toStandardError) {
  int raw = std::clamp(static_cast<int>(level), static_cast<int>(LogLevel::Error),
                       static_cast<int>(LogLevel::Debug));
  level = static_cast<LogLevel>(raw);
  {
    std::lock_guard lock(captureMutex());
    if (!captures().empty()) {
      captures().back()->append(
          SystemLogCapture::Line{level, std::string(message), toStandardError});
      return;
    }
  }
  std::string text(message);
  // Never a format string: the message goes in as an argument.
  syslog(raw, "%s", text.c_str());
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
