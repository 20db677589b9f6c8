// The app's three events with the app core configured from the bundle's options: a tap on a clip,
// a favourite and a share in the TestHost each leave one row in the real measurement database
// under the sandbox home, with the event's name and its "id".
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "TVS/EntityLoader.h"
#include "TVS/EntityView.h"
#include "TVS/SoundViewModel.h"
#include "TVS/tests/TVSTestSupport.h"
#include "core/LMOApp.h"
#include "installations/LMOInstallationsAPIService.h"
#include "measurement/engine/tests/MSRStoredEvents.h"
#include "measurement/frontend/MSRAnalytics.h"
#include "measurement/frontend/tests/FrontendTestSupport.h"
#include "platform/app/AudioBackend.h"
#include "platform/testing/PlatformTest.h"
#include "platform/ui/TestHost.h"

namespace {

using namespace platform::ui;
using msr_testing::storedRawEvents;
using platform::Value;

class AnalyticsRecordingTest : public platform::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    tvs::testing::useBundle(tvs::testing::builtBundle());
    platform::app::AudioBackend::setCurrent(
        std::make_shared<platform::app::RecordingAudioBackend>());
    vtu::testing::startCapturingLines();
    // No installations service here: registration fails at once against a closed loopback port.
    LMOInstallationsAPIService::setServiceBaseURL("https://127.0.0.1:9");
    catalogue_ = EntityLoader::loadEntities();
    ASSERT_FALSE(catalogue_.empty());
    entity_ = catalogue_[0];
    ASSERT_GE(entity_->sounds().size(), 2u);
    vm_ = std::make_shared<SoundViewModel>();
  }
  void TearDown() override {
    if (MSRAnalytics::isStarted()) {
      EXPECT_TRUE(frontend_testing::drainAnalytics());
    }
    platform::app::AudioBackend::setCurrent(nullptr);
    PlatformTest::TearDown();
  }

  std::vector<SoundProducingEntityPtr> catalogue_;
  SoundProducingEntityPtr entity_;
  SoundViewModelPtr vm_;
};

TEST_F(AnalyticsRecordingTest, PlayFavouriteAndShareEachLeaveOneStoredEvent) {
  LMOApp::configure();  // as the app's start-up does, from the bundle's options
  TestHost host(View(EntityView{entity_, vm_, 125}));
  const auto& played = *entity_->sounds()[0];
  const auto& swiped = *entity_->sounds()[1];

  auto title = host.findText(played.displayName());
  ASSERT_TRUE(title);
  host.tap(*title);
  host.pump();
  auto row = host.findText(swiped.displayName());
  ASSERT_TRUE(row);
  auto actions = host.revealSwipeActions(*row);
  ASSERT_EQ(actions.size(), 2u);
  EXPECT_TRUE(host.tap(actions[0]));  // the heart
  host.pump();
  actions = host.revealSwipeActions(*host.findText(swiped.displayName()));
  ASSERT_EQ(actions.size(), 2u);
  EXPECT_TRUE(host.tap(actions[1]));  // share
  host.pump();

  ASSERT_TRUE(frontend_testing::drainAnalytics());
  EXPECT_TRUE(tvs::testing::analyticsEvents().empty()) << "nothing was dropped";
  struct Expected {
    const char* name;
    std::string id;
  };
  const Expected expected[] = {{"sound_play", played.id()},
                               {"sound_favorited", swiped.id()},
                               {"sound_share", swiped.id()}};
  // Read through a connection of its own: the rows are on disk, not only in the engine.
  auto events = storedRawEvents();
  ASSERT_EQ(events.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(events[i].name, expected[i].name);
    EXPECT_EQ(events[i].origin, "app");
    EXPECT_EQ(events[i].parameters.at("id"), Value(expected[i].id)) << expected[i].name;
  }
}

}  // namespace
