// A raw event's stored bytes as the database reads them back from the data column. The direct
// reader may leave any input to the Event message path, but what it reads must be exactly what
// that path reads: the same origin, previous timestamp and parameters, value kinds included.
// Whatever reads back is made into an event again, whose bytes the direct writer must write as
// the message path does.
#include <cstdio>

#include "fuzz/FuzzTarget.h"
#include "measurement/foundation/tests/MSREventShapes.h"
#include "measurement/storage/tests/MSRStoredEventDifferential.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The message path's value constructors and the event's rules may log, and the monitor keeps
  // its settings at home.
  static const bool homeSet = (fuzz::sandboxHome(), true);
  (void)homeSet;
  const auto result = msr_test::compareStoredEventReadings(data, size);
  if (!result.divergence.empty()) std::fprintf(stderr, "%s\n", result.divergence.c_str());
  fuzz::require(result.divergence.empty(), "the direct reader reads what the message path reads");
  if (!result.content) return 0;
  const auto event =
      MSREvent::initWithOrigin(result.content->origin, false, "_e", 1.0,
                               result.content->previousTimestamp, &result.content->parameters);
  if (!event) return 0;
  const auto direct = MSREventStoredFormBytes(*event);
  fuzz::require(!direct || *direct == msr_test::messageStoredBytes(*event),
                "the direct writer writes what the message path writes");
  return 0;
}
