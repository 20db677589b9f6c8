#include "measurement/foundation/MSRMonitoringSampledData.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "platform/base/Format.h"
#include "platform/dispatch/Clock.h"
#include "platform/runtime/Crypto.h"

namespace {
constexpr std::size_t kContext = 0, kPopulation = 1, kKey = 2, kDate = 3;
}  // namespace

MSRMonitoringSampledData::MSRMonitoringSampledData(const platform::Value& array) {
  if (isValidUserDefaultsArrayEntry(array)) entry_ = *array.array();
}

bool MSRMonitoringSampledData::isValidUserDefaultsArrayEntry(const platform::Value& array) {
  const auto* a = array.array();
  if (!a || !array.isArray() || a->size() != 4) return false;
  // The population counts messages in 32 bits: a stored number outside 1..2^31-1 counts none.
  const auto& population = (*a)[kPopulation];
  if (!population.isNumber() || population.isFloatingPoint()) return false;
  const std::int64_t count = population.int64Value();
  if (count < 1 || count > std::numeric_limits<std::int32_t>::max()) return false;
  return (*a)[kContext].isString() && (*a)[kKey].isString() && (*a)[kDate].isDate();
}

std::string MSRMonitoringSampledData::monitoringURLParamWithKey(const std::string& key,
                                                                std::int32_t population,
                                                                const std::string& context) {
  if (!context.empty()) return platform::format("%d:%@:%@", population, key, context);
  return platform::format("%d:%@", population, key);
}

platform::Value MSRMonitoringSampledData::sampledDataEntryWithKey(
    const std::optional<std::string>& key, double timestamp,
    const std::optional<std::string>& context, std::int32_t population) {
  if (!key || !context) return platform::Value();
  return platform::Value(platform::Value::Array{platform::Value(*context),
                                                platform::Value(population),
                                                platform::Value(*key),
                                                platform::Value::date(timestamp)});
}

void MSRMonitoringSampledData::insertOrUpdateSampledDataWithKey(
    const std::optional<std::string>& key, const std::optional<std::string>& encodedContext) {
  if (!key || !encodedContext) return;
  if (entry_.empty()) {
    entry_ = *sampledDataEntryWithKey(key, platform::Clock::current().now(), encodedContext, 1)
                  .array();
    return;
  }
  // A full count stays full rather than wrapping to a negative one.
  const std::int64_t stored = entry_[kPopulation].int64Value();
  const auto population = static_cast<std::int32_t>(
      stored < std::numeric_limits<std::int32_t>::max() ? stored + 1 : stored);
  entry_[kPopulation] = platform::Value(population);
  // Reservoir sampling of size one: each of the N messages stays with probability 1/N.
  if (platform::crypto::randomUniform(static_cast<std::uint64_t>(population)) == 0) {
    entry_[kKey] = platform::Value(*key);
    entry_[kContext] = platform::Value(*encodedContext);
  }
}

void MSRMonitoringSampledData::mergeSampledData(const MSRMonitoringSampledData& other) {
  if (other.entry_.empty()) return;
  if (entry_.empty()) {
    entry_ = other.entry_;
    return;
  }
  // Both counts fit 32 bits, so their sum fits 64; a full count stays full.
  const std::int64_t mine = entry_[kPopulation].int64Value();
  const std::int64_t theirs = other.entry_[kPopulation].int64Value();
  const std::int64_t total = mine + theirs;
  entry_[kPopulation] = platform::Value(static_cast<std::int32_t>(
      std::min<std::int64_t>(total, std::numeric_limits<std::int32_t>::max())));
  if (platform::crypto::randomUniform(static_cast<std::uint64_t>(total)) <
      static_cast<std::uint64_t>(theirs)) {
    entry_[kKey] = other.entry_[kKey];
    entry_[kContext] = other.entry_[kContext];
  }
  const auto otherFirst = other.entry_[kDate].dateValue();
  const auto first = entry_[kDate].dateValue();
  if (otherFirst && (!first || *otherFirst < *first)) entry_[kDate] = other.entry_[kDate];
}

std::optional<std::string> MSRMonitoringSampledData::monitoringDataForDispatchWithSamplePeriod(
    double samplePeriod, double lastSampledTimestamp) {
  const double now = platform::Clock::current().now();
  if (entry_.empty()) {
    if (lastSampledTimestamp > 0 && std::fabs(lastSampledTimestamp - now) > samplePeriod) {
      return std::string("0:");
    }
    return std::nullopt;
  }
  const double first = entry_[kDate].dateValue().value_or(now);
  if (first < now - samplePeriod) {
    std::string result = monitoringURLParamWithKey(
        *entry_[kKey].string(), static_cast<std::int32_t>(entry_[kPopulation].int64Value()),
        *entry_[kContext].string());
    entry_.clear();
    return result;
  }
  return std::nullopt;
}

platform::Value MSRMonitoringSampledData::sampledData() const {
  if (entry_.empty()) return platform::Value();
  return platform::Value(entry_);
}
