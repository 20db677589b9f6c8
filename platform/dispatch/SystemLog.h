// The system log: one line at a syslog level goes to syslog(3) and, when the caller asks, as is to
// standard error as well, either plainly or through a client opened for a facility (the
// reverse-DNS name of the part of the program that writes), whose lines carry that facility.
// Tests install a SystemLogCapture, which takes every line instead, so they can assert on what
// was logged without touching the machine's log. Thread-safe, except that a client's mirroring
// is changed by its owner on the one queue that uses the client.
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

 private:
  friend class SystemLogClient;
  // Every line, plain or a client's, goes through here.
  static void deliver(LogLevel level, std::string_view message, bool toStandardError,
                      const std::string& facility);
};

class SystemLogClient {
 public:
  // Opens a client for `facility`; `mirrorToStandardError` sends each line to standard error too.
  SystemLogClient(std::string facility, bool mirrorToStandardError);

  const std::string& facility() const { return facility_; }
  bool mirrorsToStandardError() const { return mirrorToStandardError_; }
  // Adds standard error as a further output of every later line.
  void mirrorToStandardError() { mirrorToStandardError_ = true; }

  // A level outside Error..Debug is clamped into that range, as for SystemLog::write.
  void write(LogLevel level, std::string_view message) const;
  void write(int level, std::string_view message) const;

 private:
  std::string facility_;
  bool mirrorToStandardError_;
};

// While alive, every line written goes here instead of syslog and standard error. Captures nest:
// the most recent one receives. Destroy captures in reverse order of creation.
class SystemLogCapture {
 public:
  struct Line {
    LogLevel level;
    std::string message;
    bool toStandardError;
    std::string facility;  // of the client that wrote the line; empty for SystemLog::write
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
