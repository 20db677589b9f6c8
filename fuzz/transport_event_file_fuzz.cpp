// A stored transport event file: the first line of the input is the file's name (its target,
// event ID, tier, expiry and mapping ID), the rest the file's bytes. The storage reads both, and
// an event that decodes goes into an upload batch as the uploader builds it.
#include <string>
#include <vector>

#include "VDTCORLibrary/VDTCORClock.h"
#include "VDTCORLibrary/VDTCORConstants.h"
#include "VDTCORLibrary/VDTCOREvent.h"
#include "VDTCORLibrary/VDTCORFlatFileStorage.h"
#include "VDTCORLibrary/VDTCORPlatform.h"
#include "clt_uploader/VDTCLTNanopbHelpers.h"
#include "clt_uploader/VDTCOREvent+VDTCLTSupport.h"
#include "fuzz/FuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input = fuzz::textOf(data, size);
  std::size_t newline = input.find('\n');
  if (newline == std::string_view::npos) return 0;
  VDTCORFlatFileStorage::eventComponentsFromFilename(std::string(input.substr(0, newline)));
  VDTCORFlatFileStorage::batchComponentsFromFilename(std::string(input.substr(0, newline)));

  // The file: an archive, or a payload given a correct header (see keyedArchiveOf).
  platform::Bytes file = fuzz::keyedArchiveOf(data + newline + 1, size - newline - 1);
  platform::ErrorPtr error;
  auto event =
      VDTCORUnarchiveObject(kVDTCOREventClassName, {}, file, &error).objectAs<VDTCOREvent>();
  if (!event) return 0;
  if (const auto& clock = event->clockSnapshot()) {
    // Pacing compares stored snapshots with fresh ones of the same boot.
    VDTCORClock sameBoot(0, 0, clock->kernelBootTimeNanoseconds(), 0);
    clock->isAfter(sameBoot);
    sameBoot.isAfter(*clock);
  }
  VDTCLTSupport::needsNetworkConnectionInfoPopulated(*event);
  VDTCLTSupport::networkConnectionInfoData(*event);
  VDTCLTSupport::eventCode(*event);
  VDTCLTEncodedBatchForEvents(std::vector<VDTCOREventPtr>{event});
  auto again = VDTCORArchiveObject(platform::Value(event), {}, &error);
  fuzz::require(again.has_value(), "a decoded event archives again");
  return 0;
}
