// Arrays or dictionaries nested one inside another, the outermost counting as one level: the
// values the property-list depth limit is tested with.
#pragma once

#include "platform/base/Value.h"

namespace platform::testing {

inline Value nestedArrays(int levels) {
  Value v = Value(Value::Array{});
  for (int i = 1; i < levels; ++i) v = Value(Value::Array{v});
  return v;
}

inline Value nestedDictionaries(int levels) {
  Value v = Value(Value::Dictionary{});
  for (int i = 1; i < levels; ++i) v = Value(Value::Dictionary{{"n", v}});
  return v;
}

}  // namespace platform::testing
