#include "VDTCORLibrary/VDTCORFlatFileStorage.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <limits>
#include <thread>

#include "VDTCORLibrary/VDTCORConstants.h"
#include "VDTCORLibrary/VDTCORDirectorySizeTracker.h"
#include "VDTCORLibrary/VDTCORPlatform.h"
#include "VDTCORLibrary/VDTCORReachability.h"
#include "VDTCORLibrary/VDTCORRegistrar.h"
#include "VDTCORLibrary/tests/TransportTestSupport.h"
#include "platform/base/Files.h"
#include "platform/dispatch/SystemLog.h"
#include "platform/testing/ChildProcess.h"
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

  // Batch folders by their names ("<target>-<ID>-<expiration>"), as batches in use leave them.
  static void makeBatchFolders(const std::vector<std::string>& names) {
    for (const auto& name : names) {
      ASSERT_TRUE(platform::files::createDirectory(
          VDTCORFlatFileStorage::batchDataStoragePath() / name, true));
    }
  }

  // `onceNumbered` runs on the storage's queue after the batch has its ID and before its events
  // move.
  std::pair<std::optional<long>, std::vector<VDTCOREventPtr>> batch(
      const VDTCORStorageEventSelectorPtr& selector, double expiration,
      std::function<void()> onceNumbered = {}) {
    std::pair<std::optional<long>, std::vector<VDTCOREventPtr>> result;
    EXPECT_TRUE(waitFor([&](auto done) {
      storage->batchWithEventSelector(
          selector, expiration,
          [&, done](std::optional<long> id, std::optional<std::vector<VDTCOREventPtr>> events) {
            result = {id, events.value_or(std::vector<VDTCOREventPtr>{})};
            done();
          });
      if (onceNumbered) storage->storageQueue()->async(onceNumbered);
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

  void drain() {
    storage->storageQueue()->sync([] {});
  }

  long nextID() {
    long id = -99;
    EXPECT_TRUE(waitFor([&](auto done) {
      storage->nextBatchID([&, done](std::optional<long> next) {
        id = next.value_or(-99);
        done();
      });
    }));
    drain();  // the counter is written after the ID is handed out
    return id;
  }

  void writeCounter(std::uint32_t value) {
    platform::Bytes bytes(4);
    std::memcpy(bytes.data(), &value, 4);
    ASSERT_TRUE(platform::files::writeAtomically(
        VDTCORFlatFileStorage::libraryDataStoragePath() / "VDTCORFlatFileStorageBatchIDCounter",
        bytes));
  }

  std::optional<std::set<long>> batchIDs(long target) {
    std::optional<std::set<long>> ids;
    EXPECT_TRUE(waitFor([&](auto done) {
      storage->batchIDsForTarget(target, [&, done](auto found) {
        ids = found;
        done();
      });
    }));
    return ids;
  }

  // Every regular file under the sandbox home that lies outside the transport's store.
  std::vector<fs::path> filesOutsideTheStore() {
    std::vector<fs::path> outside;
    std::string root = (VDTCORStorageRootURL() / "").string();
    for (const auto& entry : fs::recursive_directory_iterator(home())) {
      if (entry.is_regular_file() && entry.path().string().rfind(root, 0) != 0) {
        outside.push_back(entry.path());
      }
    }
    return outside;
  }

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
  EXPECT_EQ(names[0],
            event->eventID() + "-3-" +
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

TEST_F(VDTCORFlatFileStorageTest, BatchIDsCountUpAndStayInRange) {
  std::vector<long> ids;
  for (int i = 0; i < 2; ++i) ids.push_back(nextID());
  EXPECT_EQ(ids, (std::vector<long>{0, 1}));

  // A counter at or past 2^31 (written by an older build) never hands out a negative ID, which
  // no batch directory name could be read back from. An ID still in use by a batch is never
  // handed out again: not when the counter wraps or points at one, nor when the counter is gone,
  // empty or cut short, where numbering goes on above every batch in use (from 0 when there is
  // none).
  const fs::path counter =
      VDTCORFlatFileStorage::libraryDataStoragePath() / "VDTCORFlatFileStorageBatchIDCounter";
  auto counterOf = [](std::uint32_t value) {
    platform::Bytes bytes(4);
    std::memcpy(bytes.data(), &value, 4);
    return bytes;
  };
  struct Case {
    const char* what;
    std::optional<platform::Bytes> counter;  // none: no counter file
    std::vector<std::string> batchFolders;
    std::vector<long> handedOut;
  };
  const Case cases[] = {
      {"just below 2^31", counterOf(0x7FFFFFFEu), {}, {0x7FFFFFFE, 0x7FFFFFFF, 0}},
      {"at 2^31", counterOf(0x80000000u), {}, {0, 1}},
      {"at 2^32 - 1", counterOf(UINT32_MAX), {}, {0x7FFFFFFF, 0}},
      {"no counter, no batch in use", std::nullopt, {}, {0, 1}},
      {"an empty counter, no batch in use", platform::Bytes{}, {}, {0, 1}},
      {"no counter, a batch in use", std::nullopt, {"1001-0-9999999999"}, {1, 2}},
      {"an empty counter, batches of two targets in use",
       platform::Bytes{},
       {"1001-3-9999999999", "1002-41-9999999999"},
       {42, 43}},
      {"a counter cut short, a batch in use", platform::Bytes{9, 0}, {"1001-7-9999999999"}, {8, 9}},
      {"a counter pointing at batches in use",
       counterOf(5),
       {"1001-5-9999999999", "1002-6-9999999999"},
       {7, 8}},
      {"a counter wrapping onto batches in use",
       counterOf(0x7FFFFFFFu),
       {"1001-0-9999999999", "1002-1-9999999999"},
       {0x7FFFFFFF, 2, 3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    makeBatchFolders(c.batchFolders);
    platform::files::removeItem(counter);
    if (c.counter) {
      ASSERT_TRUE(platform::files::writeAtomically(counter, *c.counter));
    }
    std::vector<long> got;
    for (size_t i = 0; i < c.handedOut.size(); ++i) got.push_back(nextID());
    EXPECT_EQ(got, c.handedOut);
    for (const auto& name : c.batchFolders) {
      platform::files::removeItem(VDTCORFlatFileStorage::batchDataStoragePath() / name);
    }
  }
}

// Batches of two targets, the counter gone meanwhile: the second never takes the first one's ID,
// even while the first one is still being made, so the first one's delivery deletes its own
// events only and the second one's failed upload puts its events back.
TEST_F(VDTCORFlatFileStorageTest, ABatchIDInUseIsNeverHandedOutAgain) {
  const fs::path counter =
      VDTCORFlatFileStorage::libraryDataStoragePath() / "VDTCORFlatFileStorageBatchIDCounter";
  const fs::path pool = VDTCORFlatFileStorage::eventDataStoragePath();
  struct Case {
    const char* what;
    bool whileTheFirstIsMade;
  } cases[] = {{"the counter goes between the batches", false},
               {"the counter goes while the first batch is made", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    platform::files::removeItem(counter);  // the first batch is numbered as on a fresh install
    ASSERT_TRUE(store(makeEvent(3, "137", 1001)).first);
    ASSERT_TRUE(store(makeEvent(3, "137", 1002)).first);
    const double expiration = clock().now() + 600;
    std::optional<long> first, second;
    if (!c.whileTheFirstIsMade) {
      first = batch(VDTCORStorageEventSelector::eventSelectorForTarget(1001), expiration).first;
      ASSERT_TRUE(platform::files::removeItem(counter));
      second = batch(VDTCORStorageEventSelector::eventSelectorForTarget(1002), expiration).first;
    } else {
      // The first batch's ID is handed out before the counter goes, and its events move into its
      // folder only after the second batch has asked for an ID.
      ASSERT_TRUE(waitFor([&](auto done) {
        auto made = std::make_shared<std::atomic<int>>(0);
        auto record = [made, done](std::optional<long>* into) {
          return [made, done, into](std::optional<long> id, auto) {
            *into = id;
            if (++*made == 2) done();
          };
        };
        storage->batchWithEventSelector(VDTCORStorageEventSelector::eventSelectorForTarget(1001),
                                        expiration, record(&first));
        storage->storageQueue()->async([&, record] {
          ASSERT_TRUE(platform::files::removeItem(counter));
          storage->batchWithEventSelector(VDTCORStorageEventSelector::eventSelectorForTarget(1002),
                                          expiration, record(&second));
        });
      }));
    }
    ASSERT_TRUE(first);
    ASSERT_TRUE(second);
    EXPECT_NE(*first, *second);

    waitFor([&](auto done) { storage->removeBatchWithID(*first, true, done); });
    waitFor([&](auto done) { storage->removeBatchWithID(*second, false, done); });
    EXPECT_TRUE(namesIn(pool / "1001").empty());
    EXPECT_EQ(namesIn(pool / "1002").size(), 1u) << "the undelivered event is back in the pool";
    EXPECT_TRUE(namesIn(VDTCORFlatFileStorage::batchDataStoragePath()).empty());
    platform::files::removeItem(pool / "1002");
  }
}

// Whatever stands where the counter file goes is kept aside, and numbering goes on above every
// batch still in use, so no new batch shares an ID (and so its removal) with an old one.
TEST_F(VDTCORFlatFileStorageTest, SomethingInTheCountersWayIsMovedAsideAndNumberingGoesOn) {
  const fs::path counter =
      VDTCORFlatFileStorage::libraryDataStoragePath() / "VDTCORFlatFileStorageBatchIDCounter";
  // A pipe would hold the storage's queue in its read for good, and nothing would be stored,
  // batched or removed from then on.
  enum class Obstacle { Folder, Pipe };
  struct Case {
    const char* what;
    Obstacle obstacle;
    std::vector<std::string> batchFolders;
    std::vector<long> handedOut;
  } cases[] = {
      {"a folder, no batch in use", Obstacle::Folder, {}, {0, 1}},
      {"a folder, batches of two targets in use",
       Obstacle::Folder,
       {"1001-3-9999999999", "1002-41-9999999999"},
       {42, 43}},
      {"a pipe, a batch in use", Obstacle::Pipe, {"1001-6-9999999999"}, {7, 8}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    makeBatchFolders(c.batchFolders);
    platform::files::removeItem(counter);
    if (c.obstacle == Obstacle::Folder) {
      ASSERT_TRUE(platform::files::createDirectory(counter, true));
      ASSERT_TRUE(platform::files::writeAtomically(counter / "kept", "someone's file"));
    } else {
      ASSERT_EQ(::mkfifo(counter.c_str(), 0600), 0);
    }

    std::vector<long> got;
    for (size_t i = 0; i < c.handedOut.size(); ++i) got.push_back(nextID());
    EXPECT_EQ(got, c.handedOut);
    EXPECT_TRUE(fs::is_regular_file(counter));
    bool keptAside = false;
    for (const auto& name : namesIn(counter.parent_path())) {
      const fs::path aside = counter.parent_path() / name;
      if (!name.starts_with(counter.filename().string() + ".corrupt")) continue;
      keptAside |= c.obstacle == Obstacle::Folder ? platform::files::exists(aside / "kept")
                                                  : fs::is_fifo(aside);
    }
    EXPECT_TRUE(keptAside);
    for (const auto& name : c.batchFolders) {
      platform::files::removeItem(VDTCORFlatFileStorage::batchDataStoragePath() / name);
    }
  }
}

// An event that cannot be moved into the batch's folder is not in the batch: it stays in the
// pool for a later one, and what the batch's removal deletes is exactly what the batch holds.
TEST_F(VDTCORFlatFileStorageTest, EventsThatCannotJoinTheBatchFolderStayInThePool) {
  const fs::path pool = VDTCORFlatFileStorage::eventDataStoragePath() / "1001";
  enum class Obstacle { FileWhereTheBatchFolderGoes, FolderWhereAnEventGoes };
  struct Case {
    const char* what;
    Obstacle obstacle;
    size_t batched;
  } cases[] = {
      {"a file where the batch folder goes", Obstacle::FileWhereTheBatchFolderGoes, 0},
      {"a folder where one event goes", Obstacle::FolderWhereAnEventGoes, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(store(makeEvent(3)).first);
    const std::string blocked = namesIn(pool).at(0);
    ASSERT_TRUE(store(makeEvent(3)).first);
    // The batch gets the ID after this one. The obstacle comes once it has it: a batch folder
    // there before would make that ID one in use, never handed out.
    long id = nextID();
    const double expiration = clock().now() + 600;
    const fs::path batchDir = VDTCORFlatFileStorage::batchPathForTarget(1001, id + 1, expiration);
    auto obstruct = [&] {
      if (c.obstacle == Obstacle::FileWhereTheBatchFolderGoes) {
        ASSERT_TRUE(platform::files::writeAtomically(batchDir, "in the way"));
      } else {
        ASSERT_TRUE(platform::files::createDirectory(batchDir / blocked, true));
      }
    };

    auto [batchID, events] =
        batch(VDTCORStorageEventSelector::eventSelectorForTarget(1001), expiration, obstruct);
    ASSERT_EQ(events.size(), c.batched);
    if (c.batched == 0) {
      EXPECT_FALSE(batchID);
    } else {
      EXPECT_EQ(batchID, id + 1);
      EXPECT_NE(blocked.rfind(events[0]->eventID(), 0), 0u);
      EXPECT_EQ(namesIn(batchDir).size(), 2u);  // the obstacle and the event that joined
    }
    EXPECT_EQ(namesIn(pool).size(), 2 - c.batched);
    EXPECT_TRUE(platform::files::exists(pool / blocked));

    // The batch's delivery deletes what it holds and nothing else; the rest goes next time.
    waitFor([&](auto done) { storage->removeBatchWithID(id + 1, true, done); });
    platform::files::removeItem(batchDir);
    EXPECT_EQ(namesIn(pool).size(), 2 - c.batched);
    auto [laterID, later] =
        batch(VDTCORStorageEventSelector::eventSelectorForTarget(1001), expiration);
    EXPECT_EQ(later.size(), 2 - c.batched);
    EXPECT_TRUE(namesIn(pool).empty());
    waitFor([&](auto done) { storage->removeBatchWithID(*laterID, true, done); });
  }
}

TEST_F(VDTCORFlatFileStorageTest, BatchesMadePastTheSignedRangeAreListedAndReturned) {
  writeCounter(0x80000000u);
  for (int i = 0; i < 2; ++i) ASSERT_TRUE(store(makeEvent(3)).first);
  auto [id, events] =
      batch(VDTCORStorageEventSelector::eventSelectorForTarget(1001), clock().now() + 600);
  ASSERT_TRUE(id);
  EXPECT_GE(*id, 0);
  EXPECT_EQ(batchIDs(1001), (std::set<long>{*id}));

  // A batch an older build left under a negative ID is found and its events come back.
  fs::path stranded =
      VDTCORFlatFileStorage::batchDataStoragePath() /
      ("1001--2147483648-" + std::to_string(static_cast<long long>(clock().now()) + 600));
  ASSERT_TRUE(platform::files::createDirectory(stranded, true));
  fs::path eventFile =
      stranded /
      ("ABCDEF-3-" + std::to_string(static_cast<long long>(clock().now()) + 9000) + "-137");
  ASSERT_TRUE(platform::files::writeAtomically(
      eventFile, *VDTCORArchiveObject(platform::Value(makeEvent(3)), fs::path(), nullptr)));
  EXPECT_EQ(batchIDs(1001), (std::set<long>{*id, -2147483648L}));
  auto removed = storage->removeAllBatchesForTarget(1001, false);
  ASSERT_TRUE(pumpUntil([&] { return !removed->isPending(); }));
  EXPECT_TRUE(namesIn(VDTCORFlatFileStorage::batchDataStoragePath()).empty());
  EXPECT_EQ(namesIn(VDTCORFlatFileStorage::eventDataStoragePath() / "1001").size(), 3u);
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

// Holds the process to `spare` more open files until it goes, so that opening one more fails
// as an entry that vanished or cannot be read would.
class FewFilesLeft {
 public:
  explicit FewFilesLeft(int spare) {
    ::getrlimit(RLIMIT_NOFILE, &saved_);
    int lowestFree = ::dup(0);
    ::close(lowestFree);
    rlimit low = saved_;
    low.rlim_cur = static_cast<rlim_t>(lowestFree + spare);
    ::setrlimit(RLIMIT_NOFILE, &low);
  }
  ~FewFilesLeft() { ::setrlimit(RLIMIT_NOFILE, &saved_); }

 private:
  rlimit saved_{};
};

// An entry the walk cannot open skips that entry alone: every byte it can read is counted,
// wherever in the walk the entry came.
TEST_F(VDTCORFlatFileStorageTest, TheSizeWalkCountsEveryReadableBytePastAnEntryItCannotOpen) {
  const fs::path root = home() / "walk";
  uint64_t readable = 0;
  // Two subtrees, each three levels deep with files on every level: whichever the walk meets
  // second lies past an entry it could not open.
  for (const char* subtree : {"a", "b"}) {
    fs::create_directories(root / subtree / "inner" / "deeper");
    for (const char* file : {"one", "inner/two", "inner/deeper/three"}) {
      const std::string content(1000 + readable, 'x');
      ASSERT_TRUE(platform::files::writeAtomically(root / subtree / file, content));
      readable += content.size();
    }
  }
  ASSERT_TRUE(platform::files::writeAtomically(root / ".hidden", std::string(50, 'h')));
  VDTCORDirectorySizeTracker tracker(root);
  EXPECT_EQ(tracker.calculateDirectoryContentSize(), readable);
  for (int spare : {1, 2, 3}) {
    SCOPED_TRACE(spare);
    uint64_t counted = 0;
    {
      FewFilesLeft limit(spare);
      counted = tracker.calculateDirectoryContentSize();
    }
    EXPECT_EQ(counted, readable);
  }
  EXPECT_EQ(tracker.directoryContentSize(), readable);
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
  auto [id2, rest] =
      batch(VDTCORStorageEventSelector::eventSelectorForTarget(1001), clock().now() + 600);
  EXPECT_EQ(id2, 1);
  EXPECT_EQ(rest.size(), 4u);
  EXPECT_TRUE(platform::files::exists(targetDir / ".hidden-3-9999999999-137"));

  // Nothing left: none, and the counter still moved on.
  auto [id3, none] =
      batch(VDTCORStorageEventSelector::eventSelectorForTarget(1001), clock().now() + 600);
  EXPECT_FALSE(id3);
  EXPECT_TRUE(none.empty());
  waitFor([&](auto done) {
    storage->nextBatchID([&, done](std::optional<long> next) {
      EXPECT_EQ(next, 3);
      done();
    });
  });
}

// A writer killed mid-write leaves its hidden temporary file behind. The store never counts or
// batches such a file, and once it has lain a minute the store removes it when it opens its
// folders; a fresh one may be another process's write under way and stays.
TEST_F(VDTCORFlatFileStorageTest, LeftoversOfAKilledWriterAreNeverCountedAndGoAtTheNextOpen) {
  // Spelled out: the store's own path functions open the store.
  const fs::path root = VDTCORStorageRootURL() / kVDTCORFlatFileStorageClassName;
  const fs::path library = root / kVDTCORLibraryDataDirectoryName;
  const fs::path targetDir = root / kVDTCOREventDataDirectoryName / "1001";
  if (platform::testing::testRole() == "writer") {
    const platform::Bytes big(32 << 20, 'x');
    while (true) {
      waitFor([&](auto done) { storage->storeLibraryData(big, "big", [done](auto) { done(); }); });
    }
  }
  auto leftovers = [](const fs::path& dir) {
    std::vector<fs::path> found;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
      if (platform::files::isTemporaryFileName(it->path().filename().string())) {
        found.push_back(it->path());
      }
    }
    return found;
  };
  std::vector<fs::path> left;
  for (int attempt = 0; attempt < 20 && left.empty(); ++attempt) {
    auto writer = platform::testing::ChildProcess::start("writer");
    ASSERT_TRUE(writer);
    // Killed as soon as a write is under way, wherever it is in it.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (leftovers(library).empty() && !writer->hasExited() &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::yield();
    }
    writer->kill(SIGKILL);
    EXPECT_EQ(writer->wait(), 128 + SIGKILL);
    left = leftovers(library);
  }
  ASSERT_FALSE(left.empty());

  // An event write interrupted the same way, long ago, and one under way now.
  fs::create_directories(targetDir);
  const fs::path oldEvent = targetDir / ".0A1B-1-9999999999-137.tmp.4242.0.1";
  const fs::path freshEvent = targetDir / ".0A1B-2-9999999999-137.tmp.4242.1.2";
  ASSERT_TRUE(platform::files::writeAtomically(oldEvent, std::string_view("half")));
  ASSERT_TRUE(platform::files::writeAtomically(freshEvent, std::string_view("half")));
  struct utimbuf longAgo {};
  longAgo.actime = longAgo.modtime = ::time(nullptr) - 120;
  for (const auto& path : {left.front(), oldEvent}) ASSERT_EQ(::utime(path.c_str(), &longAgo), 0);

  bool has = true;
  ASSERT_TRUE(waitFor([&](auto done) {
    storage->hasEventsForTarget(1001, [&, done](bool answer) {
      has = answer;
      done();
    });
  }));
  EXPECT_FALSE(has);
  EXPECT_FALSE(platform::files::exists(left.front()));
  EXPECT_FALSE(platform::files::exists(oldEvent));
  EXPECT_TRUE(platform::files::exists(freshEvent));
  EXPECT_TRUE(batch(VDTCORStorageEventSelector::eventSelectorForTarget(1001), clock().now() + 600)
                  .second.empty());
  EXPECT_TRUE(platform::files::exists(freshEvent));
}

TEST_F(VDTCORFlatFileStorageTest, RemovingABatchReturnsOrDeletesItsEvents) {
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(store(makeEvent(3)).first);
  fs::path targetDir = VDTCORFlatFileStorage::eventDataStoragePath() / "1001";
  auto [id, events] =
      batch(VDTCORStorageEventSelector::eventSelectorForTarget(1001), clock().now() + 600);
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

  auto [id2, again] =
      batch(VDTCORStorageEventSelector::eventSelectorForTarget(1001), clock().now() + 600);
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
  auto [id, events] =
      batch(VDTCORStorageEventSelector::eventSelectorForTarget(1001), clock().now() + 50);
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

TEST_F(VDTCORFlatFileStorageTest, EventIDsAndTiersNeverLeaveOrConfuseTheStore) {
  std::vector<fs::path> before = filesOutsideTheStore();
  struct Case {
    std::string eventID;
    long tier;
  };
  // Every event lives well past the expiry check below, unless its tier is negative and it is
  // marked short-lived.
  const std::vector<Case> cases = {{"../../../../../escaped", 3},
                                   {"AB-CD", 3},
                                   {"sub/dir", 3},
                                   {"a%2Fb", 3},
                                   {".hidden", 3},
                                   {"ID", -2},
                                   {"ODD", -7}};
  std::map<std::string, long> stored;
  for (const Case& c : cases) {
    auto event = makeEvent(c.tier);
    event->setEventID(c.eventID);
    auto [ok, error] = store(event);
    ASSERT_TRUE(ok) << c.eventID << ": " << (error ? error->localizedDescription() : "");
    stored[c.eventID] = c.tier;
  }
  EXPECT_EQ(filesOutsideTheStore(), before);
  for (const auto& name : namesIn(VDTCORFlatFileStorage::eventDataStoragePath() / "1001")) {
    EXPECT_NE(name[0], '.') << name;
    EXPECT_EQ(name.find('/'), std::string::npos) << name;
  }

  // The first expiry check keeps them all; selection by ID and by tier reads the names back.
  storage->checkForExpirations();
  drain();
  EXPECT_EQ(namesIn(VDTCORFlatFileStorage::eventDataStoragePath() / "1001").size(), cases.size());
  auto [id, picked] = batch(std::make_shared<VDTCORStorageEventSelector>(
                                1001, std::set<std::string>{"AB-CD", "../../../../../escaped"},
                                std::nullopt, std::nullopt),
                            clock().now() + 600);
  std::set<std::string> pickedIDs;
  for (const auto& e : picked) pickedIDs.insert(e->eventID());
  EXPECT_EQ(pickedIDs, (std::set<std::string>{"AB-CD", "../../../../../escaped"}));
  auto [id2, negative] = batch(std::make_shared<VDTCORStorageEventSelector>(
                                   1001, std::nullopt, std::nullopt, std::set<long>{-2}),
                               clock().now() + 600);
  ASSERT_EQ(negative.size(), 1u);
  EXPECT_EQ(negative[0]->eventID(), "ID");

  // A negative tier expires like any other.
  auto shortLived = makeEvent(-4);
  shortLived->setExpirationDate(clock().now() + 10);
  ASSERT_TRUE(store(shortLived).first);
  clock().advance(20);
  size_t left = namesIn(VDTCORFlatFileStorage::eventDataStoragePath() / "1001").size();
  storage->checkForExpirations();
  drain();
  EXPECT_EQ(namesIn(VDTCORFlatFileStorage::eventDataStoragePath() / "1001").size(), left - 1);

  // An empty ID could never be read back from a name: refused, nothing written.
  auto unnamed = makeEvent(3);
  unnamed->setEventID("");
  auto [ok, error] = store(unnamed);
  EXPECT_FALSE(ok);
  EXPECT_TRUE(error);
  EXPECT_EQ(namesIn(VDTCORFlatFileStorage::eventDataStoragePath() / "1001").size(), left - 1);
}

// An expiry past what a name can hold (or no number at all) neither wraps into the past nor
// stops the event from being stored; a far one keeps it through every expiry check.
TEST_F(VDTCORFlatFileStorageTest, ExpiriesPastTheRangeOfANameStayFar) {
  const fs::path dir = VDTCORFlatFileStorage::eventDataStoragePath() / "1001";
  const double farOnes[] = {1e300, std::numeric_limits<double>::infinity(), 1e19, 9.3e18};
  for (double expiry : farOnes) {
    auto event = makeEvent(3);
    event->setExpirationDate(expiry);
    auto [ok, error] = store(event);
    ASSERT_TRUE(ok) << expiry;
  }
  auto odd = makeEvent(3);
  odd->setExpirationDate(std::numeric_limits<double>::quiet_NaN());
  ASSERT_TRUE(store(odd).first);
  EXPECT_EQ(namesIn(dir).size(), std::size(farOnes) + 1);

  clock().advance(30 * 24 * 3600.0);
  storage->checkForExpirations();
  drain();
  // Whatever has no expiry to speak of counts as expired; the far ones all stay, batchable.
  EXPECT_EQ(namesIn(dir).size(), std::size(farOnes));
  auto [id, events] =
      batch(VDTCORStorageEventSelector::eventSelectorForTarget(1001), clock().now() + 600);
  EXPECT_EQ(events.size(), std::size(farOnes));
}

// Names an older build gave to events of a negative tier ("ID--2-<expiry>-<mapping>") are read
// back: such events are selected by their tier and expire like any other.
TEST_F(VDTCORFlatFileStorageTest, OlderNamesWithANegativeTierAreReadBack) {
  const fs::path dir = VDTCORFlatFileStorage::eventDataStoragePath() / "1001";
  platform::files::createDirectory(dir, true);
  const auto archive = *VDTCORArchiveObject(platform::Value(makeEvent(-2)), fs::path(), nullptr);
  const auto now = static_cast<long long>(clock().now());
  const std::string lasting =
      "0123456789abcdef0123456789abcdef--2-" + std::to_string(now + 3600) + "-137";
  const std::string expired =
      "fedcba9876543210fedcba9876543210--2-" + std::to_string(now - 10) + "-13-7";
  for (const std::string& name : {lasting, expired}) {
    ASSERT_TRUE(platform::files::writeAtomically(dir / name, archive));
  }
  auto components = VDTCORFlatFileStorage::eventComponentsFromFilename(expired);
  ASSERT_TRUE(components);
  EXPECT_EQ(components->at(kVDTCOREventComponentsQoSTierKey).int64Value(), -2);
  EXPECT_EQ(*components->at(kVDTCOREventComponentsEventIDKey).string(),
            "fedcba9876543210fedcba9876543210");
  EXPECT_EQ(*components->at(kVDTCOREventComponentsMappingIDKey).string(), "13-7");

  storage->checkForExpirations();
  drain();
  EXPECT_EQ(namesIn(dir), std::vector<std::string>{lasting});
  auto [id, events] = batch(std::make_shared<VDTCORStorageEventSelector>(
                                1001, std::nullopt, std::nullopt, std::set<long>{-2}),
                            clock().now() + 600);
  EXPECT_EQ(events.size(), 1u);
}

TEST_F(VDTCORFlatFileStorageTest, LibraryKeysStayInsideTheLibraryFolder) {
  std::vector<fs::path> before = filesOutsideTheStore();
  for (const std::string key : {"../../../../outside", "..", ".", ""}) {
    platform::ErrorPtr error;
    bool called = false;
    waitFor([&](auto done) {
      storage->storeLibraryData(platform::Bytes{1, 2}, key, [&, done](platform::ErrorPtr e) {
        called = true;
        error = e;
        done();
      });
    });
    EXPECT_TRUE(called) << key;
    EXPECT_TRUE(error) << key;
  }
  EXPECT_EQ(filesOutsideTheStore(), before);
}

// A home whose caches folder cannot be made: every lookup (the upload timer's every 30 seconds)
// tries the store's folders again, but each folder's failure is logged once, until it is made;
// a later failure is logged again.
TEST_F(VDTCORFlatFileStorageTest, AFolderThatCannotBeMadeIsTriedOnEveryLookupAndLoggedOnce) {
  const fs::path caches = platform::SandboxHome::caches();
  auto block = [&] {
    std::error_code ec;
    fs::remove_all(caches, ec);
    ASSERT_TRUE(platform::files::createDirectory(caches.parent_path(), true));
    ASSERT_TRUE(platform::files::writeAtomically(caches, "in the way"));
  };
  auto lookUpEverything = [&] {
    for (int round = 0; round < 3; ++round) {
      VDTCORStorageRootURL();
      VDTCORFlatFileStorage::eventDataStoragePath();
      VDTCORFlatFileStorage::batchDataStoragePath();
      VDTCORFlatFileStorage::libraryDataStoragePath();
      waitFor([&](auto done) { storage->hasEventsForTarget(1001, [done](bool) { done(); }); });
      storage->checkForExpirations();
      drain();
    }
  };
  auto count = [](const platform::SystemLogCapture& capture, std::string_view text) {
    std::size_t n = 0;
    for (const auto& line : capture.lines()) n += line.message.find(text) != std::string::npos;
    return n;
  };
  const std::string assertion = "[VeltroEventTransport][I-VDTCOR001006] (";
  platform::SystemLogCapture capture;
  for (int blocked = 1; blocked <= 2; ++blocked) {
    SCOPED_TRACE(blocked);
    block();
    lookUpEverything();
    // One line each for the root, the event, the batch and the library folder.
    EXPECT_EQ(count(capture, assertion), 4u * blocked);
    EXPECT_EQ(count(capture, "There was an error creating VDT's path"), 1u * blocked);
    EXPECT_EQ(count(capture, "Creating the batch data path failed: "), 1u * blocked);
    EXPECT_EQ(count(capture, "Creating the library data path failed: "), 1u * blocked);

    // Once the way is clear, the next lookup makes the folders, quietly.
    ASSERT_TRUE(platform::files::removeItem(caches));
    lookUpEverything();
    EXPECT_TRUE(platform::files::exists(VDTCORFlatFileStorage::eventDataStoragePath()));
    EXPECT_TRUE(platform::files::exists(VDTCORFlatFileStorage::batchDataStoragePath()));
    EXPECT_TRUE(platform::files::exists(VDTCORFlatFileStorage::libraryDataStoragePath()));
    EXPECT_EQ(count(capture, assertion), 4u * blocked);
  }
}

TEST_F(VDTCORFlatFileStorageTest, AFailedMoveBackKeepsTheBatch) {
  for (int i = 0; i < 2; ++i) ASSERT_TRUE(store(makeEvent(3)).first);
  auto [id, events] =
      batch(VDTCORStorageEventSelector::eventSelectorForTarget(1001), clock().now() + 600);
  ASSERT_EQ(events.size(), 2u);
  // The target's event folder is now a plain file: nothing can move back into it.
  fs::path targetDir = VDTCORFlatFileStorage::eventDataStoragePath() / "1001";
  ASSERT_TRUE(platform::files::removeItem(targetDir));
  ASSERT_TRUE(platform::files::writeAtomically(targetDir, "in the way"));

  waitFor([&](auto done) { storage->removeBatchWithID(*id, false, done); });
  auto batches = namesIn(VDTCORFlatFileStorage::batchDataStoragePath());
  ASSERT_EQ(batches.size(), 1u);
  EXPECT_EQ(namesIn(VDTCORFlatFileStorage::batchDataStoragePath() / batches[0]).size(), 2u);
  EXPECT_EQ(batchIDs(1001), (std::set<long>{*id}));

  // Once the way is clear the next removal returns both.
  ASSERT_TRUE(platform::files::removeItem(targetDir));
  waitFor([&](auto done) { storage->removeBatchWithID(*id, false, done); });
  EXPECT_TRUE(namesIn(VDTCORFlatFileStorage::batchDataStoragePath()).empty());
  EXPECT_EQ(namesIn(targetDir).size(), 2u);
}

TEST_F(VDTCORFlatFileStorageTest, AnExpiredBatchThatCannotMoveBackStillDropsExpiredEvents) {
  auto shortLived = makeEvent(3);
  shortLived->setExpirationDate(clock().now() + 100);
  ASSERT_TRUE(store(shortLived).first);
  ASSERT_TRUE(store(makeEvent(3)).first);
  auto [id, events] =
      batch(VDTCORStorageEventSelector::eventSelectorForTarget(1001), clock().now() + 50);
  ASSERT_EQ(events.size(), 2u);
  fs::path targetDir = VDTCORFlatFileStorage::eventDataStoragePath() / "1001";
  ASSERT_TRUE(platform::files::removeItem(targetDir));
  ASSERT_TRUE(platform::files::writeAtomically(targetDir, "in the way"));

  clock().advance(200);
  storage->checkForExpirations();
  drain();
  auto batches = namesIn(VDTCORFlatFileStorage::batchDataStoragePath());
  ASSERT_EQ(batches.size(), 1u);
  auto kept = namesIn(VDTCORFlatFileStorage::batchDataStoragePath() / batches[0]);
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_NE(kept[0].substr(0, 32), shortLived->eventID());
}

TEST_F(VDTCORFlatFileStorageTest, EventFilesThatCannotBeReadAreKept) {
  // Reading these entries fails (a folder; a pipe, which must not hold the storage's queue in its
  // read); that says nothing about what they hold.
  enum class Kind { Folder, Pipe };
  const struct {
    const char* what;
    Kind kind;
  } cases[] = {{"a folder", Kind::Folder}, {"a pipe", Kind::Pipe}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(store(makeEvent(3)).first);
    fs::path unreadable =
        VDTCORFlatFileStorage::eventDataStoragePath() / "1001" / "ABCDEF-3-9999999999-137";
    if (c.kind == Kind::Folder) {
      ASSERT_TRUE(platform::files::createDirectory(unreadable, true));
    } else {
      ASSERT_EQ(::mkfifo(unreadable.c_str(), 0600), 0);
    }
    auto [id, events] =
        batch(VDTCORStorageEventSelector::eventSelectorForTarget(1001), clock().now() + 600);
    EXPECT_EQ(events.size(), 1u);
    EXPECT_TRUE(platform::files::exists(unreadable));
    ASSERT_TRUE(platform::files::removeItem(unreadable));
  }
}

TEST_F(VDTCORFlatFileStorageTest, UnreadableEventFilesAreDroppedFromBatches) {
  ASSERT_TRUE(store(makeEvent(3)).first);
  fs::path bad = VDTCORFlatFileStorage::eventDataStoragePath() / "1001" / "ABC-3-9999999999-137";
  ASSERT_TRUE(platform::files::writeAtomically(bad, "not an archive"));
  auto [id, events] =
      batch(VDTCORStorageEventSelector::eventSelectorForTarget(1001), clock().now() + 600);
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
