#include "utilities/storage/VTUHeartbeatDateStorage.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <random>
#include <thread>

#include "platform/base/Files.h"
#include "platform/runtime/KeyedArchiver.h"
#include "platform/testing/PlatformTest.h"
#include "platform/testing/UnreadableFile.h"
#include "utilities/storage/VTUSecureCoding.h"

namespace {

using platform::Value;

class VTUHeartbeatDateStorageTest : public platform::testing::PlatformTest {
 protected:
  std::filesystem::path fileNamed(const std::string& name) {
    return platform::SandboxHome::applicationSupport() / "Veltro" / "LMOApp" / name;
  }
  void writeFile(const std::string& name, const platform::Bytes& bytes) {
    std::filesystem::create_directories(fileNamed(name).parent_path());
    ASSERT_TRUE(platform::files::writeAtomically(fileNamed(name), bytes));
  }
};

// A secure-coding object of a class nobody allows.
struct Foreign : platform::Object, platform::SecureCoding {
  std::string className() const override { return "VTUForeignThing"; }
  void encodeWithCoder(platform::KeyedArchiver& coder) const override {
    coder.encodeString("x", "field");
  }
};

TEST_F(VTUHeartbeatDateStorageTest, StoresDatesPerTagInItsFile) {
  auto store = VTUHeartbeatDateStorage::initWithFileName("HEARTBEAT_INFO_STORAGE");
  ASSERT_TRUE(store);
  EXPECT_EQ(store->fileURL(), fileNamed("HEARTBEAT_INFO_STORAGE"));
  EXPECT_TRUE(store->heartbeatDateForTag("GLOBAL").isNil());
  EXPECT_TRUE(store->setHearbeatDate(Value::date(1000), "GLOBAL"));
  EXPECT_TRUE(store->setHearbeatDate(Value::date(2000), "lumo-installations"));
  EXPECT_EQ(store->heartbeatDateForTag("GLOBAL"), Value::date(1000));
  EXPECT_TRUE(store->setHearbeatDate(Value(), "GLOBAL"));
  EXPECT_TRUE(store->heartbeatDateForTag("GLOBAL").isNil());
  EXPECT_EQ(store->heartbeatDateForTag("lumo-installations"), Value::date(2000));

  auto bytes = platform::files::readFile(fileNamed("HEARTBEAT_INFO_STORAGE"));
  ASSERT_TRUE(bytes);
  Value map = VTUSecureCoding::unarchivedObjectOfClasses({"NSDictionary", "NSDate", "NSString"},
                                                         *bytes, nullptr);
  EXPECT_EQ(map, Value(Value::Dictionary{{"lumo-installations", Value::date(2000)}}));
}

TEST_F(VTUHeartbeatDateStorageTest, StoresOnTheSameFileSeeEachOthersWrites) {
  auto a = VTUHeartbeatDateStorage::initWithFileName("shared");
  auto b = VTUHeartbeatDateStorage::initWithFileName("shared");
  auto other = VTUHeartbeatDateStorage::initWithFileName("other");
  a->setHearbeatDate(Value::date(5), "t");
  EXPECT_EQ(b->heartbeatDateForTag("t"), Value::date(5));
  EXPECT_TRUE(other->heartbeatDateForTag("t").isNil());

  // Concurrent read-modify-writes of different tags lose nothing.
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([i, s = (i % 2 ? a : b)] {
      for (int j = 0; j < 10; ++j)
        s->setHearbeatDate(Value::date(i * 100 + j), "tag" + std::to_string(i));
    });
  }
  for (auto& t : threads) t.join();
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(a->heartbeatDateForTag("tag" + std::to_string(i)), Value::date(i * 100 + 9));
  }
}

TEST_F(VTUHeartbeatDateStorageTest, FilesThatDoNotDecodeReadAsAnEmptyMap) {
  std::mt19937 rng(7);
  platform::Bytes random(300);
  for (auto& b : random) b = static_cast<std::uint8_t>(rng());
  const std::vector<std::pair<std::string, platform::Bytes>> files = {
      {"empty-archive",
       *VTUSecureCoding::archivedDataWithRootObject(Value(Value::Dictionary{}), nullptr)},
      {"random", random},
      {"zero-bytes", platform::Bytes{}},
      {"array",
       *VTUSecureCoding::archivedDataWithRootObject(Value(Value::Array{Value::date(1)}), nullptr)},
  };
  for (const auto& [name, bytes] : files) {
    writeFile(name, bytes);
    auto store = VTUHeartbeatDateStorage::initWithFileName(name);
    EXPECT_TRUE(store->heartbeatDateForTag("t").isNil()) << name;
    EXPECT_TRUE(store->setHearbeatDate(Value::date(9), "t")) << name;  // a new map replaces it
    EXPECT_EQ(store->heartbeatDateForTag("t"), Value::date(9)) << name;
  }
}

// A map that cannot be read now is not an empty one: no change is stored over it (the setter
// says so), and once it reads again every tag is there and changes apply over it.
TEST_F(VTUHeartbeatDateStorageTest, AMapThatCannotBeReadNowIsNeverWrittenOver) {
  using platform::testing::UnreadableFile;
  struct Row {
    const char* name;
    std::filesystem::path file;
    std::function<std::shared_ptr<VTUHeartbeatDateStorable>()> open;
  };
  const Row rows[] = {
      {"file", fileNamed("HEARTBEAT_INFO_STORAGE"),
       [] { return VTUHeartbeatDateStorage::initWithFileName("HEARTBEAT_INFO_STORAGE"); }},
      {"user defaults", platform::SandboxHome::preferences() / "heartbeats.plist",
       [] {
         return std::make_shared<VTUHeartbeatDateStorageUserDefaults>(
             platform::UserDefaults::initWithSuiteName("heartbeats"), "map");
       }},
  };
  for (auto cause : UnreadableFile::usableCauses()) {
    for (const Row& row : rows) {
      SCOPED_TRACE(std::string(row.name) + ", " + UnreadableFile::name(cause));
      std::filesystem::remove(row.file);
      platform::UserDefaults::resetForTesting();
      ASSERT_TRUE(row.open()->setHearbeatDate(Value::date(1), "a"));
      ASSERT_TRUE(row.open()->setHearbeatDate(Value::date(2), "b"));
      platform::UserDefaults::resetForTesting();  // written, and read again from the file
      {
        UnreadableFile unreadable(cause, row.file);
        auto store = row.open();
        platform::ErrorPtr error;
        EXPECT_TRUE(store->heartbeatDateForTag("a", &error).isNil());
        EXPECT_TRUE(error) << "not known, not absent";
        EXPECT_FALSE(store->setHearbeatDate(Value::date(3), "c"));
        EXPECT_FALSE(store->setHearbeatDate(Value(), "a"));
      }
      auto store = row.open();
      platform::ErrorPtr error;
      EXPECT_EQ(store->heartbeatDateForTag("a", &error), Value::date(1));
      EXPECT_FALSE(error);
      EXPECT_EQ(store->heartbeatDateForTag("b"), Value::date(2));
      EXPECT_TRUE(store->heartbeatDateForTag("c").isNil());
      EXPECT_TRUE(store->setHearbeatDate(Value::date(3), "c"));
      platform::UserDefaults::resetForTesting();
      store = row.open();
      for (const auto& [tag, date] : {std::pair{"a", 1}, {"b", 2}, {"c", 3}}) {
        EXPECT_EQ(store->heartbeatDateForTag(tag), Value::date(date)) << tag;
      }
    }
  }
}

TEST_F(VTUHeartbeatDateStorageTest, ValueThatIsNotADateReadsAsNil) {
  writeFile("strings", *VTUSecureCoding::archivedDataWithRootObject(
                           Value(Value::Dictionary{{"t", "yesterday"}}), nullptr));
  EXPECT_TRUE(
      VTUHeartbeatDateStorage::initWithFileName("strings")->heartbeatDateForTag("t").isNil());
}

TEST_F(VTUHeartbeatDateStorageTest, MissingNameGivesNoStoreAndAFailedWriteKeepsTheOldFile) {
  EXPECT_EQ(VTUHeartbeatDateStorage::initWithFileName(std::nullopt), nullptr);

  auto store = VTUHeartbeatDateStorage::initWithFileName("blocked");
  std::filesystem::create_directories(fileNamed("blocked") / "in-the-way");
  EXPECT_FALSE(store->setHearbeatDate(Value::date(1), "t"));
  EXPECT_TRUE(std::filesystem::is_directory(fileNamed("blocked") / "in-the-way"));
}

TEST_F(VTUHeartbeatDateStorageTest, UserDefaultsVariantKeepsTheMapUnderItsKey) {
  auto defaults = platform::UserDefaults::initWithSuiteName("heartbeats");
  VTUHeartbeatDateStorageUserDefaults a(defaults, "map");
  VTUHeartbeatDateStorageUserDefaults b(defaults, "map");
  EXPECT_TRUE(a.setHearbeatDate(Value::date(3), "t"));
  EXPECT_EQ(b.heartbeatDateForTag("t"), Value::date(3));
  EXPECT_EQ(defaults->objectForKey("map"), Value(Value::Dictionary{{"t", Value::date(3)}}));
  defaults->setObject(Value(Value::Dictionary{{"t", "not a date"}}), "map");
  EXPECT_EQ(a.heartbeatDateForTag("t"), Value("not a date"));  // returned as stored
  defaults->setObject("not a map", "map");
  EXPECT_TRUE(a.setHearbeatDate(Value::date(4), "u"));
  EXPECT_EQ(b.heartbeatDateForTag("u"), Value::date(4));
  // A date the preferences file cannot hold is refused, and the store says so.
  EXPECT_FALSE(a.setHearbeatDate(Value::date(-3e9), "old"));
  EXPECT_TRUE(b.heartbeatDateForTag("old").isNil());
  EXPECT_EQ(b.heartbeatDateForTag("u"), Value::date(4));
}

// Stores sharing one user-defaults object on several threads: each write reads the map, adds its
// tag and stores the map again, and no tag is lost to another store's write.
TEST_F(VTUHeartbeatDateStorageTest, UserDefaultsStoresOnManyThreadsLoseNoTag) {
  auto defaults = platform::UserDefaults::initWithSuiteName("heartbeats");
  const int kThreads = 4;
  const int kTags = 25;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([defaults, t] {
      VTUHeartbeatDateStorageUserDefaults store(defaults, "map");
      for (int i = 0; i < kTags; ++i) {
        store.setHearbeatDate(Value::date(i), std::to_string(t) + "-" + std::to_string(i));
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(defaults->objectForKey("map").count(), static_cast<std::size_t>(kThreads * kTags));
  VTUHeartbeatDateStorageUserDefaults reader(defaults, "map");
  EXPECT_EQ(reader.heartbeatDateForTag("3-24"), Value::date(24));
}

TEST(VTUSecureCodingTest, AllowListIsCheckedForNestedObjects) {
  const Value graph(Value::Dictionary{{"when", Value::date(1)},
                                      {"list", Value(Value::Array{"a", Value::data("xy")})}});
  platform::ErrorPtr error;
  auto archive = VTUSecureCoding::archivedDataWithRootObject(graph, &error);
  ASSERT_TRUE(archive) << (error ? error->localizedDescription() : "");

  EXPECT_EQ(VTUSecureCoding::unarchivedObjectOfClasses(
                {"NSDictionary", "NSDate", "NSArray", "NSString", "NSData"}, *archive, &error),
            graph);
  for (const std::set<std::string>& allowed :
       std::vector<std::set<std::string>>{{"NSDictionary"},
                                          {"NSDictionary", "NSDate", "NSArray", "NSString"},
                                          {"NSArray", "NSDate", "NSString", "NSData"}}) {
    error = nullptr;
    EXPECT_TRUE(VTUSecureCoding::unarchivedObjectOfClasses(allowed, *archive, &error).isNil());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), "NSCocoaErrorDomain");
  }

  error = nullptr;
  auto foreign = VTUSecureCoding::archivedDataWithRootObject(
      Value(Value::Array{Value(std::make_shared<Foreign>())}), &error);
  ASSERT_TRUE(foreign);
  EXPECT_TRUE(VTUSecureCoding::unarchivedObjectOfClass("NSArray", *foreign, &error).isNil());
  EXPECT_TRUE(error);
}

}  // namespace
