#include "VDTCORLibrary/VDTCORFlatFileStorage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "VDTCORLibrary/VDTCORConstants.h"
#include "VDTCORLibrary/VDTCORPlatform.h"
#include "VDTCORLibrary/VDTCORReachability.h"
#include "VDTCORLibrary/VDTCORRegistrar.h"
#include "VDTCORLibrary/tests/TransportTestSupport.h"
#include "platform/base/Files.h"
#include "platform/testing/PlatformTest.h"

namespace fs = std::filesystem;
using transport_testing::waitFor;

namespace {

class VDTCORFlatFileStorageTest : public platform::testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    storage = VDTCORFlatFileStorage::sharedInstance();
  }

  VDTCOREventPtr makeEvent(long tier, const std::string& mappingID = "137", long target = 1001) {
    auto event = VDTCOREvent::initWithMappingID(mappingID, target);
    event->setDataObject(std::make_shared<transport_testing::TextPayload>("payload"));
    event->setQosTier(tier);
    event->setClockSnapshot(VDTCORClock::snapshot());
    return event;
  }

  std::pair<bool, platform::ErrorPtr> store(const VDTCOREventPtr& event) {
    std::pair<bool, platform::ErrorPtr> result;
    EXPECT_TRUE(waitFor([&](auto done) {
      storage->storeEvent(event, [&, done](bool ok, platform::ErrorPtr error) {
        result = {ok, error};
        done();
      });
    }));
    return result;
  }

  std::pair<std::optional<long>, std::vector<VDTCOREventPtr>> batch(
      const VDTCORStorageEventSelectorPtr& selector, double expiration) {
    std::pair<std::optional<long>, std::vector<VDTCOREventPtr>> result;
    EXPECT_TRUE(waitFor([&](auto done) {
      storage->batchWithEventSelector(
          selector, expiration,
          [&, done](std::optional<long> id, std::optional<std::vector<VDTCOREventPtr>> events) {
            result = {id, events.value_or(std::vector<VDTCOREventPtr>{})};
            done();
          });
    }));
    return result;
  }

  std::vector<std::string> namesIn(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : platform::files::contentsOfDirectory(dir).value_or(
             std::vector<platform::DirectoryEntry>{})) {
      names.push_back(entry.name);
    }
    return names;
  }

  void drain() { storage->storageQueue()->sync([] {}); }

  std::shared_ptr<VDTCORFlatFileStorage> storage;
};

TEST_F(VDTCORFlatFileStorageTest, RegistersItselfForItsTargetsAtStartUp) {
  VDTCOREnsureLoaded();
  auto storages = VDTCORRegistrar::sharedInstance()->targetToStorage();
  for (long target : {999, 1000, 1001, 1002, 1003}) {
    EXPECT_EQ(storages[target], storage) << target;
  }
  EXPECT_EQ(VDTCORPromiseStorageForTarget(1001), storage);
  EXPECT_EQ(VDTCORPromiseStorageForTarget(5), nullptr);
}

TEST_F(VDTCORFlatFileStorageTest, StoredEventIsOneArchiveNamedByItsFacts) {
  auto event = makeEvent(3, "a/b");
  auto [ok, error] = store(event);
  ASSERT_TRUE(ok) << (error ? error->localizedDescription() : "");
  fs::path dir = platform::SandboxHome::caches() / "veltro-sdks-events" / "VDTCORFlatFileStorage" /
                 "vdt_event_data" / "1001";
  auto names = namesIn(dir);
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(names[0], event->eventID() + "-3-" +
                          std::to_string(static_cast<unsigned long long>(*event->expirationDate())) +
                          "-a%2Fb");
  auto decoded = VDTCORUnarchiveObject("VDTCOREvent", dir / names[0], std::nullopt, nullptr)
                     .objectAs<VDTCOREvent>();
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->mappingID(), "a/b");

  // The plain value still matches a mapping-ID filter.
  auto selector = std::make_shared<VDTCORStorageEventSelector>(
      1001, std::nullopt, std::set<std::string>{"a/b"}, std::nullopt);
  auto [id, events] = batch(selector, clock().now() + 600);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0]->eventID(), event->eventID());
}

TEST_F(VDTCORFlatFileStorageTest, EventsWithoutPayloadAreRefusedAtOnce) {
  auto event = VDTCOREvent::initWithMappingID("137", 1001);
  bool called = false;
  storage->storeEvent(event, [&](bool ok, platform::ErrorPtr error) {
    called = true;
    EXPECT_FALSE(ok);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), "NSInternalInconsistencyException");
    EXPECT_EQ(error->code(), -1);
  });
  EXPECT_TRUE(called);  // on the caller's thread
}

TEST_F(VDTCORFlatFileStorageTest, BatchIDsCountUpAndStickAtTheLastValue) {
  std::vector<long> ids;
  for (int i = 0; i < 2; ++i) {
    waitFor([&](auto done) {
      storage->nextBatchID([&, done](std::optional<long> id) {
        ids.push_back(id.value_or(-99));
        done();
      });
    });
  }
  EXPECT_EQ(ids, (std::vector<long>{0, 1}));
  drain();  // the counter is written after the ID is handed out

  std::uint32_t max = UINT32_MAX;
  platform::Bytes bytes(4);
  std::memcpy(bytes.data(), &max, 4);
  fs::path counter = VDTCORFlatFileStorage::libraryDataStoragePath() /
                     "VDTCORFlatFileStorageBatchIDCounter";
  ASSERT_TRUE(platform::files::writeAtomically(counter, bytes));
  for (int i = 0; i < 2; ++i) {
    waitFor([&](auto done) {
      storage->nextBatchID([&, done](std::optional<long> id) {
        EXPECT_EQ(id, -1);
        done();
      });
    });
    drain();
    EXPECT_EQ(platform::files::readFile(counter), bytes);
  }
}

TEST_F(VDTCORFlatFileStorageTest, SizeLimitAdmitsExactlyTheLimit) {
  auto first = makeEvent(4);
  auto archived = VDTCORArchiveObject(platform::Value(first), fs::path(), nullptr);
  ASSERT_TRUE(archived);
  // A filler that leaves room for exactly one archive of this size.
  fs::path filler = VDTCORStorageRootURL() / "filler";
  { std::ofstream(filler).put('x'); }
  fs::resize_file(filler, 20000000 - archived->size());

  VDTCORReachability::sharedInstance().setFlagsForTesting(2);
  auto uploader = std::make_shared<transport_testing::RecordingUploader>();
  VDTCORRegistrar::sharedInstance()->registerUploader(uploader, 1001);

  EXPECT_TRUE(store(first).first);
  auto drainCoordinator = [&] {
    drain();
    for (int i = 0; i < 3; ++i) storage->uploadCoordinator()->coordinationQueue()->sync([] {});
  };
  drainCoordinator();
  EXPECT_EQ(uploader->recorded(), (std::vector<std::pair<long, long>>{{1001, 4 | 16}}));

  auto second = makeEvent(4);
  auto [ok, error] = store(second);
  EXPECT_FALSE(ok);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->domain(), "VDTCORFlatFileStorage");
  EXPECT_EQ(error->code(), 0);
  EXPECT_EQ(error->userInfo().at("NSLocalizedFailureReason"),
            platform::Value("Storage size limit has been reached."));
  drainCoordinator();
  EXPECT_EQ(uploader->recorded().size(), 1u);  // a refused store forces nothing
  uint64_t size = 0;
  waitFor([&](auto done) {
    storage->storageSizeWithCallback([&, done](uint64_t s) {
      size = s;
      done();
    });
  });
  EXPECT_EQ(size, 20000000u);
}

TEST_F(VDTCORFlatFileStorageTest, SelectorsFilterByTierAndSkipHiddenFiles) {
  std::map<long, std::string> idsByTier;
  for (long tier : {0, 1, 2, 3, 4, 5}) idsByTier[tier] = makeEvent(tier)->eventID();
  std::vector<VDTCOREventPtr> events;
  for (long tier : {0, 1, 2, 3, 4, 5}) {
    events.push_back(makeEvent(tier));
    ASSERT_TRUE(store(events.back()).first);
  }
  fs::path targetDir = VDTCORFlatFileStorage::eventDataStoragePath() / "1001";
  ASSERT_TRUE(platform::files::writeAtomically(targetDir / ".hidden-3-9999999999-137", "x"));

  auto selector = std::make_shared<VDTCORStorageEventSelector>(1001, std::nullopt, std::nullopt,
                                                               std::set<long>{3, 4});
  auto [id, picked] = batch(selector, clock().now() + 600);
  EXPECT_EQ(id, 0);
  std::set<long> tiers;
  for (const auto& e : picked) tiers.insert(e->qosTier());
  EXPECT_EQ(tiers, (std::set<long>{3, 4}));

  // Everything else, but never the hidden file.
  auto [id2, rest] = batch(VDTCORStorageEventSelector::eventSelectorForTarget(1001),
                           clock().now() + 600);
  EXPECT_EQ(id2, 1);
  EXPECT_EQ(rest.size(), 4u);
  EXPECT_TRUE(platform::files::exists(targetDir / ".hidden-3-9999999999-137"));

  // Nothing left: none, and the counter still moved on.
  auto [id3, none] = batch(VDTCORStorageEventSelector::eventSelectorForTarget(1001),
                           clock().now() + 600);
  EXPECT_FALSE(id3);
  EXPECT_TRUE(none.empty());
  waitFor([&](auto done) {
    storage->nextBatchID([&, done](std::optional<long> next) {
      EXPECT_EQ(next, 3);
      done();
    });
  });
}

TEST_F(VDTCORFlatFileStorageTest, RemovingABatchReturnsOrDeletesItsEvents) {
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(store(makeEvent(3)).first);
  fs::path targetDir = VDTCORFlatFileStorage::eventDataStoragePath() / "1001";
  auto [id, events] = batch(VDTCORStorageEventSelector::eventSelectorForTarget(1001),
                            clock().now() + 600);
  ASSERT_EQ(events.size(), 3u);
  EXPECT_TRUE(namesIn(targetDir).empty());
  std::optional<std::set<long>> ids;
  waitFor([&](auto done) {
    storage->batchIDsForTarget(1001, [&, done](auto found) {
      ids = found;
      done();
    });
  });
  EXPECT_EQ(ids, (std::set<long>{*id}));

  waitFor([&](auto done) { storage->removeBatchWithID(*id, false, done); });
  EXPECT_EQ(namesIn(targetDir).size(), 3u);
  EXPECT_TRUE(namesIn(VDTCORFlatFileStorage::batchDataStoragePath()).empty());

  auto [id2, again] = batch(VDTCORStorageEventSelector::eventSelectorForTarget(1001),
                            clock().now() + 600);
  ASSERT_EQ(again.size(), 3u);
  waitFor([&](auto done) { storage->removeBatchWithID(*id2, true, done); });
  EXPECT_TRUE(namesIn(targetDir).empty());
  EXPECT_TRUE(namesIn(VDTCORFlatFileStorage::batchDataStoragePath()).empty());

  // No batch directories at all: none rather than an empty set.
  waitFor([&](auto done) {
    storage->batchIDsForTarget(1001, [&, done](auto found) {
      ids = found;
      done();
    });
  });
  EXPECT_FALSE(ids);
}

TEST_F(VDTCORFlatFileStorageTest, ExpiryDissolvesBatchesAndDropsExpiredEvents) {
  auto shortLived = makeEvent(3);
  shortLived->setExpirationDate(clock().now() + 100);
  auto longLived = makeEvent(3);
  ASSERT_TRUE(store(shortLived).first);
  ASSERT_TRUE(store(longLived).first);
  auto [id, events] = batch(VDTCORStorageEventSelector::eventSelectorForTarget(1001),
                            clock().now() + 50);
  ASSERT_EQ(events.size(), 2u);
  auto loose = makeEvent(3);
  loose->setExpirationDate(clock().now() + 100);
  ASSERT_TRUE(store(loose).first);

  clock().advance(200);
  storage->checkForExpirations();
  drain();
  EXPECT_TRUE(namesIn(VDTCORFlatFileStorage::batchDataStoragePath()).empty());
  auto names = namesIn(VDTCORFlatFileStorage::eventDataStoragePath() / "1001");
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(names[0].substr(0, 32), longLived->eventID());
}

TEST_F(VDTCORFlatFileStorageTest, UnreadableEventFilesAreDroppedFromBatches) {
  ASSERT_TRUE(store(makeEvent(3)).first);
  fs::path bad = VDTCORFlatFileStorage::eventDataStoragePath() / "1001" /
                 "ABC-3-9999999999-137";
  ASSERT_TRUE(platform::files::writeAtomically(bad, "not an archive"));
  auto [id, events] = batch(VDTCORStorageEventSelector::eventSelectorForTarget(1001),
                            clock().now() + 600);
  EXPECT_EQ(events.size(), 1u);
  EXPECT_FALSE(platform::files::exists(bad));
}

TEST_F(VDTCORFlatFileStorageTest, PromiseForms) {
  // No events: the batch promise rejects with the storage's reason.
  auto rejected = storage->batchWithEventSelector(
      VDTCORStorageEventSelector::eventSelectorForTarget(1002), clock().now() + 600);
  ASSERT_TRUE(pumpUntil([&] { return !rejected->isPending(); }));
  ASSERT_TRUE(rejected->error());
  EXPECT_EQ(rejected->error()->domain(), "VDTCORFlatFileStorage");
  EXPECT_EQ(rejected->error()->code(), -1);
  EXPECT_EQ(rejected->error()->userInfo().at("NSLocalizedFailureReason"),
            platform::Value("There are no events for the selector."));

  for (int i = 0; i < 2; ++i) ASSERT_TRUE(store(makeEvent(3, "137", 1002)).first);
  auto has = storage->hasEventsForTarget(1002);
  ASSERT_TRUE(pumpUntil([&] { return !has->isPending(); }));
  EXPECT_EQ(has->value(), platform::Value(true));

  auto made = storage->batchWithEventSelector(
      VDTCORStorageEventSelector::eventSelectorForTarget(1002), clock().now() + 600);
  ASSERT_TRUE(pumpUntil([&] { return !made->isPending(); }));
  auto uploadBatch = made->value().objectAs<VDTCORUploadBatch>();
  ASSERT_TRUE(uploadBatch);
  EXPECT_EQ(uploadBatch->events.size(), 2u);

  // Leftover batches go back to the pool, whatever the flag says.
  auto removed = storage->removeAllBatchesForTarget(1002, true);
  ASSERT_TRUE(pumpUntil([&] { return !removed->isPending(); }));
  EXPECT_TRUE(removed->isFulfilled());
  EXPECT_EQ(namesIn(VDTCORFlatFileStorage::eventDataStoragePath() / "1002").size(), 2u);
  auto none = storage->removeAllBatchesForTarget(1002, false);
  ASSERT_TRUE(pumpUntil([&] { return !none->isPending(); }));
  EXPECT_EQ(none->value(), platform::Value::null());
}

TEST_F(VDTCORFlatFileStorageTest, FileNameComponents) {
  auto event = VDTCORFlatFileStorage::eventComponentsFromFilename("ABC-4-1700000000-x-y");
  ASSERT_TRUE(event);
  EXPECT_EQ(event->at("VDTCOREventComponentsMappingIDKey"), platform::Value("x-y"));
  EXPECT_EQ(event->at("VDTCOREventComponentsQoSTierKey"), platform::Value(4LL));
  EXPECT_FALSE(VDTCORFlatFileStorage::eventComponentsFromFilename("ABC-4-1700000000"));
  auto batchName = VDTCORFlatFileStorage::batchComponentsFromFilename("1001-7-1700000000");
  ASSERT_TRUE(batchName);
  EXPECT_EQ(batchName->at("VDTCORBatchComponentsBatchIDKey"), platform::Value(7LL));
  EXPECT_FALSE(VDTCORFlatFileStorage::batchComponentsFromFilename("1001-7-1-2"));
  EXPECT_EQ(VDTCORDecodeMappingID(VDTCOREncodeMappingID("a/b c-é")), "a/b c-é");
  EXPECT_EQ(VDTCOREncodeMappingID("a/b c-é"), "a%2Fb%20c-é");
}

}  // namespace
