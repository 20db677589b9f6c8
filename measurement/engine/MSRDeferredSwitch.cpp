#include "measurement/engine/MSRDeferredSwitch.h"

#include <utility>

MSRDeferredSwitch::MSRDeferredSwitch(std::function<std::optional<bool>()> read)
    : read_(std::move(read)) {}

std::optional<bool> MSRDeferredSwitch::read() {
  if (auto kept = answer()) return kept;
  // Asked without the lock: a caller of answer() never waits behind a slow file.
  const std::optional<bool> now = read_ ? read_() : std::nullopt;
  std::lock_guard lock(mutex_);
  if (!answer_ && now) answer_ = now;
  return answer_;
}

std::optional<bool> MSRDeferredSwitch::answer() const {
  std::lock_guard lock(mutex_);
  return answer_;
}
