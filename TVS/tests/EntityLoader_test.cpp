#include "TVS/EntityLoader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "TVS/tests/TVSTestSupport.h"
#include "platform/testing/PlatformTest.h"

namespace {

using tvs::testing::stdoutLines;
using tvs::testing::writeFile;

class EntityLoaderTest : public platform::testing::PlatformTest {
 protected:
  void writeCatalogue(const std::string& json) {
    writeFile(bundleDir() / "SoundProducingEntities.json", json);
  }
};

constexpr const char* kTwoEntities = R"([
  {"id": "a", "imageName": "imgA", "displayName": "Alpha", "special_tag": "t", "disabled": true,
   "extra": {"nested": [1, 2]},
   "sounds": [{"id": "s1", "displayName": "One", "locked": true, "skip": false, "volume": 3},
              {"id": "s2", "displayName": "Two", "locked": null}]},
  {"id": "b", "imageName": "imgB", "displayName": "Beta", "special_tag": null, "sounds": []}
])";

TEST_F(EntityLoaderTest, DecodesEntitiesAndSoundsInFileOrderWithOptionals) {
  writeCatalogue(kTwoEntities);
  std::vector<SoundProducingEntityPtr> entities;
  auto lines = stdoutLines([&] { entities = EntityLoader::loadEntities(); });
  EXPECT_TRUE(lines.empty());
  ASSERT_EQ(entities.size(), 2u);
  const auto& a = *entities[0];
  EXPECT_EQ(a.id(), "a");
  EXPECT_EQ(a.imageName(), "imgA");
  EXPECT_EQ(a.displayName(), "Alpha");
  EXPECT_EQ(a.special_tag(), std::optional<std::string>("t"));
  EXPECT_EQ(a.disabled(), std::optional<bool>(true));
  ASSERT_EQ(a.sounds().size(), 2u);
  EXPECT_EQ(a.sounds()[0]->id(), "s1");
  EXPECT_EQ(a.sounds()[0]->displayName(), "One");
  EXPECT_EQ(a.sounds()[0]->locked(), std::optional<bool>(true));
  EXPECT_EQ(a.sounds()[0]->skip(), std::optional<bool>(false));
  EXPECT_EQ(a.sounds()[1]->locked(), std::nullopt);  // null
  EXPECT_EQ(a.sounds()[1]->skip(), std::nullopt);    // absent
  const auto& b = *entities[1];
  EXPECT_EQ(b.special_tag(), std::nullopt);
  EXPECT_EQ(b.disabled(), std::nullopt);
  EXPECT_TRUE(b.sounds().empty());
}

// Every way a file can fail to decode gives the same result: one console line, no catalogue.
TEST_F(EntityLoaderTest, UndecodableFilesGiveTheConsoleLineAndAnEmptyCatalogue) {
  const std::string sound = R"({"id": "s", "displayName": "S"})";
  auto entity = [&](const std::string& fields) { return "[{" + fields + "}]"; };
  const std::string base = R"("id": "a", "imageName": "i", "displayName": "A")";
  struct Case {
    const char* name;
    std::string json;
  } cases[] = {
      {"not JSON", "[{"},
      {"empty file", ""},
      {"top level object", R"({"id": "a"})"},
      {"element not an object", "[1]"},
      {"missing id", entity(R"("imageName": "i", "displayName": "A", "sounds": [])")},
      {"null id", entity(R"("id": null, "imageName": "i", "displayName": "A", "sounds": [])")},
      {"number id", entity(R"("id": 7, "imageName": "i", "displayName": "A", "sounds": [])")},
      {"missing imageName", entity(R"("id": "a", "displayName": "A", "sounds": [])")},
      {"missing displayName", entity(R"("id": "a", "imageName": "i", "sounds": [])")},
      {"missing sounds", entity(base)},
      {"null sounds", entity(base + R"(, "sounds": null)")},
      {"sounds not an array", entity(base + R"(, "sounds": {})")},
      {"special_tag number", entity(base + R"(, "sounds": [], "special_tag": 1)")},
      {"disabled as string", entity(base + R"(, "sounds": [], "disabled": "true")")},
      {"disabled as number", entity(base + R"(, "sounds": [], "disabled": 1)")},
      {"sound missing id", entity(base + R"(, "sounds": [{"displayName": "S"}])")},
      {"sound null displayName",
       entity(base + R"(, "sounds": [{"id": "s", "displayName": null}])")},
      {"sound locked as string",
       entity(base + R"(, "sounds": [{"id": "s", "displayName": "S", "locked": "yes"}])")},
      {"sound skip as number",
       entity(base + R"(, "sounds": [{"id": "s", "displayName": "S", "skip": 0}])")},
      {"one bad sound among good ones",
       entity(base + R"(, "sounds": [)" + sound + R"(, {"id": 2, "displayName": "x"}])")},
      {"keys are case-sensitive",
       entity(R"("ID": "a", "imageName": "i", "displayName": "A", "sounds": [])")},
  };
  for (const auto& c : cases) {
    writeCatalogue(c.json);
    std::vector<SoundProducingEntityPtr> entities;
    auto lines = stdoutLines([&] { entities = EntityLoader::loadEntities(); });
    EXPECT_TRUE(entities.empty()) << c.name;
    EXPECT_EQ(lines, std::vector<std::string>{"error parsing entities"}) << c.name;
  }
}

TEST_F(EntityLoaderTest, MissingResourceIsSilentAndEmpty) {
  std::vector<SoundProducingEntityPtr> entities;
  auto lines = stdoutLines([&] { entities = EntityLoader::loadEntities(); });
  EXPECT_TRUE(entities.empty());
  EXPECT_TRUE(lines.empty());
}

TEST_F(EntityLoaderTest, UnreadableFilePrintsTheLine) {
  // A directory where the file should be cannot be read as a file.
  std::filesystem::create_directories(bundleDir() / "SoundProducingEntities.json");
  std::vector<SoundProducingEntityPtr> entities;
  auto lines = stdoutLines([&] { entities = EntityLoader::loadEntities(); });
  EXPECT_TRUE(entities.empty());
  EXPECT_EQ(lines, std::vector<std::string>{"error parsing entities"});
}

TEST_F(EntityLoaderTest, EmptyArrayIsAnEmptyCatalogueWithoutALine) {
  writeCatalogue("[]");
  std::vector<SoundProducingEntityPtr> entities;
  auto lines = stdoutLines([&] { entities = EntityLoader::loadEntities(); });
  EXPECT_TRUE(entities.empty());
  EXPECT_TRUE(lines.empty());
}

TEST_F(EntityLoaderTest, EachLoadReadsAfreshAndSharesNoObjects) {
  writeCatalogue(kTwoEntities);
  auto first = EntityLoader::loadEntities();
  auto second = EntityLoader::loadEntities();
  ASSERT_EQ(first.size(), second.size());
  for (size_t i = 0; i < first.size(); ++i) {
    EXPECT_NE(first[i], second[i]);
    EXPECT_EQ(first[i]->encode(), second[i]->encode());
  }
  EXPECT_NE(first[0]->sounds()[0], second[0]->sounds()[0]);
  // A changed file is seen by the next load.
  writeCatalogue("[]");
  EXPECT_TRUE(EntityLoader::loadEntities().empty());
}

TEST_F(EntityLoaderTest, EncodingLeavesAbsentOptionalsOutAndRoundTrips) {
  writeCatalogue(kTwoEntities);
  auto entities = EntityLoader::loadEntities();
  ASSERT_EQ(entities.size(), 2u);
  EXPECT_EQ(entities[1]->encode().dump(),
            R"({"id":"b","imageName":"imgB","displayName":"Beta","sounds":[]})");
  EXPECT_EQ(entities[0]->sounds()[1]->encode().dump(), R"({"id":"s2","displayName":"Two"})");
  EXPECT_EQ(entities[0]->encode().dump(),
            R"({"id":"a","imageName":"imgA","displayName":"Alpha","sounds":[)"
            R"({"id":"s1","displayName":"One","locked":true,"skip":false},)"
            R"({"id":"s2","displayName":"Two"}],"special_tag":"t","disabled":true})");
  // What encoding writes decodes to the same content.
  nlohmann::ordered_json all = nlohmann::ordered_json::array();
  for (const auto& e : entities) all.push_back(e->encode());
  auto again = EntityLoader::decodeCatalogue(all.dump(), nullptr);
  ASSERT_TRUE(again);
  ASSERT_EQ(again->size(), 2u);
  EXPECT_EQ((*again)[0]->encode(), entities[0]->encode());
}

TEST_F(EntityLoaderTest, DecodeErrorNamesTheOffendingKey) {
  platform::ErrorPtr error;
  auto result = EntityLoader::decodeCatalogue(
      R"([{"id": "a", "imageName": "i", "displayName": "A", "sounds": [{"id": 1}]}])", &error);
  EXPECT_FALSE(result);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), 4864);
  EXPECT_NE(error->userInfo().at("NSDebugDescription").description().find("$[0].sounds[0].id"),
            std::string::npos);
}

TEST_F(EntityLoaderTest, FindSoundTakesFirstMatchesAndOnlyUnderTheNamedEntity) {
  writeCatalogue(R"([
    {"id": "dup", "imageName": "1", "displayName": "First", "sounds": [
      {"id": "s", "displayName": "first s"}, {"id": "s", "displayName": "second s"}]},
    {"id": "dup", "imageName": "2", "displayName": "Second", "sounds": [
      {"id": "only-in-second", "displayName": "x"}]},
    {"id": "other", "imageName": "3", "displayName": "Other", "sounds": [
      {"id": "s", "displayName": "other s"}]}
  ])");
  struct Case {
    std::string entity, sound;
    const char* entityName;  // nullptr: not found
    const char* soundName;
  } cases[] = {
      {"dup", "s", "First", "first s"},
      {"other", "s", "Other", "other s"},
      // Only the first entity of a duplicated id is searched.
      {"dup", "only-in-second", nullptr, nullptr},
      {"missing", "s", nullptr, nullptr},
      {"dup", "missing", nullptr, nullptr},
      {"", "", nullptr, nullptr},
  };
  for (const auto& c : cases) {
    auto found = EntityLoader::findSound(c.entity, c.sound);
    if (!c.entityName) {
      EXPECT_EQ(found, nullptr) << c.entity << "/" << c.sound;
      continue;
    }
    ASSERT_NE(found, nullptr) << c.entity << "/" << c.sound;
    EXPECT_EQ(found->entity()->displayName(), c.entityName);
    EXPECT_EQ(found->sound()->displayName(), c.soundName);
    // The pair belongs to one catalogue: the sound is one of the entity's own objects.
    const auto& sounds = found->entity()->sounds();
    EXPECT_NE(std::find(sounds.begin(), sounds.end(), found->sound()), sounds.end());
  }
}

TEST_F(EntityLoaderTest, FindSoundInAnEmptyOrMissingCatalogueFindsNothing) {
  EXPECT_EQ(EntityLoader::findSound("a", "s"), nullptr);
  writeCatalogue("[]");
  EXPECT_EQ(EntityLoader::findSound("a", "s"), nullptr);
}

// The shipped catalogue: people and clips, a file under 40 KB for every clip and a portrait for
// every person.
TEST_F(EntityLoaderTest, ShippedCatalogueIsCompleteAndEveryClipHasItsFile) {
  tvs::testing::useBundle(tvs::testing::builtBundle());
  auto entities = EntityLoader::loadEntities();
  ASSERT_GE(entities.size(), 6u);
  size_t clips = 0;
  bool hasTavo = false;
  std::set<std::string> soundIds;
  for (const auto& entity : entities) {
    hasTavo = hasTavo || entity->displayName() == "Tavo Vastrow";
    EXPECT_TRUE(std::filesystem::is_regular_file(tvs::testing::builtBundle() / "Assets" /
                                                 (entity->imageName() + ".png")))
        << entity->imageName();
    for (const auto& sound : entity->sounds()) {
      ++clips;
      soundIds.insert(sound->id());
      auto file =
          tvs::testing::builtBundle() / "app_sounds.bundle" / entity->id() / (sound->id() + ".mp3");
      ASSERT_TRUE(std::filesystem::is_regular_file(file)) << file;
      EXPECT_LT(std::filesystem::file_size(file), 40u * 1024) << file;
    }
  }
  EXPECT_TRUE(hasTavo);
  EXPECT_GE(clips, 40u);
  EXPECT_EQ(soundIds.size(), clips) << "favourites are keyed by sound id alone";
  for (const char* asset :
       {"what-the-hex", "what-the-hex-dark", "heart", "heartfill", "imessage"}) {
    EXPECT_TRUE(std::filesystem::is_regular_file(tvs::testing::builtBundle() / "Assets" /
                                                 (std::string(asset) + ".png")))
        << asset;
  }
}

}  // namespace
