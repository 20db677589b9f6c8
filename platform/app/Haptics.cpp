#include "platform/app/Haptics.h"

#include <mutex>

namespace platform::app {
namespace {

struct HapticsState {
  std::mutex mutex;
  std::vector<ImpactStyle> impacts;
  std::function<void(ImpactStyle)> pulse;
};

HapticsState& state() {
  static auto* s = new HapticsState;
  return *s;
}

}  // namespace

void ImpactFeedbackGenerator::impactOccurred() const {
  std::function<void(ImpactStyle)> pulse;
  {
    std::lock_guard<std::mutex> lock(state().mutex);
    state().impacts.push_back(style_);
    pulse = state().pulse;
  }
  if (pulse) pulse(style_);
}

std::vector<ImpactStyle> HapticsLog::impacts() {
  std::lock_guard<std::mutex> lock(state().mutex);
  return state().impacts;
}

void HapticsLog::clear() {
  std::lock_guard<std::mutex> lock(state().mutex);
  state().impacts.clear();
}

void HapticsLog::setPulseHandler(std::function<void(ImpactStyle)> handler) {
  std::lock_guard<std::mutex> lock(state().mutex);
  state().pulse = std::move(handler);
}

}  // namespace platform::app
