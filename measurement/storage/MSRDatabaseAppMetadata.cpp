// The measurement database's bundle bookkeeping and daily counters, both in the app metadata row.
#include <cmath>

#include "measurement/foundation/MSRError.h"
#include "measurement/storage/MSRAppMetadata.h"
#include "measurement/storage/MSRDailyCounts.h"
#include "measurement/storage/MSRDatabase.h"
#include "measurement/storage/MSRPersistedConfig.h"
#include "measurement/storage/MSRStorageConstants.h"
#include "platform/base/Saturating.h"
#include "platform/dispatch/Clock.h"

using platform::ErrorPtr;
using platform::Value;

namespace {

constexpr const char* kDailyCountColumns[] = {
    "day", "daily_conversions_count", "daily_events_count", "daily_public_events_count",
    "daily_error_events_count", "daily_real_time_conversion_events_count"};

const Value* numberColumn(const MSRDatabase::Record& row, const char* column) {
  const auto it = row.find(column);
  return it != row.end() && it->second.isNumber() ? &it->second : nullptr;
}

}  // namespace

std::shared_ptr<MSRAppMetadata> MSRDatabase::queryAppMetadata(ErrorPtr* error) {
  const auto rows = dataTypesFromTableWithName(
      kMSRTableAppMetadata, kMSRColumnRowID, Value(kMSRAppMetadataRowID), error,
      [](const Record& row, ErrorPtr* rowError) -> Value {
        if (!MSRCheckTrue(!row.empty(), rowError, 3,
                          "Received empty dictionary for getting app metadata")) {
          return Value();
        }
        const Value* index = numberColumn(row, "last_bundle_index");
        const Value* start = numberColumn(row, "last_bundle_start_timestamp");
        const Value* end = numberColumn(row, "last_bundle_end_timestamp");
        auto metadata = MSRAppMetadata::initWithLastBundleIndex(
            index ? static_cast<std::int32_t>(index->int64Value()) : 0,
            start ? start->doubleValue() : 0.0, end ? end->doubleValue() : 0.0);
        return metadata ? Value(metadata) : Value();
      });
  if (!rows || rows->empty()) return nullptr;
  return rows->front().objectAs<MSRAppMetadata>();
}

bool MSRDatabase::updateAppMetadata(const std::shared_ptr<MSRAppMetadata>& appMetadata,
                                    ErrorPtr* error) {
  if (!MSRCheckNotNull(appMetadata.get(), error, 3,
                       "Received empty app metadata for getting dictionary representation")) {
    return false;
  }
  const Record record{{kMSRColumnRowID, Value(kMSRAppMetadataRowID)},
                      {"last_bundle_index", Value(appMetadata->lastBundleIndex())},
                      {"last_bundle_start_timestamp",
                       Value(appMetadata->lastBundleStartTimestamp())},
                      {"last_bundle_end_timestamp", Value(appMetadata->lastBundleEndTimestamp())}};
  return updateDataType(record, kMSRTableAppMetadata, kMSRColumnRowID,
                        Value(kMSRAppMetadataRowID), error);
}

std::shared_ptr<MSRDailyCounts> MSRDatabase::dailyCounts(ErrorPtr* error) {
  ErrorPtr offsetError;
  const double midnightOffset =
      persistedConfig_ ? persistedConfig_->midnightOffset(&offsetError) : 0.0;
  // Counted from any other offset, the day could pass for another one and restart the counts.
  if (!MSRCheckTrue(!offsetError, error, 2, "Failed to read the midnight offset")) return nullptr;
  // The offset is a stored number: whatever it holds, the day is a defined one.
  const auto today = platform::saturatingCast<std::int32_t>(
      std::floor((platform::Clock::current().now() - midnightOffset) / 86400.0));
  const auto rows = dataTypesFromTableWithName(
      kMSRTableAppMetadata, kMSRColumnRowID, Value(kMSRAppMetadataRowID), error,
      [today](const Record& row, ErrorPtr*) -> Value {
        std::int32_t values[6];
        for (int i = 0; i < 6; ++i) {
          const Value* column = numberColumn(row, kDailyCountColumns[i]);
          values[i] = column ? static_cast<std::int32_t>(column->int64Value()) : (i ? 0 : today);
        }
        return Value(std::make_shared<MSRDailyCounts>(values[0], values[1], values[2], values[3],
                                              values[4], values[5]));
      });
  if (!rows || rows->empty()) return nullptr;
  return rows->front().objectAs<MSRDailyCounts>();
}

bool MSRDatabase::updateDailyCounts(const std::shared_ptr<MSRDailyCounts>& dailyCounts,
                                    ErrorPtr* error) {
  if (!MSRCheckNotNull(dailyCounts.get(), error, 3,
                       "Received empty daily counts for getting dictionary representation")) {
    return false;
  }
  const std::int32_t values[6] = {dailyCounts->day(),
                                  dailyCounts->conversionsCount(),
                                  dailyCounts->allEventsCount(),
                                  dailyCounts->publicEventsCount(),
                                  dailyCounts->errorEventsCount(),
                                  dailyCounts->realtimeCount()};
  Record record;
  for (int i = 0; i < 6; ++i) record.emplace(kDailyCountColumns[i], Value(values[i]));
  return updateDataType(record, kMSRTableAppMetadata, kMSRColumnRowID,
                        Value(kMSRAppMetadataRowID), error);
}
