// Gzip and zlib bodies as the uploader and the network layer inflate them: never more than the
// 64 MiB ceiling comes out. And any input, compressed by this system, inflates back to itself.
#include "fuzz/FuzzTarget.h"
#include "utilities/VTUGzip.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  platform::Bytes input = fuzz::bytesOf(data, size);
  platform::ErrorPtr error;
  auto inflated = vtu_dataByInflatingGzippedData(input, &error);
  fuzz::require(!(inflated && error), "a body or an error, never both");
  constexpr std::size_t kCeiling = 64u << 20;
  fuzz::require(!inflated || inflated->size() <= kCeiling, "no body inflates past the ceiling");
  if (input.empty()) return 0;
  auto zipped = vtu_dataByGzippingData(input, &error);
  fuzz::require(zipped.has_value(), "any input compresses");
  auto back = vtu_dataByInflatingGzippedData(*zipped, &error);
  fuzz::require(back && *back == input, "what was compressed inflates to itself");
  return 0;
}
