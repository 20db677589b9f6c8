#include "platform/base/Bundle.h"

#include <gtest/gtest.h>

#include "platform/base/Files.h"
#include "platform/testing/PlatformTest.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

class BundleTest : public testing::PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    writeInfoPlist({{"CFBundleIdentifier", "com.tavo.soundboard"},
                    {"LumoAppDelegateProxyEnabled", false},
                    {"Count", 3}});
    ASSERT_TRUE(files::createDirectory(bundleDir() / "app_sounds.bundle", true));
    put("SoundProducingEntities.json", "[]");
    put("app_sounds.bundle/clip one.mp3", "ID3");
    put("README", "plain");
  }
  void put(const std::string& relative, const std::string& text) {
    ASSERT_TRUE(files::writeAtomically(bundleDir() / relative, std::string_view(text)));
  }
};

TEST_F(BundleTest, MainBundleReadsInfoPlist) {
  auto bundle = Bundle::mainBundle();
  ASSERT_TRUE(bundle);
  EXPECT_EQ(bundle->bundlePath(), bundleDir());
  EXPECT_EQ(bundle->bundleIdentifier(), "com.tavo.soundboard");
  EXPECT_EQ(bundle->objectForInfoDictionaryKey("LumoAppDelegateProxyEnabled"), Value(false));
  EXPECT_EQ(bundle->objectForInfoDictionaryKey("LumoAppDelegateProxyEnabled").numberKind(),
            Value::NumberKind::Bool);
  EXPECT_EQ(bundle->objectForInfoDictionaryKey("Count"), Value(3));
  EXPECT_TRUE(bundle->objectForInfoDictionaryKey("Missing").isNil());
  EXPECT_EQ(Bundle::mainBundle(), bundle);  // cached
}

TEST_F(BundleTest, ResourceLookups) {
  auto bundle = Bundle::mainBundle();
  struct Case {
    std::string name, type, subdirectory;
    std::optional<fs::path> expected;
  } cases[] = {
      {"SoundProducingEntities", "json", "", bundleDir() / "SoundProducingEntities.json"},
      {"SoundProducingEntities", ".json", "", bundleDir() / "SoundProducingEntities.json"},
      {"SoundProducingEntities.json", "", "", bundleDir() / "SoundProducingEntities.json"},
      {"app_sounds", "bundle", "", bundleDir() / "app_sounds.bundle"},
      {"clip one", "mp3", "app_sounds.bundle", bundleDir() / "app_sounds.bundle/clip one.mp3"},
      {"README", "", "", bundleDir() / "README"},
      {"clip one", "mp3", "", std::nullopt},
      {"Missing", "json", "", std::nullopt},
      {"", "json", "", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(bundle->pathForResource(c.name, c.type, c.subdirectory), c.expected)
        << c.name << "|" << c.type << "|" << c.subdirectory;
  }
  EXPECT_EQ(bundle->urlForResource("clip one", ".mp3", "app_sounds.bundle"),
            "file://" + bundleDir().string() + "/app_sounds.bundle/clip%20one.mp3");
}

TEST_F(BundleTest, LookupsThatWouldLeaveTheBundleAreRefused) {
  // A file just outside the bundle, reachable by each trick below.
  ASSERT_TRUE(
      files::writeAtomically(bundleDir().parent_path() / "secret.txt", std::string_view("x")));
  fs::create_symlink(bundleDir().parent_path() / "secret.txt", bundleDir() / "link.txt");
  auto bundle = Bundle::mainBundle();
  struct Case {
    std::string name, type, subdirectory;
  } cases[] = {
      {"../secret", "txt", ""},
      {"secret", "txt", ".."},
      {"x/../../secret", "txt", ""},
      {"secret", "txt", "app_sounds.bundle/../.."},
      {"secret", "/txt", ""},
      {"secret", "..txt", ""},
      {std::string("SoundProducingEntities\0x", 24), "json", ""},
      {"SoundProducingEntities", std::string("json\0", 5), ""},
      {"link", "txt", ""},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(bundle->pathForResource(c.name, c.type, c.subdirectory)) << c.name;
    EXPECT_FALSE(bundle->urlForResource(c.name, c.type, c.subdirectory)) << c.name;
  }
}

TEST_F(BundleTest, BundleWithPath) {
  auto inner = Bundle::bundleWithPath(bundleDir() / "app_sounds.bundle");
  ASSERT_TRUE(inner);
  EXPECT_EQ(inner->bundleIdentifier(), "");
  EXPECT_TRUE(inner->infoDictionary().isDictionary());
  EXPECT_EQ(inner->pathForResource("clip one", "mp3"),
            bundleDir() / "app_sounds.bundle/clip one.mp3");
  EXPECT_FALSE(Bundle::bundleWithPath(bundleDir() / "README"));
  EXPECT_FALSE(Bundle::bundleWithPath(bundleDir() / "nowhere"));
}

TEST_F(BundleTest, ACorruptInfoPlistGivesAnEmptyDictionary) {
  ASSERT_TRUE(files::writeAtomically(bundleDir() / "Info.plist", std::string_view("garbage")));
  Bundle::resetMainBundleForTesting();
  auto bundle = Bundle::mainBundle();
  EXPECT_EQ(bundle->bundleIdentifier(), "");
  EXPECT_EQ(bundle->infoDictionary().count(), 0u);
}

TEST_F(BundleTest, WithoutTheVariableTheMainBundleIsBesideTheExecutable) {
  ::unsetenv("TVS_BUNDLE");
  Bundle::resetMainBundleForTesting();
  std::error_code ec;
  fs::path exeDir = fs::read_symlink("/proc/self/exe", ec).parent_path();
  ASSERT_FALSE(ec);
  // The test executable's folder holds no "*.app", so the folder itself is the bundle.
  EXPECT_EQ(Bundle::mainBundle()->bundlePath(), exeDir);
}

TEST(FileUrlTest, RoundTripsAndRefusesOtherSchemes) {
  EXPECT_EQ(fileUrlForPath("/a/b c/d%e\xC3\xA9"), "file:///a/b%20c/d%25e%C3%A9");
  EXPECT_EQ(pathForFileUrl("file:///a/b%20c/d%25e%C3%A9"), fs::path("/a/b c/d%e\xC3\xA9"));
  EXPECT_EQ(pathForFileUrl("file://localhost/x"), fs::path("/x"));
  EXPECT_EQ(pathForFileUrl("FILE:///x?q#f"), fs::path("/x"));
  for (const char* bad : {"http://host/x", "file://host/x", "file:///a%00b", "file:///a%2", "x"}) {
    EXPECT_FALSE(pathForFileUrl(bad)) << bad;
  }
}

}  // namespace
}  // namespace platform
