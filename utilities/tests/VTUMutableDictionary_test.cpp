#include "utilities/VTUMutableDictionary.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

TEST(VTUMutableDictionaryTest, ReadsSeeEveryWriteQueuedBeforeThem) {
  VTUMutableDictionary d;
  d.setObject("v", "k");
  EXPECT_EQ(d.objectForKey("k"), platform::Value("v"));
  EXPECT_EQ(d["k"], platform::Value("v"));
  d.setObject(2, "n");
  EXPECT_EQ(d.count(), 2u);
  d.removeObjectForKey("k");
  EXPECT_TRUE(d.objectForKey("k").isNil());
  EXPECT_EQ(d.dictionary(), (platform::Value::Dictionary{{"n", 2}}));
  d.setObject(platform::Value(), "n");
  EXPECT_EQ(d.count(), 0u);
  d.setObject(1, "a");
  d.removeAllObjects();
  EXPECT_EQ(d.count(), 0u);
}

TEST(VTUMutableDictionaryTest, ManyThreadsWriteWithoutLosingEntries) {
  VTUMutableDictionary d;
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&d, t] {
      for (int i = 0; i < 100; ++i) d.setObject(i, std::to_string(t) + ":" + std::to_string(i));
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(d.count(), 800u);
  EXPECT_EQ(d.objectForKey("7:99"), platform::Value(99));
}

}  // namespace
