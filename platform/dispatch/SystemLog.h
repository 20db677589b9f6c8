// The system log: one line at a syslog level goes to syslog(3) and, when the caller asks, as is to
// standard error as well. Tests install a SystemLogCapture, which takes every line instead, so
// they can assert on what was logged without touching the machine's log. Thread-safe.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

// syslog's numbers, so they pass straight through.
enum class LogLevel { Error = 3, Warning = 4, Notice = 5, Info = 6, Debug = 7 };

class SystemLog {
 public:
  // A level outside Error..Debug is clamped into that range.
  static void write(LogLevel level, std::string_view message, bool toStandardError = false);
  static void write(int level, std::string_view message, bool toStandardError = false);
};

// While alive, every line written goes here instead of syslog and standard error. Captures nest:
// the most recent one receives. Destroy captures in reverse order of creation.
class SystemLogCapture {
 public:
  struct Line {
    LogLevel level;
    std::string message;
    bool toStandardError;
  };

  SystemLogCapture();
  ~SystemLogCapture();
  SystemLogCapture(const SystemLogCapture&) = delete;
  SystemLogCapture& operator=(const SystemLogCapture&) = delete;

  std::vector<Line> lines() const;
  // True when some captured line contains `text`.
  bool contains(std::string_view text) const;
  void clear();

 private:
  friend class SystemLog;
  void append(Line line);
  struct State;
  State* state_;
};

}  // namespace platform
