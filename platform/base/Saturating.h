// Saturating arithmetic for numbers that come from outside (server waits, stored timestamps,
// seconds from a caller): a double becomes an integer without undefined behaviour, NaN becomes 0
// and anything out of range becomes the nearest bound; integer sums and products clamp instead
// of wrapping. Pure functions, safe from any thread.
#pragma once

#include <cmath>
#include <concepts>
#include <cstdint>
#include <limits>

namespace platform {

// Truncates toward zero like a cast, but NaN gives 0 and values beyond T's range (infinities
// included) give T's nearest bound.
template <std::integral T>
  requires(!std::same_as<T, bool>)
T saturatingCast(double value) {
  using Limits = std::numeric_limits<T>;
  if (std::isnan(value)) return 0;
  // 2^digits is the first value above max() and is exact in a double, unlike max() itself for
  // 64-bit types (which rounds up to 2^63 or 2^64).
  const double aboveMax = std::ldexp(1.0, Limits::digits);
  if (value >= aboveMax) return Limits::max();
  // lowest() is 0 or -2^digits, both exact in a double.
  const double lowest = static_cast<double>(Limits::lowest());
  if (value <= lowest) return Limits::lowest();
  return static_cast<T>(value);
}

// Seconds to whole milliseconds, truncated toward zero; NaN gives 0, out of range saturates.
inline std::int64_t secondsToMilliseconds(double seconds) {
  return saturatingCast<std::int64_t>(seconds * 1000.0);
}

template <std::integral T>
T saturatingAdd(T a, T b) {
  T result;
  if (!__builtin_add_overflow(a, b, &result)) return result;
  // Only a sum pushed past a bound by b overflows: b's sign says which bound.
  if constexpr (std::is_signed_v<T>) {
    return b < 0 ? std::numeric_limits<T>::lowest() : std::numeric_limits<T>::max();
  } else {
    return std::numeric_limits<T>::max();
  }
}

template <std::integral T>
T saturatingMultiply(T a, T b) {
  T result;
  if (!__builtin_mul_overflow(a, b, &result)) return result;
  if constexpr (std::is_signed_v<T>) {
    return (a < 0) != (b < 0) ? std::numeric_limits<T>::lowest() : std::numeric_limits<T>::max();
  } else {
    return std::numeric_limits<T>::max();
  }
}

}  // namespace platform
