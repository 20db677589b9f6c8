// The measurement database's remote configuration columns of the app metadata row.
#include "measurement/foundation/MSRError.h"
#include "measurement/messages/MSRPBAccessors.h"
#include "measurement/messages/MSRPBMeasurementConfig.h"
#include "measurement/storage/MSRDatabase.h"
#include "measurement/storage/MSRStorageConstants.h"
#include "platform/dispatch/Clock.h"

using platform::ErrorPtr;
using platform::Value;

namespace {
constexpr std::int32_t kVmpAppIDSlot = 1;  // field 2, vmp_app_id
}  // namespace

bool MSRDatabase::updateRemoteConfig(const std::shared_ptr<MSRPBMeasurementConfig>& config,
                                     ErrorPtr* error) {
  const auto bytes = config ? config->protoBuffer() : std::nullopt;
  if (!MSRCheckTrue(bytes && !bytes->empty(), error, 1, "Invalid measurement config data")) {
    return false;
  }
  const Value appID = MSRPBGetString(config, kVmpAppIDSlot);
  if (!MSRCheckTrue(appID.string() && !appID.string()->empty(), error, 1,
                    "Missing Veltro app ID in measurement configuration")) {
    return false;
  }
  return updateDataType({{"remote_config_data", Value::data(*bytes)},
                         {"remote_config_timestamp", Value(platform::Clock::current().now())}},
                        kMSRTableAppMetadata, kMSRColumnRowID, Value(kMSRAppMetadataRowID), error);
}

bool MSRDatabase::updateRemoteConfigSuccessfulTimestamp(double timestamp, ErrorPtr* error) {
  return updateDataType({{"remote_config_timestamp", Value(timestamp)}}, kMSRTableAppMetadata,
                        kMSRColumnRowID, Value(kMSRAppMetadataRowID), error);
}

std::shared_ptr<MSRPBMeasurementConfig> MSRDatabase::queryMeasurementConfigWithError(
    ErrorPtr* error) {
  const auto rows = sqliteStore_->recordsForQuery(
      "SELECT remote_config_data FROM app_metadata LIMIT 1", {}, error);
  if (!rows || rows->empty()) return nullptr;
  const auto it = rows->front().find("remote_config_data");
  if (it == rows->front().end() || !it->second.bytes() || it->second.bytes()->empty()) {
    return nullptr;
  }
  auto config = MSRPBMeasurementConfig::initWithBuffer(*it->second.bytes());
  MSRCheckNotNull(config.get(), error, 2, "Remote config data is corrupted");
  return config;
}

Value MSRDatabase::lastRemoteConfigUpdateTimestamp(ErrorPtr* error) {
  return sqliteStore_->numberForQuery("SELECT remote_config_timestamp FROM app_metadata LIMIT 1",
                                      {}, error);
}
