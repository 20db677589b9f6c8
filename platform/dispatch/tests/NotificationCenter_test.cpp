#include "platform/dispatch/NotificationCenter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/dispatch/RunLoop.h"

namespace platform {
namespace {

class Sender : public Object {};

TEST(NotificationCenterTest, PostDeliversSynchronouslyOnThePostingThread) {
  auto& center = NotificationCenter::defaultCenter();
  std::thread::id deliveredOn;
  Notification seen;
  auto token = center.addObserver("Ping", Value(), nullptr, [&](const Notification& n) {
    deliveredOn = std::this_thread::get_id();
    seen = n;
  });
  std::thread poster([&] {
    center.post("Ping", Value("sender"), {{"k", Value(1)}});
    // Synchronous: delivered before post returns.
    EXPECT_EQ(deliveredOn, std::this_thread::get_id());
  });
  poster.join();
  EXPECT_EQ(seen.name, "Ping");
  EXPECT_EQ(seen.object, Value("sender"));
  EXPECT_EQ(seen.userInfo.at("k"), Value(1));
}

TEST(NotificationCenterTest, ObserversMatchByNameAndSender) {
  auto& center = NotificationCenter::defaultCenter();
  auto senderA = std::make_shared<Sender>();
  auto senderB = std::make_shared<Sender>();
  struct Case {
    std::string observedName;
    Value observedObject;
    std::string postedName;
    Value postedObject;
    bool delivered;
  };
  const std::vector<Case> cases = {
      {"N", Value(), "N", Value(), true},
      {"N", Value(), "M", Value(), false},
      {"", Value(), "anything", Value(senderA), true},
      {"N", Value(senderA), "N", Value(senderA), true},
      {"N", Value(senderA), "N", Value(senderB), false},
      {"N", Value(senderA), "N", Value(), false},
      {"N", Value("key"), "N", Value("key"), true},
      {"N", Value("key"), "N", Value("other"), false},
      {"", Value(senderB), "X", Value(senderB), true},
  };
  for (const auto& c : cases) {
    int calls = 0;
    auto token = center.addObserver(c.observedName, c.observedObject, nullptr,
                                    [&](const Notification&) { ++calls; });
    center.post(c.postedName, c.postedObject);
    EXPECT_EQ(calls, c.delivered ? 1 : 0)
        << "observing '" << c.observedName << "' posting '" << c.postedName << "'";
  }
}

TEST(NotificationCenterTest, ObservingAnObjectDoesNotKeepItAlive) {
  auto& center = NotificationCenter::defaultCenter();
  auto sender = std::make_shared<Sender>();
  std::weak_ptr<Sender> weak = sender;
  int calls = 0;
  auto token =
      center.addObserver("N", Value(sender), nullptr, [&](const Notification&) { ++calls; });
  sender.reset();
  EXPECT_TRUE(weak.expired());
  auto stranger = std::make_shared<Sender>();  // may reuse the address
  center.post("N", Value(stranger));
  EXPECT_EQ(calls, 0);
}

TEST(NotificationCenterTest, DroppingTheTokenRemovesTheObserver) {
  auto& center = NotificationCenter::defaultCenter();
  int calls = 0;
  auto token = center.addObserver("N", Value(), nullptr, [&](const Notification&) { ++calls; });
  auto copy = token;
  center.post("N");
  token.reset();
  center.post("N");  // a copy still holds it
  copy.reset();
  center.post("N");
  EXPECT_EQ(calls, 2);

  auto explicitToken =
      center.addObserver("N", Value(), nullptr, [&](const Notification&) { ++calls; });
  center.removeObservation(explicitToken);
  center.post("N");
  EXPECT_EQ(calls, 2);
}

TEST(NotificationCenterTest, RemoveObserverDropsEveryObservationOfThatOwner) {
  auto& center = NotificationCenter::defaultCenter();
  int owner = 0, otherOwner = 0;
  std::vector<std::string> seen;
  auto t1 = center.addObserver(
      "A", Value(), nullptr, [&](const Notification& n) { seen.push_back("1" + n.name); }, &owner);
  auto t2 = center.addObserver(
      "B", Value(), nullptr, [&](const Notification& n) { seen.push_back("2" + n.name); }, &owner);
  auto t3 = center.addObserver(
      "A", Value(), nullptr, [&](const Notification& n) { seen.push_back("3" + n.name); },
      &otherOwner);
  center.removeObserver(&owner);
  center.post("A");
  center.post("B");
  EXPECT_EQ(seen, std::vector<std::string>{"3A"});
}

TEST(NotificationCenterTest, ObserversChangedDuringAPostAffectTheNextPost) {
  auto& center = NotificationCenter::defaultCenter();
  std::vector<std::string> seen;
  ObservationToken late, victim;
  auto first = center.addObserver("N", Value(), nullptr, [&](const Notification&) {
    seen.push_back("first");
    victim.reset();  // removed during the post: not called
    if (!late) {
      late = center.addObserver("N", Value(), nullptr,
                                [&](const Notification&) { seen.push_back("late"); });
    }
  });
  victim = center.addObserver("N", Value(), nullptr,
                              [&](const Notification&) { seen.push_back("victim"); });
  center.post("N");
  EXPECT_EQ(seen, std::vector<std::string>{"first"});
  center.post("N");
  EXPECT_EQ(seen, (std::vector<std::string>{"first", "first", "late"}));
}

TEST(NotificationCenterTest, ObserverWithAQueueIsCalledOnIt) {
  auto& center = NotificationCenter::defaultCenter();
  auto queue = DispatchQueue::create("observer");
  std::atomic<bool> onQueue{false};
  std::atomic<bool> called{false};
  auto token = center.addObserver("N", Value(), queue, [&](const Notification& n) {
    onQueue = queue->isCurrent() && n.name == "N";
    called = true;
  });
  center.post("N");
  ASSERT_TRUE(RunLoop::main().runUntil([&] { return called.load(); }));
  EXPECT_TRUE(onQueue.load());

  // On the main queue it waits for the pump.
  bool mainCalled = false;
  auto mainToken = center.addObserver("M", Value(), DispatchQueue::main(),
                                      [&](const Notification&) { mainCalled = true; });
  center.post("M");
  EXPECT_FALSE(mainCalled);
  RunLoop::main().drain();
  EXPECT_TRUE(mainCalled);
}

TEST(NotificationCenterTest, ConcurrentPostsAndObserverChangesAreSafe) {
  auto& center = NotificationCenter::defaultCenter();
  std::atomic<int> calls{0};
  auto steady = center.addObserver("N", Value(), nullptr, [&](const Notification&) { ++calls; });
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i) {
        auto token = center.addObserver("N", Value(), nullptr, [](const Notification&) {});
        center.post("N");
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(calls.load(), 800);
}

}  // namespace
}  // namespace platform
