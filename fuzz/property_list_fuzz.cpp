// Property lists as the system reads them (options, Info.plist, defaults): either form, then
// whatever was read is written back in both forms and must read back.
#include "fuzz/FuzzTarget.h"
#include "platform/base/PropertyList.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  platform::ErrorPtr error;
  platform::Value value = platform::parsePropertyList(fuzz::textOf(data, size), &error);
  fuzz::require(value.isNil() == (error != nullptr), "a value or an error, never both");
  if (value.isNil()) return 0;
  for (auto format : {platform::PropertyListFormat::Xml, platform::PropertyListFormat::Binary}) {
    auto bytes = platform::serializePropertyList(value, format, &error);
    if (!bytes) continue;  // values this libplist cannot store faithfully are refused
    std::string text(bytes->begin(), bytes->end());
    fuzz::require(!platform::parsePropertyList(text).isNil(), "what was written reads back");
  }
  return 0;
}
