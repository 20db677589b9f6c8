// The event transport's two hot paths, each beside its floor in the same run:
// - events stored per second by the flat-file storage (each durably: temporary file, fsync,
//   rename) beside a plain open/write/fsync/rename of the same archive bytes;
// - encoding the batch request of 1,000 events beside a direct nanopb encode of the same
//   messages, built beforehand.
// The store lives in a fresh temporary sandbox home, never the user's.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <pb_encode.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "VDTCORLibrary/VDTCORFlatFileStorage.h"
#include "VDTCORLibrary/VDTCORPlatform.h"
#include "clt_uploader/VDTCLTNanopbHelpers.h"
#include "clt_uploader/VDTCOREvent+VDTCLTSupport.h"

namespace fs = std::filesystem;

namespace {

// Points TVS_HOME at a fresh temporary directory before anything computes the store's paths,
// and removes it when the program ends.
const fs::path& sandboxHome() {
  static const fs::path home = [] {
    std::string pattern = (fs::temp_directory_path() / "tvs-transport-bench-XXXXXX").string();
    fs::path dir = ::mkdtemp(pattern.data());
    ::setenv("TVS_HOME", dir.c_str(), 1);
    std::atexit([] {
      std::error_code ec;
      fs::remove_all(sandboxHome(), ec);
    });
    return dir;
  }();
  return home;
}

class Payload : public VDTCOREventDataObject {
 public:
  explicit Payload(std::size_t size) : bytes_(size) {
    for (std::size_t i = 0; i < size; ++i) bytes_[i] = static_cast<std::uint8_t>(i * 31 + 7);
  }
  std::optional<platform::Bytes> transportBytes() override { return bytes_; }

 private:
  platform::Bytes bytes_;
};

VDTCOREventPtr makeEvent(std::size_t payloadSize) {
  auto event = VDTCOREvent::initWithMappingID("137", 1001);
  event->setDataObject(std::make_shared<Payload>(payloadSize));
  event->setClockSnapshot(VDTCORClock::snapshot());
  return event;
}

// What the storage does for one file, without the storage: write, fsync, rename, fsync the folder.
bool plainDurableWrite(const fs::path& path, const platform::Bytes& bytes) {
  fs::path temp = path.parent_path() / ("." + path.filename().string() + ".tmp");
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()) &&
            ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok && ::rename(temp.c_str(), path.c_str()) == 0;
  int dir = ::open(path.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return ok;
}

// Per iteration: 20 events through the storage, then the same 20 archives written plainly; the
// two are timed separately and interleaved, so both see the same disk.
void BM_FlatFileStoreBesidePlainWrites(benchmark::State& state) {
  sandboxHome();
  constexpr int kEvents = 20;
  auto storage = VDTCORFlatFileStorage::sharedInstance();
  const fs::path plainDir = sandboxHome() / "plain";
  fs::create_directories(plainDir);
  double storageSeconds = 0, plainSeconds = 0;
  std::int64_t stored = 0, written = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::vector<VDTCOREventPtr> events;
    std::vector<platform::Bytes> archives;
    for (int i = 0; i < kEvents; ++i) {
      events.push_back(makeEvent(300));
      archives.push_back(*VDTCORArchiveObject(platform::Value(events.back()), fs::path(), nullptr));
    }
    state.ResumeTiming();

    std::mutex mutex;
    std::condition_variable allStored;
    int pending = kEvents, succeeded = 0;
    auto start = std::chrono::steady_clock::now();
    for (const auto& event : events) {
      storage->storeEvent(event, [&](bool ok, platform::ErrorPtr) {
        std::lock_guard lock(mutex);
        succeeded += ok;
        if (--pending == 0) allStored.notify_all();
      });
    }
    {
      std::unique_lock lock(mutex);
      allStored.wait(lock, [&] { return pending == 0; });
    }
    auto middle = std::chrono::steady_clock::now();
    for (int i = 0; i < kEvents; ++i) {
      written += plainDurableWrite(plainDir / events[i]->eventID(), archives[i]);
    }
    auto end = std::chrono::steady_clock::now();
    storageSeconds += std::chrono::duration<double>(middle - start).count();
    plainSeconds += std::chrono::duration<double>(end - middle).count();
    stored += succeeded;
    if (succeeded != kEvents) state.SkipWithError("the storage refused an event");

    // Keep the store small: what was measured is storing, not a growing folder.
    state.PauseTiming();
    std::error_code ec;
    fs::remove_all(VDTCORFlatFileStorage::eventDataStoragePath() / "1001", ec);
    fs::remove_all(plainDir, ec);
    fs::create_directories(plainDir, ec);
    storage->checkForExpirations();  // also forgets the cached size
    storage->storageQueue()->sync([] {});
    state.ResumeTiming();
  }
  state.counters["stored_per_s"] = storageSeconds > 0 ? stored / storageSeconds : 0;
  state.counters["plain_per_s"] = plainSeconds > 0 ? written / plainSeconds : 0;
  // Goal: at least 0.8.
  state.counters["ratio"] =
      storageSeconds > 0 && written > 0 ? (stored / storageSeconds) / (written / plainSeconds) : 0;
}
BENCHMARK(BM_FlatFileStoreBesidePlainWrites)->UseRealTime()->Unit(benchmark::kMillisecond);

// Argument 0: events as the app's client sends them (payload only); 1: every fourth event also
// carries an event code in its custom bytes.
std::vector<VDTCOREventPtr> thousandEvents(bool withEventCodes) {
  std::vector<VDTCOREventPtr> events;
  for (int i = 0; i < 1000; ++i) {
    auto event = makeEvent(200);
    if (withEventCodes && i % 4 == 0) VDTCLTSupport::setEventCode(*event, i);
    events.push_back(event);
  }
  return events;
}

// The floor: the same messages, built once up front, encoded by nanopb with the plainest
// callbacks (size pass, then into a buffer of that size).
struct DirectRecord {
  vdtclt_EventRecord message;
  const platform::Bytes* payload;
};

bool directPayload(pb_ostream_t* stream, const pb_field_t* field, void* const* arg) {
  const auto* payload = static_cast<const platform::Bytes*>(*arg);
  return pb_encode_tag_for_field(stream, field) &&
         pb_encode_string(stream, payload->data(), payload->size());
}

bool directText(pb_ostream_t* stream, const pb_field_t* field, void* const* arg) {
  const auto* text = static_cast<const std::string*>(*arg);
  return pb_encode_tag_for_field(stream, field) &&
         pb_encode_string(stream, reinterpret_cast<const pb_byte_t*>(text->data()), text->size());
}

bool directEvents(pb_ostream_t* stream, const pb_field_t* field, void* const* arg) {
  for (const auto& record : *static_cast<const std::vector<DirectRecord>*>(*arg)) {
    if (!pb_encode_tag_for_field(stream, field) ||
        !pb_encode_submessage(stream, vdtclt_EventRecord_fields, &record.message)) {
      return false;
    }
  }
  return true;
}

bool directRequests(pb_ostream_t* stream, const pb_field_t* field, void* const* arg) {
  const auto* request = static_cast<const vdtclt_MappingRequest*>(*arg);
  return pb_encode_tag_for_field(stream, field) &&
         pb_encode_submessage(stream, vdtclt_MappingRequest_fields, request);
}

double threadSeconds() {
  timespec now{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

// Per iteration: the batch request of 1,000 events built and encoded as the uploader does it,
// then the same messages (built once, before the loop) encoded directly. Both are timed in this
// thread's CPU time, so other load on the machine does not tilt the ratio.
void BM_BatchRequestEncodeBesideDirectNanopb(benchmark::State& state) {
  sandboxHome();
  const auto events = thousandEvents(state.range(0) != 0);
  // The direct form, built outside the loop from what the builders produce.
  VDTCLTMappingRequest built = VDTCLTBuildMappingRequest(137, events);
  std::vector<DirectRecord> records;
  for (const auto& record : built.events) {
    DirectRecord direct{record.message, &*record.event->serializedDataObjectBytes()};
    records.push_back(direct);
  }
  for (auto& record : records) {
    record.message.payload.funcs.encode = directPayload;
    record.message.payload.arg = const_cast<platform::Bytes*>(record.payload);
  }
  vdtclt_MappingRequest request = built.message;
  std::vector<std::string> texts = {built.device.osMajorVersion, built.device.osFullVersion,
                                    built.device.model, built.device.language,
                                    built.device.bundleID};
  pb_callback_t* fields[] = {&request.client.device.os_major_version,
                             &request.client.device.os_full_version, &request.client.device.model,
                             &request.client.device.language, &request.client.device.bundle_id};
  for (std::size_t i = 0; i < texts.size(); ++i) {
    fields[i]->funcs.encode = directText;
    fields[i]->arg = &texts[i];
  }
  request.events.funcs.encode = directEvents;
  request.events.arg = &records;
  vdtclt_BatchRequest batch = vdtclt_BatchRequest_init_zero;
  batch.requests.funcs.encode = directRequests;
  batch.requests.arg = &request;

  double oursSeconds = 0, directSeconds = 0;
  std::size_t oursBytes = 0, directBytes = 0;
  for (auto _ : state) {
    double start = threadSeconds();
    auto body = VDTCLTEncodedBatchForEvents(events);
    double middle = threadSeconds();
    if (!body) state.SkipWithError("encoding failed");
    oursBytes = body ? body->size() : 0;
    benchmark::DoNotOptimize(body);

    pb_ostream_t sizing = PB_OSTREAM_SIZING;
    if (!pb_encode(&sizing, vdtclt_BatchRequest_fields, &batch)) state.SkipWithError("sizing");
    platform::Bytes direct(sizing.bytes_written);
    pb_ostream_t stream = pb_ostream_from_buffer(direct.data(), direct.size());
    if (!pb_encode(&stream, vdtclt_BatchRequest_fields, &batch)) state.SkipWithError("encoding");
    benchmark::DoNotOptimize(direct);
    double end = threadSeconds();
    directBytes = direct.size();
    oursSeconds += middle - start;
    directSeconds += end - middle;
  }
  const double n = static_cast<double>(state.iterations()) * 1000;
  state.counters["ours_events_per_s"] = oursSeconds > 0 ? n / oursSeconds : 0;
  state.counters["direct_events_per_s"] = directSeconds > 0 ? n / directSeconds : 0;
  // Goal: at least 0.85 in both cases.
  state.counters["ratio"] = oursSeconds > 0 ? directSeconds / oursSeconds : 0;
  state.counters["body_bytes"] = static_cast<double>(oursBytes);
  if (oursBytes != directBytes) state.SkipWithError("the two bodies differ in size");
}
BENCHMARK(BM_BatchRequestEncodeBesideDirectNanopb)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace
