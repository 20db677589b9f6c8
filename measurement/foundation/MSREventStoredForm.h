// The raw-events table's form of an event: its Event message without the name (the name has its
// own column). Writing and reading go straight between the event and the bytes for the ordinary
// shapes; anything else is left to the general message path (protoEvent and MSRPBEvent), which
// stays the one definition of the form. Plain functions without state; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "measurement/foundation/MSRParameterSanitizer.h"
#include "platform/base/Value.h"

class MSREvent;

// What the stored bytes give back besides the name and timestamp columns.
struct MSREventStoredContent {
  double previousTimestamp = 0;
  std::string origin;
  MSRParameters parameters;  // name -> MSRValue, without "_o"
};

// The bytes the general path stores for `event` (protoEvent, name cleared, encoded), written
// directly. Nullopt when the event holds something the general path handles in its own way (a
// value that is not a typed value, which it logs and leaves out, an array element that is not a
// dictionary, an array inside an item, a value of no known kind): the caller then takes the
// general path, so the bytes and the log lines are the same either way.
std::optional<platform::Bytes> MSREventStoredFormBytes(const MSREvent& event);

// The content of stored bytes, read directly. Nullopt unless the bytes are a plain, well-formed
// stored event that the general path reads successfully to the same content: an unknown or
// repeated field, a wrong wire type, a truncation, a string the decoder or its accessors refuse,
// a parameter with no or several values, a missing origin, and any other unusual input give
// nullopt, and the caller reads through the general path for its exact result or error.
std::optional<MSREventStoredContent> MSREventStoredFormRead(const std::uint8_t* bytes,
                                                            std::size_t length);
