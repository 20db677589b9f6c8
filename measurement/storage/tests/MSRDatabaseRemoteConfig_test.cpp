#include <gtest/gtest.h>

#include "measurement/messages/MSRPBAccessors.h"
#include "measurement/messages/MSRPBMeasurementConfig.h"
#include "measurement/storage/MSRDatabase.h"
#include "measurement/storage/MSRPersistedConfig.h"
#include "measurement/storage/MSRStorageConstants.h"
#include "measurement/storage/tests/MSRStorageTestSupport.h"
#include "platform/testing/PlatformTest.h"

using platform::ErrorPtr;
using platform::Value;

namespace {

class MSRDatabaseRemoteConfigTest : public platform::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    database_ = MSRDatabase::initWithDatabaseName(
        kMSRDatabaseName, MSRPersistedConfig::initWithSuiteName("suite"), nullptr);
    ASSERT_TRUE(database_);
  }
  std::shared_ptr<MSRDatabase> database_;
};

TEST_F(MSRDatabaseRemoteConfigTest, StoresAndReadsTheConfigurationAndItsTime) {
  ErrorPtr error;
  EXPECT_FALSE(database_->queryMeasurementConfigWithError(&error));
  EXPECT_FALSE(error);
  EXPECT_TRUE(database_->lastRemoteConfigUpdateTimestamp(&error).isNil());
  EXPECT_FALSE(error);

  auto config = MSRPBMeasurementConfig::message();
  EXPECT_FALSE(database_->updateRemoteConfig(config, &error));
  EXPECT_EQ(description(error), "Invalid measurement config data");
  MSRPBSetStringField(config, 1, Value("1:app"));
  ASSERT_TRUE(database_->updateRemoteConfig(config, &error)) << description(error);
  auto read = database_->queryMeasurementConfigWithError(nullptr);
  ASSERT_TRUE(read);
  EXPECT_EQ(MSRPBGetString(read, 1), Value("1:app"));
  EXPECT_EQ(database_->lastRemoteConfigUpdateTimestamp(nullptr), Value(clock().now()));
  ASSERT_TRUE(database_->updateRemoteConfigSuccessfulTimestamp(42.5, nullptr));
  EXPECT_EQ(database_->lastRemoteConfigUpdateTimestamp(nullptr), Value(42.5));
}

TEST_F(MSRDatabaseRemoteConfigTest, CorruptDataAndMissingRowAreReported) {
  ASSERT_TRUE(database_->sqliteStore()->updateAllRecordsInTableWithName(
      "app_metadata", "remote_config_data", Value::data("\xff\xff\xff"), nullptr));
  ErrorPtr error;
  EXPECT_FALSE(database_->queryMeasurementConfigWithError(&error));
  EXPECT_EQ(description(error), "Remote config data is corrupted");

  ASSERT_TRUE(database_->sqliteStore()->deleteAllRecordsFromTableWithName("app_metadata", nullptr));
  EXPECT_FALSE(database_->updateRemoteConfigSuccessfulTimestamp(1, &error));
  EXPECT_EQ(description(error), "Failed to update record. Item doesn't exist");
  EXPECT_TRUE(database_->lastRemoteConfigUpdateTimestamp(&error).isNil());
  EXPECT_EQ(error->code(), 3);
}

}  // namespace
