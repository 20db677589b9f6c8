// Serial-queue throughput (empty blocks per second) and async-to-execution latency of the
// dispatch layer, each beside the same measurement on a plain mutex + condition-variable queue
// with one consumer thread: the floor any queue of ours should match.
#include <benchmark/benchmark.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/dispatch/DispatchQueue.h"

namespace {

class PlainQueue {
 public:
  PlainQueue() : worker_([this] { run(); }) {}
  ~PlainQueue() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    cv_.notify_one();
    worker_.join();
  }
  void async(std::function<void()> block) {
    {
      std::lock_guard lock(mutex_);
      items_.push_back(std::move(block));
    }
    cv_.notify_one();
  }

 private:
  void run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      cv_.wait(lock, [&] { return stop_ || !items_.empty(); });
      if (items_.empty()) return;
      auto block = std::move(items_.front());
      items_.pop_front();
      lock.unlock();
      block();
      lock.lock();
    }
  }
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> items_;
  bool stop_ = false;
  std::thread worker_;
};

constexpr int kBatch = 10000;

void waitFor(const std::atomic<bool>& flag) {
  while (!flag.load(std::memory_order_acquire)) std::this_thread::yield();
}

template <class Queue>
void throughput(benchmark::State& state, Queue& queue) {
  for (auto _ : state) {
    std::atomic<bool> done{false};
    for (int i = 0; i < kBatch - 1; ++i) queue.async([] {});
    queue.async([&] { done.store(true, std::memory_order_release); });
    waitFor(done);
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}

template <class Queue>
void latency(benchmark::State& state, Queue& queue) {
  for (auto _ : state) {
    std::atomic<bool> done{false};
    queue.async([&] { done.store(true, std::memory_order_release); });
    waitFor(done);
  }
}

struct SerialAdapter {
  platform::DispatchQueuePtr queue = platform::DispatchQueue::create("bench");
  void async(std::function<void()> block) { queue->async(std::move(block)); }
};

void BM_SerialQueueThroughput(benchmark::State& state) {
  SerialAdapter queue;
  throughput(state, queue);
}
BENCHMARK(BM_SerialQueueThroughput)->UseRealTime();

void BM_PlainQueueThroughput(benchmark::State& state) {
  PlainQueue queue;
  throughput(state, queue);
}
BENCHMARK(BM_PlainQueueThroughput)->UseRealTime();

void BM_SerialQueueAsyncLatency(benchmark::State& state) {
  SerialAdapter queue;
  latency(state, queue);
}
BENCHMARK(BM_SerialQueueAsyncLatency)->UseRealTime();

void BM_PlainQueueAsyncLatency(benchmark::State& state) {
  PlainQueue queue;
  latency(state, queue);
}
BENCHMARK(BM_PlainQueueAsyncLatency)->UseRealTime();

}  // namespace
