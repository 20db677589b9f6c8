// Property lists (XML and binary) through libplist, and JSON through nlohmann-json, to and from
// Value. Property-list values are nil-free: strings, numbers, booleans, dates, data, arrays and
// dictionaries. Thread-safe.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/base/Error.h"
#include "platform/base/Value.h"

namespace platform {

enum class PropertyListFormat { Xml, Binary };

// The most arrays and dictionaries a property list nests one inside another, the outermost
// counted. The reader and the writer refuse more, so hostile input cannot exhaust the stack.
inline constexpr int kMaxPropertyListDepth = 512;

// True for what serializePropertyList writes once the value sits inside `enclosingContainers`
// arrays and dictionaries (1 for a value kept under a key of a file's top-level dictionary):
// false for arrays and dictionaries nested deeper than kMaxPropertyListDepth there, counting the
// enclosing ones. Also false for what this libplist cannot store faithfully: strings holding a
// NUL character, dates more than about 68 years from 2001-01-01 (before 1932-12-13 or after
// 2069-01-19) and dates within the second before 2001-01-01. XML keeps dates to the second;
// binary keeps microseconds.
bool isPropertyListValue(const Value& value, int enclosingContainers = 0);
// nil and an error on malformed input (either format is detected), and on a value that would
// not read back as stored (see above; also integers past 64 bits and numbers in XML text that
// has more than a number).
Value parsePropertyList(std::string_view bytes, ErrorPtr* error = nullptr);
std::optional<Bytes> serializePropertyList(const Value& value, PropertyListFormat format,
                                           ErrorPtr* error = nullptr);

// JSON: integers become Signed (Unsigned above INT64_MAX), other numbers Double, true/false
// Bool, null the null marker. nil and an error on malformed input.
Value parseJson(std::string_view text, ErrorPtr* error = nullptr);
// Refuses values JSON cannot hold (data, dates, sets, objects, non-finite doubles).
std::optional<std::string> serializeJson(const Value& value, bool pretty = false,
                                         ErrorPtr* error = nullptr);

}  // namespace platform
