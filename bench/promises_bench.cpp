// Throughput of the promise library: a chain of 100,000 `then` on one serial queue and `all` over
// 10,000 promises, in promises per second, beside a std::promise/std::future chain of the same
// length handed from stage to stage by one worker thread.
#include <benchmark/benchmark.h>

#include <condition_variable>
#include <cstdint>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/base/Value.h"
#include "platform/dispatch/DispatchQueue.h"
#include "promises/PRMPromise.h"

namespace {

constexpr int kChainLength = 100000;
constexpr int kAllWidth = 10000;

using platform::Value;

// Blocks the benchmark thread until the promise settles (observed on its own queue).
void waitFor(const PRMPromisePtr& promise, const platform::DispatchQueuePtr& queue) {
  std::mutex lock;
  std::condition_variable settled;
  bool done = false;
  auto signal = [&] {
    std::lock_guard<std::mutex> guard(lock);
    done = true;
    settled.notify_one();
  };
  promise->observeOnQueue(
      queue, [&](const Value&) { signal(); }, [&](const platform::ErrorPtr&) { signal(); });
  std::unique_lock<std::mutex> guard(lock);
  settled.wait(guard, [&] { return done; });
}

void BM_PromiseThenChain(benchmark::State& state) {
  auto queue = platform::DispatchQueue::create("bench.promises.then");
  for (auto _ : state) {
    auto head = PRMPromise::pendingPromise();
    PRMPromisePtr last = head;
    for (int i = 0; i < kChainLength; ++i) {
      last = last->onQueueThen(queue, [](const Value& v) { return Value(v.int64Value() + 1); });
    }
    head->fulfill(Value(0));
    waitFor(last, queue);
    if (last->value().int64Value() != kChainLength) state.SkipWithError("wrong chain result");
  }
  state.counters["promises_per_second"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * kChainLength, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PromiseThenChain)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PromiseAll(benchmark::State& state) {
  auto queue = platform::DispatchQueue::create("bench.promises.all");
  for (auto _ : state) {
    std::vector<PRMPromisePtr> promises;
    Value::Array elements;
    promises.reserve(kAllWidth);
    elements.reserve(kAllWidth);
    for (int i = 0; i < kAllWidth; ++i) {
      promises.push_back(PRMPromise::pendingPromise());
      elements.emplace_back(promises.back());
    }
    auto all = PRMPromise::onQueueAll(queue, elements);
    for (int i = 0; i < kAllWidth; ++i) promises[i]->fulfill(Value(i));
    waitFor(all, queue);
    if (all->value().count() != static_cast<std::size_t>(kAllWidth)) {
      state.SkipWithError("wrong all result");
    }
  }
  state.counters["promises_per_second"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * kAllWidth, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PromiseAll)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same chain with the standard library: each stage waits for the previous future on one
// worker thread and fulfils the next promise.
void BM_StdFutureChain(benchmark::State& state) {
  for (auto _ : state) {
    std::vector<std::promise<std::int64_t>> promises(kChainLength + 1);
    std::vector<std::future<std::int64_t>> futures;
    futures.reserve(kChainLength + 1);
    for (auto& promise : promises) futures.push_back(promise.get_future());
    std::thread worker([&] {
      for (int i = 0; i < kChainLength; ++i) promises[i + 1].set_value(futures[i].get() + 1);
    });
    promises[0].set_value(0);
    const std::int64_t result = futures[kChainLength].get();
    worker.join();
    if (result != kChainLength) state.SkipWithError("wrong chain result");
  }
  state.counters["promises_per_second"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * kChainLength, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_StdFutureChain)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
