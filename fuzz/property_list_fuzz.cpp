// Property lists as the system reads them (options, Info.plist, defaults): either form, then
// whatever was read is written back in both forms and must read back as it was.
#include <cmath>

#include "fuzz/FuzzTarget.h"
#include "platform/base/PropertyList.h"

namespace {

// Equal, with NaN equal to itself and dates within `dateSlack` seconds: XML keeps dates to the
// second, binary to about a microsecond.
bool readsBackAs(const platform::Value& back, const platform::Value& value, double dateSlack) {
  if (back.isDate() && value.isDate()) {
    return std::fabs(*back.dateValue() - *value.dateValue()) < dateSlack;
  }
  if (back.isFloatingPoint() && value.isFloatingPoint() && std::isnan(back.doubleValue())) {
    return std::isnan(value.doubleValue());
  }
  if (back.isArray() && value.isArray()) {
    if (back.array()->size() != value.array()->size()) return false;
    for (std::size_t i = 0; i < back.array()->size(); ++i) {
      if (!readsBackAs(back.array()->at(i), value.array()->at(i), dateSlack)) return false;
    }
    return true;
  }
  if (back.isDictionary() && value.isDictionary()) {
    if (back.dictionary()->size() != value.dictionary()->size()) return false;
    for (const auto& [key, element] : *value.dictionary()) {
      auto it = back.dictionary()->find(key);
      if (it == back.dictionary()->end() || !readsBackAs(it->second, element, dateSlack)) {
        return false;
      }
    }
    return true;
  }
  return back == value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  platform::ErrorPtr error;
  platform::Value value = platform::parsePropertyList(fuzz::textOf(data, size), &error);
  fuzz::require(value.isNil() == (error != nullptr), "a value or an error, never both");
  if (value.isNil()) return 0;
  fuzz::require(platform::isPropertyListValue(value), "what was read can be written");
  for (auto format : {platform::PropertyListFormat::Xml, platform::PropertyListFormat::Binary}) {
    auto bytes = platform::serializePropertyList(value, format, &error);
    fuzz::require(bytes.has_value(), "what was read is written");
    std::string text(bytes->begin(), bytes->end());
    fuzz::require(readsBackAs(platform::parsePropertyList(text), value,
                              format == platform::PropertyListFormat::Xml ? 1.0 : 1e-5),
                  "what was written reads back as it was");
  }
  return 0;
}
