// Reads stored raw-event bytes both ways, directly and through the Event message, and tells
// whether they disagree: the direct reader may leave bytes to the general path, but what it does
// read must be exactly what the general path reads, and the general path must succeed on it.
// Shared by the storage tests and the stored-form fuzz target.
#pragma once

#include <cstring>
#include <optional>
#include <string>

#include "measurement/foundation/MSREventStoredForm.h"
#include "measurement/foundation/tests/MSREventShapes.h"
#include "measurement/storage/MSRDatabase.h"

namespace msr_test {

struct StoredEventComparison {
  bool direct = false;     // the direct reader read the bytes
  bool general = false;    // the general path read them
  std::string divergence;  // empty when the two agree
  std::optional<MSREventStoredContent> content;  // what the general path read
};

inline StoredEventComparison compareStoredEventReadings(const std::uint8_t* bytes,
                                                        std::size_t length) {
  StoredEventComparison result;
  const auto direct = MSREventStoredFormRead(bytes, length);
  platform::ErrorPtr error;
  const auto general = MSREventStoredContentFromMessage(
      platform::Value::data(platform::Bytes(bytes, bytes + length)), &error);
  result.direct = direct.has_value();
  result.general = general.has_value();
  result.content = general;
  if (!direct) return result;
  if (!general) {
    result.divergence = "read directly, refused by the message path: " +
                        (error ? error->localizedDescription() : std::string("no error"));
    return result;
  }
  if (direct->origin != general->origin) {
    result.divergence = "origins " + direct->origin + " and " + general->origin;
  } else if (std::memcmp(&direct->previousTimestamp, &general->previousTimestamp,
                         sizeof(double)) != 0) {
    result.divergence = "previous timestamps";
  } else if (std::string why; !sameParameters(direct->parameters, general->parameters, &why)) {
    result.divergence = "parameters: " + why;
  }
  return result;
}

}  // namespace msr_test
