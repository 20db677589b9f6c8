#include <gtest/gtest.h>

#include "measurement/storage/MSRDatabase.h"
#include "measurement/storage/MSRPersistedConfig.h"
#include "measurement/storage/MSRStorageConstants.h"
#include "platform/testing/PlatformTest.h"

using platform::ErrorPtr;
using platform::Value;

namespace {

class MSRDatabasePurchasesTest : public platform::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    database_ = MSRDatabase::initWithDatabaseName(
        kMSRDatabaseName, MSRPersistedConfig::initWithSuiteName("suite"), nullptr);
    ASSERT_TRUE(database_);
  }
  Value count(const char* table) {
    return database_->sqliteStore()->rowCountForTableWithName(table, nullptr);
  }
  std::shared_ptr<MSRDatabase> database_;
};

TEST_F(MSRDatabasePurchasesTest, PurchasesAreRecordedOnceAndCutToTheNewestThousand) {
  ErrorPtr error;
  EXPECT_EQ(database_->insertIfNotDuplicatePurchaseFingerprint("", &error), Value(false));
  EXPECT_FALSE(error);
  EXPECT_EQ(database_->insertIfNotDuplicatePurchaseFingerprint("p0", &error), Value(true));
  EXPECT_EQ(database_->insertIfNotDuplicatePurchaseFingerprint("p0", &error), Value(false));
  for (int i = 1; i <= 1000; ++i) {
    ASSERT_EQ(database_->insertIfNotDuplicatePurchaseFingerprint("p" + std::to_string(i), &error),
              Value(true));
  }
  EXPECT_EQ(count("purchase_transactions"), Value(1000LL));
  // The oldest went, so it counts as new again.
  EXPECT_EQ(database_->insertIfNotDuplicatePurchaseFingerprint("p0", &error), Value(true));
  EXPECT_EQ(database_->insertIfNotDuplicatePurchaseFingerprint("p1000", &error), Value(false));
}

TEST_F(MSRDatabasePurchasesTest, SubscriptionsAreCutOnlyWhenAsked) {
  for (int i = 0; i < 1003; ++i) {
    ASSERT_EQ(database_->insertIfNotDuplicateSubscriptionID("s" + std::to_string(i), nullptr),
              Value(true));
  }
  EXPECT_EQ(database_->insertIfNotDuplicateSubscriptionID("s5", nullptr), Value(false));
  EXPECT_EQ(count("subscriptions"), Value(1003LL));
  EXPECT_EQ(database_->deleteSubscriptionsOverLimit(nullptr), Value(3LL));
  EXPECT_EQ(database_->insertIfNotDuplicateSubscriptionID("s0", nullptr), Value(true));
}

TEST_F(MSRDatabasePurchasesTest, FailuresAreReportedWithOrWithoutAnErrorSlot) {
  ASSERT_TRUE(database_->sqliteStore()->dropTableWithName("purchase_transactions", nullptr));
  ASSERT_TRUE(database_->sqliteStore()->dropTableWithName("subscriptions", nullptr));
  ErrorPtr error;
  EXPECT_TRUE(database_->insertIfNotDuplicatePurchaseFingerprint("p", &error).isNil());
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), 3);
  // A purchase the store never took must not read as newly recorded.
  EXPECT_TRUE(database_->insertIfNotDuplicatePurchaseFingerprint("p", nullptr).isNil());
  EXPECT_TRUE(database_->insertIfNotDuplicateSubscriptionID("s", nullptr).isNil());
}

}  // namespace
