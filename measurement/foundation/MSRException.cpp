#include "measurement/foundation/MSRException.h"

#include <execinfo.h>

#include <cstdlib>

#include "platform/base/Error.h"

namespace {
std::vector<std::string> currentCallStack() {
  void* frames[64];
  const int n = backtrace(frames, 64);
  std::vector<std::string> lines;
  char** symbols = backtrace_symbols(frames, n);
  if (!symbols) return lines;
  for (int i = 0; i < n; ++i) lines.emplace_back(symbols[i]);
  std::free(symbols);
  return lines;
}
}  // namespace

MSRException::MSRException(std::string name, std::string reason,
                           std::vector<std::string> callStackSymbols)
    : name_(std::move(name)), reason_(std::move(reason)),
      callStackSymbols_(std::move(callStackSymbols)) {}

std::shared_ptr<MSRException> MSRException::fromException(const std::exception& e) {
  if (const auto* pe = dynamic_cast<const platform::Exception*>(&e)) {
    return std::make_shared<MSRException>(pe->name(), pe->reason(), currentCallStack());
  }
  return std::make_shared<MSRException>("std::exception", e.what(), currentCallStack());
}

std::shared_ptr<MSRException> MSRException::fromCurrentException() {
  try {
    throw;
  } catch (const std::exception& e) {
    return fromException(e);
  } catch (...) {
    return std::make_shared<MSRException>("unknown", "unknown exception", currentCallStack());
  }
}
