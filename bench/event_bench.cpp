// The cost of building one analytics event through MSREvent's designated initializer, which the
// engine pays for every new event and the measurement database again for every stored event it
// reads back:
// - BM_EventFromStoredValues: an internal event whose parameters are already typed values, the
//   way the database rebuilds them (a string, an integer and a double);
// - BM_EventFromRawValues: a public event with plain strings and numbers, as the app logs it;
// - BM_PurchaseWithItems: a conversion with plain value, currency and an items array of three
//   element dictionaries, so the array and the value/currency checks run too (internal, as the
//   engine marks conversions);
// - BM_EventWithNonLatinText: names and values in Cyrillic and with an emoji.
// Everything lives in a fresh sandbox home under the temporary folder.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "measurement/engine/MSRMeasurement.h"
#include "measurement/foundation/MSREvent.h"
#include "measurement/foundation/MSRMonitor.h"
#include "measurement/foundation/MSRValue.h"

namespace {

namespace fs = std::filesystem;
using platform::Value;

void sandboxHome() {
  static const bool ready = [] {
    std::string pattern = (fs::temp_directory_path() / "tvs-event-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) std::abort();
    ::setenv("TVS_HOME", pattern.c_str(), 1);
    return true;
  }();
  (void)ready;
}

void run(benchmark::State& state, const std::string& origin, bool isPublic, const std::string& name,
         const MSRParameters& parameters) {
  sandboxHome();
  // The events are sound ones: a refusal or a logged line would time a failure path instead.
  std::atomic<int> lines{0};
  MSRMeasurement::monitor()->setLogObserverForTesting(
      [&lines](const MSRMonitor::LogRecord&) { ++lines; });
  const bool built =
      MSREvent::initWithOrigin(origin, isPublic, name, 1765100000.25, 0, &parameters) != nullptr;
  MSRMeasurement::monitor()->setLogObserverForTesting(nullptr);
  if (!built || lines != 0) {
    state.SkipWithError("the event was refused or logged a problem");
    return;
  }
  for (auto _ : state) {
    auto event = MSREvent::initWithOrigin(origin, isPublic, name, 1765100000.25, 0, &parameters);
    benchmark::DoNotOptimize(event);
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_EventFromStoredValues(benchmark::State& state) {
  const MSRParameters parameters{
      {"sound", Value(MSRValue::initWithString(Value("thunder")))},
      {"volume", Value(MSRValue::initWithDouble(0.75))},
      {"index", Value(MSRValue::initWithInt64(12))},
  };
  run(state, "app", false, "play_sound", parameters);
}
BENCHMARK(BM_EventFromStoredValues);

void BM_EventFromRawValues(benchmark::State& state) {
  const MSRParameters parameters{
      {"sound", Value("thunder")}, {"category", Value("weather")}, {"volume", Value(0.75)},
      {"index", Value(12)},        {"repeat", Value(false)},
  };
  run(state, "app", true, "play_sound", parameters);
}
BENCHMARK(BM_EventFromRawValues);

void BM_PurchaseWithItems(benchmark::State& state) {
  Value::Array items;
  for (int i = 0; i < 3; ++i) {
    items.push_back(Value(Value::Dictionary{{"item_id", Value("sku-" + std::to_string(i))},
                                            {"item_name", Value("Thunder pack")},
                                            {"price", Value(1.99)},
                                            {"quantity", Value(i + 1)}}));
  }
  const MSRParameters parameters{
      {"_c", Value(1)},
      {"value", Value(7.96)},
      {"currency", Value("EUR")},
      {"transaction_id", Value("T-1001")},
      {"items", Value(std::move(items))},
  };
  run(state, "app", false, "purchase", parameters);
}
BENCHMARK(BM_PurchaseWithItems);

void BM_EventWithNonLatinText(benchmark::State& state) {
  const MSRParameters parameters{
      {"\xD0\xB7\xD0\xB2\xD1\x83\xD0\xBA", Value("\xD0\xB3\xD1\x80\xD0\xBE\xD0\xBC")},
      {"mood", Value("\xF0\x9F\x98\x80 happy")},
      {"level", Value(3)},
  };
  run(state, "app", true, "\xD0\xB8\xD0\xB3\xD1\x80\xD0\xB0", parameters);
}
BENCHMARK(BM_EventWithNonLatinText);

}  // namespace

BENCHMARK_MAIN();
