// Foundation-style format strings: %@ (a Value's description), %d %i %u %ld %li %lu %lld %llu
// %f %s %p %c %x %X %e %g %%, with flags, widths and precisions such as %06ld or %.2f. A wrong
// argument kind or a missing argument formats as the platform does at worst and never crashes.
// A runtime string is never used as a format: callers pass literals.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/base/Value.h"

namespace platform {

std::string formatValues(std::string_view format, const std::vector<Value>& args);

template <class... Args>
std::string format(std::string_view fmt, const Args&... args) {
  return formatValues(fmt, std::vector<Value>{Value(args)...});
}

// A pointer as a value for %p.
inline Value pointerValue(const void* p) {
  return Value(static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(p)));
}

}  // namespace platform
