// A program the storage's crash test starts and kills: it stores events into the sandbox home
// ($TVS_HOME) one after another, for ever, and appends the ID of every event whose store completion
// reported success to a report file, one per line. Arguments: report file, run number.
#include <fcntl.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "VDTCORLibrary/VDTCORFlatFileStorage.h"
#include "platform/base/Format.h"

namespace {

class Payload : public VDTCOREventDataObject {
 public:
  explicit Payload(std::size_t size, unsigned char fill) : bytes_(size, fill) {}
  std::optional<platform::Bytes> transportBytes() override { return bytes_; }

 private:
  platform::Bytes bytes_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s REPORT RUN\n", argv[0]);
    return 2;
  }
  const int report = ::open(argv[1], O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (report < 0) return 1;
  const unsigned long run = std::strtoul(argv[2], nullptr, 10);
  auto storage = VDTCORFlatFileStorage::sharedInstance();
  std::mutex mutex;
  std::condition_variable stored;
  for (unsigned long long n = 0;; ++n) {
    auto event = VDTCOREvent::initWithMappingID(n % 5 == 0 ? "13/7" : "137", 1001);
    std::string id = platform::format("%08lX%024llX", run, n);
    // Now and then an ID that would climb out of the store if it were used as a path.
    if (n % 7 == 3) id = "../../../../" + id;
    event->setEventID(id);
    event->setDataObject(std::make_shared<Payload>(100 + (n * 37) % 3000, n & 0xFF));
    event->setQosTier(static_cast<long>(n % 6));
    event->setClockSnapshot(VDTCORClock::snapshot());
    bool done = false;
    storage->storeEvent(event, [&, id](bool ok, platform::ErrorPtr) {
      if (ok) {
        std::string line = id + "\n";
        (void)!::write(report, line.data(), line.size());
      }
      std::lock_guard lock(mutex);
      done = true;
      stored.notify_all();
    });
    std::unique_lock lock(mutex);
    stored.wait(lock, [&] { return done; });
  }
}
