#include "platform/app/AudioSession.h"

namespace platform::app {

AudioSession& AudioSession::sharedInstance() {
  static auto* session = new AudioSession;
  return *session;
}

bool AudioSession::setCategory(AudioSessionCategory category, AudioSessionMode mode,
                               unsigned options, ErrorPtr* error) {
  if (ErrorPtr refused = AudioBackend::current()->setCategory(category, mode, options)) {
    setError(error, std::move(refused));
    return false;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  category_ = category;
  mode_ = mode;
  return true;
}

bool AudioSession::setActive(bool active, unsigned options, ErrorPtr* error) {
  if (ErrorPtr refused = AudioBackend::current()->setActive(active, options)) {
    setError(error, std::move(refused));
    return false;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  active_ = active;
  return true;
}

AudioSessionCategory AudioSession::category() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return category_;
}

AudioSessionMode AudioSession::mode() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return mode_;
}

bool AudioSession::isActive() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return active_;
}

}  // namespace platform::app
