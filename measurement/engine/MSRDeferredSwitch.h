// A collection switch of the start options that could not be read as the front end started (the
// app's data-collection setting, while its file could not be read): the engine asks it again on
// its worker queue at each need until it answers, and keeps the first answer, as it keeps any
// other start option for the session. Until then it is not known, which is neither on nor off.
// Thread-safe; only read() may wait for a file, and no lock is held while it does.
#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "platform/base/Value.h"

class MSRDeferredSwitch : public platform::Object {
 public:
  // `read` gives the switch, or nullopt while it still cannot be read.
  explicit MSRDeferredSwitch(std::function<std::optional<bool>()> read);

  // The kept answer, else asks again (and keeps what comes). Not on a thread that must not wait
  // for a file.
  std::optional<bool> read();
  // The kept answer, without asking: for callers that never wait for a file.
  std::optional<bool> answer() const;

  std::string className() const override { return "MSRDeferredSwitch"; }

 private:
  const std::function<std::optional<bool>()> read_;
  mutable std::mutex mutex_;  // guards answer_ only
  std::optional<bool> answer_;
};
