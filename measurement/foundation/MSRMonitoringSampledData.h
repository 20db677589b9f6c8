// The health monitor's one-entry random sample of monitorable messages since the last dispatch:
// [encoded context, population, key, date of the first message]. Touched only on the monitor
// queue; no lock of its own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/base/Value.h"

class MSRMonitoringSampledData {
 public:
  // A copy of a valid four-entry array; anything else starts with no sample.
  explicit MSRMonitoringSampledData(const platform::Value& array = platform::Value());

  static bool isValidUserDefaultsArrayEntry(const platform::Value& array);
  static std::string monitoringURLParamWithKey(const std::string& key, std::int32_t population,
                                               const std::string& context);
  // Nil when the key or the context is nil.
  static platform::Value sampledDataEntryWithKey(const std::optional<std::string>& key,
                                                 double timestamp,
                                                 const std::optional<std::string>& context,
                                                 std::int32_t population);

  void insertOrUpdateSampledDataWithKey(const std::optional<std::string>& key,
                                        const std::optional<std::string>& encodedContext);
  std::optional<std::string> monitoringDataForDispatchWithSamplePeriod(
      double samplePeriod, double lastSampledTimestamp);
  // Folds in a sample of other messages of the same period (those counted while the stored one
  // could not be read): the counts add up, the earlier date stays, and each message of both is
  // still the kept one with probability 1/N.
  void mergeSampledData(const MSRMonitoringSampledData& other);
  // The array, or nil when there is no sample.
  platform::Value sampledData() const;

 private:
  platform::Value::Array entry_;  // empty: no sample
};
