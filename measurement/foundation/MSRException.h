// A caught exception as the monitor sees it among log contexts: a name, a reason and the call
// stack lines captured where it was caught. Immutable; safe to share across threads.
#pragma once

#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "platform/base/Value.h"

class MSRException : public platform::Object {
 public:
  MSRException(std::string name, std::string reason, std::vector<std::string> callStackSymbols);
  // From whatever was thrown: a platform::Exception keeps its name, any other std::exception is
  // named "std::exception"; the current call stack is captured.
  static std::shared_ptr<MSRException> fromCurrentException();
  static std::shared_ptr<MSRException> fromException(const std::exception& e);

  const std::string& name() const { return name_; }
  const std::string& reason() const { return reason_; }
  const std::vector<std::string>& callStackSymbols() const { return callStackSymbols_; }

  std::string className() const override { return "NSException"; }
  std::string description() const override { return reason_; }  // as the platform prints one

 private:
  std::string name_;
  std::string reason_;
  std::vector<std::string> callStackSymbols_;
};
