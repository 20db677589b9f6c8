// Impact haptics. There is no vibration motor here, so each impact is recorded (tests read the
// log) and handed to the pulse handler, which the window host sets to flash a short visual pulse.
// Thread-safe: a mutex guards the log and the handler.
#pragma once

#include <functional>
#include <vector>

namespace platform::app {

enum class ImpactStyle { Light = 0, Medium = 1, Heavy = 2 };

class ImpactFeedbackGenerator {
 public:
  explicit ImpactFeedbackGenerator(ImpactStyle style) : style_(style) {}
  ImpactStyle style() const { return style_; }
  void impactOccurred() const;

 private:
  ImpactStyle style_;
};

class HapticsLog {
 public:
  // Every impact so far, in order.
  static std::vector<ImpactStyle> impacts();
  static void clear();
  // Called (on the thread of the impact, outside the lock) after each impact is recorded.
  static void setPulseHandler(std::function<void(ImpactStyle)> handler);
};

}  // namespace platform::app
