// An audience's current and previous results (encoded ResultData messages, each may be absent)
// as the database stores them. The audiences' record; deliberately minimal (record only).
// Immutable; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/base/Value.h"

class MSRFilterResult : public platform::Object {
 public:
  MSRFilterResult(std::int32_t audienceID, std::optional<platform::Bytes> currentResults,
                  std::optional<platform::Bytes> previousResults)
      : audienceID_(audienceID),
        currentResults_(std::move(currentResults)),
        previousResults_(std::move(previousResults)) {}

  std::string className() const override { return "MSRFilterResult"; }

  std::int32_t audienceID() const { return audienceID_; }
  const std::optional<platform::Bytes>& currentResults() const { return currentResults_; }
  const std::optional<platform::Bytes>& previousResults() const { return previousResults_; }

 private:
  std::int32_t audienceID_;
  std::optional<platform::Bytes> currentResults_;
  std::optional<platform::Bytes> previousResults_;
};
