// The process-wide audio session: the category the app plays in and whether it is active. Each
// request goes to the current AudioBackend and returns its error. Main thread by convention;
// a mutex makes it safe from any thread.
#pragma once

#include <mutex>

#include "platform/app/AudioBackend.h"
#include "platform/base/Error.h"

namespace platform::app {

class AudioSession {
 public:
  static AudioSession& sharedInstance();

  // False with *error set when the backend refuses; the previous category then stays.
  bool setCategory(AudioSessionCategory category, AudioSessionMode mode, unsigned options,
                   ErrorPtr* error);
  bool setActive(bool active, unsigned options, ErrorPtr* error);

  AudioSessionCategory category() const;
  AudioSessionMode mode() const;
  bool isActive() const;

 private:
  AudioSession() = default;
  mutable std::mutex mutex_;
  AudioSessionCategory category_ = AudioSessionCategory::SoloAmbient;
  AudioSessionMode mode_ = AudioSessionMode::Default;
  bool active_ = false;
};

}  // namespace platform::app
