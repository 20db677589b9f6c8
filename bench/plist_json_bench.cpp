// Round trips of a 1,000-entry dictionary through the property-list (XML and binary) and JSON
// codecs, the sizes the preferences files and the installation bodies reach.
#include <benchmark/benchmark.h>

#include <string>

#include "platform/base/PropertyList.h"

namespace {

platform::Value thousandEntries() {
  platform::Value::Dictionary d;
  for (int i = 0; i < 1000; ++i) {
    std::string key = "key-" + std::to_string(i);
    switch (i % 4) {
      case 0:
        d.emplace(key, platform::Value(i));
        break;
      case 1:
        d.emplace(key, platform::Value(i * 0.5));
        break;
      case 2:
        d.emplace(key, platform::Value("value number " + std::to_string(i)));
        break;
      default:
        d.emplace(key, platform::Value(platform::Value::Array{i, "x", true}));
        break;
    }
  }
  return platform::Value(std::move(d));
}

void propertyListRoundTrip(benchmark::State& state, platform::PropertyListFormat format) {
  platform::Value value = thousandEntries();
  std::size_t bytes = 0;
  for (auto _ : state) {
    auto encoded = platform::serializePropertyList(value, format);
    platform::Value decoded = platform::parsePropertyList(
        std::string_view(reinterpret_cast<const char*>(encoded->data()), encoded->size()));
    benchmark::DoNotOptimize(decoded);
    bytes = encoded->size();
  }
  state.counters["bytes"] = static_cast<double>(bytes);
}

void BM_PropertyListXmlRoundTrip(benchmark::State& state) {
  propertyListRoundTrip(state, platform::PropertyListFormat::Xml);
}
BENCHMARK(BM_PropertyListXmlRoundTrip);

void BM_PropertyListBinaryRoundTrip(benchmark::State& state) {
  propertyListRoundTrip(state, platform::PropertyListFormat::Binary);
}
BENCHMARK(BM_PropertyListBinaryRoundTrip);

void BM_JsonRoundTrip(benchmark::State& state) {
  platform::Value value = thousandEntries();
  std::size_t bytes = 0;
  for (auto _ : state) {
    auto text = platform::serializeJson(value);
    platform::Value decoded = platform::parseJson(*text);
    benchmark::DoNotOptimize(decoded);
    bytes = text->size();
  }
  state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_JsonRoundTrip);

}  // namespace
