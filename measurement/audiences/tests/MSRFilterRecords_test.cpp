#include <gtest/gtest.h>

#include "measurement/audiences/MSREventFilter.h"
#include "measurement/audiences/MSRFilterResult.h"
#include "measurement/audiences/MSRPropertyFilter.h"
#include "platform/testing/PlatformTest.h"

namespace {

class MSRFilterRecordsTest : public platform::testing::PlatformTest {};

TEST_F(MSRFilterRecordsTest, RecordsKeepWhatTheyWereGiven) {
  platform::Bytes data{1, 2, 3};
  MSREventFilter ev(7, 9, "_vs", data, true, false, true);
  data[0] = 42;  // the record holds its own copy
  EXPECT_EQ(ev.audienceID(), 7);
  EXPECT_EQ(ev.filterID(), 9);
  EXPECT_EQ(ev.eventName(), "_vs");
  EXPECT_EQ(ev.data(), (platform::Bytes{1, 2, 3}));
  EXPECT_TRUE(ev.isSessionScoped());
  EXPECT_FALSE(ev.isDynamic());
  EXPECT_TRUE(ev.isSequence());
  MSRPropertyFilter prop(1, 2, "_fot", {}, false, true, false);
  EXPECT_EQ(prop.propertyName(), "_fot");
  EXPECT_TRUE(prop.isDynamic());
  MSRFilterResult result(3, platform::Bytes{5}, std::nullopt);
  EXPECT_EQ(result.audienceID(), 3);
  EXPECT_EQ(result.currentResults(), (platform::Bytes{5}));
  EXPECT_FALSE(result.previousResults());
}

}  // namespace
