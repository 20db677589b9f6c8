// The batch upload's answer: the first line of the input is the "Retry-After" header, the rest
// the body (the upload response message). The operation decodes it and sets the next upload
// time of its target from it: never in the past, never more than a week ahead, and a wait of an
// hour or more that the server asked for is never cut short.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>

#include <pb_decode.h>

#include "VDTCORLibrary/VDTCORClock.h"
#include "clt_uploader/VDTCLTNanopbHelpers.h"
#include "clt_uploader/VDTCLTUploadOperation.h"
#include "fuzz/FuzzTarget.h"
#include "platform/network/URLResponse.h"
#include "utilities/network/VTUURLSessionDataResponse.h"

namespace {

// Records the pacing the operation asks for.
class Pacing : public VDTCLTUploadMetadataProvider {
 public:
  VDTCORClockPtr nextUploadTimeForTarget(long) override { return next_; }
  void setNextUploadTime(VDTCORClockPtr time, long) override { next_ = std::move(time); }
  std::optional<std::string> APIKeyForTarget(long) override { return std::nullopt; }
  VDTCORClockPtr next_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input = fuzz::textOf(data, size);
  std::size_t newline = input.find('\n');
  std::string retryAfter(input.substr(0, newline));
  platform::Bytes body;
  if (newline != std::string_view::npos) {
    body = fuzz::bytesOf(data + newline + 1, size - newline - 1);
  }

  constexpr std::int64_t kHour = 3600 * 1000, kWeek = 7 * 24 * kHour;
  // The wait asked for, when it is at least an hour: by the body, else by the header.
  bool longWaitAsked = false;
  platform::ErrorPtr error;
  vdtclt_UploadResponse decoded = VDTCLTDecodeUploadResponse(body, &error);
  bool bodyAsks = !error && decoded.has_wait_millis;
  if (bodyAsks) longWaitAsked = decoded.wait_millis >= kHour;
  pb_release(vdtclt_UploadResponse_fields, &decoded);
  if (!bodyAsks && !retryAfter.empty() &&
      retryAfter.find_first_not_of("0123456789") == std::string::npos) {
    std::size_t digits =
        retryAfter.size() - std::min(retryAfter.find_first_not_of('0'), retryAfter.size());
    longWaitAsked = digits > 4 || (digits > 0 && std::stoll(retryAfter) >= 3600);
  }

  static auto queue = platform::DispatchQueue::create("fuzz.upload");
  auto pacing = std::make_shared<Pacing>();
  auto operation = VDTCLTUploadOperation::initWithTarget(1001, 0, "https://127.0.0.1/upload", queue,
                                                         nullptr, pacing);
  platform::HTTPHeaderFields headers;
  if (!retryAfter.empty()) headers["Retry-After"] = retryAfter;
  auto http = std::make_shared<platform::HTTPURLResponse>("https://127.0.0.1/upload", 429,
                                                          std::move(headers));
  VTUURLSessionDataResponse response(http, body);
  std::int64_t before = VDTCORClock::snapshot()->timeMillis();
  operation->updateNextUploadTimeWithResponse(response, 1001);
  std::int64_t after = VDTCORClock::snapshot()->timeMillis();
  fuzz::require(pacing->next_ != nullptr, "every answer sets the next upload time");
  std::int64_t next = pacing->next_->timeMillis();
  fuzz::require(next >= before && next <= after + kWeek, "the next upload is within a week");
  fuzz::require(!longWaitAsked || next >= before + kHour, "a long wait is kept");
  return 0;
}
