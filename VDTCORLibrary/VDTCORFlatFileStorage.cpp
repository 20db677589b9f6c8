#include "VDTCORLibrary/VDTCORFlatFileStorage.h"

#include <algorithm>
#include <atomic>
#include <cinttypes>
#include <cstring>
#include <mutex>
#include <set>
#include <system_error>

#include "VDTCORLibrary/VDTCORApplication.h"
#include "VDTCORLibrary/VDTCORConsoleLogger.h"
#include "VDTCORLibrary/VDTCORConstants.h"
#include "VDTCORLibrary/VDTCORPlatform.h"
#include "VDTCORLibrary/VDTCORRegistrar.h"
#include "platform/base/Files.h"
#include "platform/base/Format.h"
#include "platform/base/Saturating.h"
#include "platform/base/StoreFile.h"
#include "platform/base/Strings.h"
#include "platform/dispatch/Clock.h"

namespace fs = std::filesystem;

namespace {

VDTCORLoadHook storageLoader([] {
  auto storage = VDTCORFlatFileStorage::sharedInstance();
  for (long target : VDTCORFlatFileStorage::availableTargets()) {
    VDTCORRegistrar::sharedInstance()->registerStorage(storage, target);
  }
});

platform::ErrorPtr internalInconsistencyError() {
  return platform::Error::make(platform::kInternalInconsistencyException, -1);
}

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string::size_type start = 0;
  while (true) {
    auto end = text.find(separator, start);
    parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return parts;
}

// The leading decimal integer after optional spaces and sign, 0 when there is none.
long long integerValue(const std::string& text) { return std::strtoll(text.c_str(), nullptr, 10); }

// An expiry as a name holds it: whole seconds from 0 up to the largest that reads back as the
// same signed number, so a far date never wraps round into the past; no number at all is 0.
unsigned long long nameSeconds(double date) {
  return static_cast<unsigned long long>(
      std::max<std::int64_t>(0, platform::saturatingCast<std::int64_t>(date)));
}

constexpr std::uint32_t kBatchIDMask = 0x7FFFFFFFu;

// Tried on every lookup; `failure` (a literal) is reported once until the folder is made.
fs::path createdOnce(const fs::path& path, const char* failure) {
  VDTCORCreateDirectoryReportingOnce(path, [failure](const platform::ErrorPtr& error) {
    VDTCORAssert(false, failure, platform::Value(error));
  });
  return path;
}

bool isHidden(const std::string& name) { return !name.empty() && name[0] == '.'; }

// What interrupted writes left anywhere in the store (each a hidden temporary file) goes the first
// time this process opens the store's folders; the store never counts or batches them meanwhile.
void sweepLeftoversOnce() {
  platform::files::removeStaleTemporaryFilesOnce(
      VDTCORStorageRootURL() / kVDTCORFlatFileStorageClassName, true);
}

// A library key names one file right inside the library folder.
bool isPlainFileName(const std::string& key) {
  return !key.empty() && key != "." && key != ".." && key.find('/') == std::string::npos &&
         key.find('\0') == std::string::npos;
}

platform::ErrorPtr badKeyError(const std::string& key) {
  return platform::Error::make(
      kVDTCORFlatFileStorageErrorDomain, -1,
      {{platform::kLocalizedFailureReasonKey,
        platform::format("The library data key is not a plain file name: %@", key)}});
}

// Entries of a tree, deepest last; unreadable entries are skipped.
std::vector<fs::path> walk(const fs::path& root) {
  std::vector<fs::path> paths;
  std::error_code ec;
  fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec);
  for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    paths.push_back(it->path());
  }
  return paths;
}

}  // namespace

namespace {

// Percent-encodes every character but letters, marks and digits (and "-" when kept), so that a
// name component can hold neither a path separator, nor a leading ".", nor (unless kept) the "-"
// that separates the components.
std::string percentEncode(const std::string& text, bool keepDash) {
  std::string out;
  for (char32_t c : platform::toUtf32(text)) {
    std::string utf8 = platform::fromUtf32(std::u32string(1, c));
    if ((keepDash && c == U'-') || platform::isAlphanumeric(c)) {
      out += utf8;
      continue;
    }
    for (unsigned char byte : utf8) out += platform::format("%%%02X", static_cast<unsigned>(byte));
  }
  return out;
}

// Deletes the event files under `root` whose name gives an expiry before `now`.
void removeExpiredEventFiles(const fs::path& root, double now) {
  for (const fs::path& path : walk(root)) {
    std::string name = path.filename().string();
    if (split(name, '-').size() < 4) continue;  // target directories and foreign names
    auto components = VDTCORFlatFileStorage::eventComponentsFromFilename(name);
    if (!components) continue;
    auto expiry = components->at(kVDTCOREventComponentsExpirationKey).dateValue();
    if (!expiry || *expiry >= now) continue;
    platform::ErrorPtr error;
    if (platform::files::removeItem(path, &error)) {
      VDTCORLogDebug("Item deleted because it expired: %@", path.string());
    } else {
      VDTCORLogDebug("There was an error deleting an expired item: %@", path.string());
    }
  }
}

}  // namespace

std::string VDTCOREncodeMappingID(const std::string& mappingID) {
  return percentEncode(mappingID, true);
}

std::string VDTCOREncodeNameComponent(const std::string& text) {
  return percentEncode(text, false);
}

std::string VDTCORDecodeMappingID(const std::string& encoded) {
  std::string out;
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    if (encoded[i] == '%' && i + 2 < encoded.size() &&
        std::isxdigit(static_cast<unsigned char>(encoded[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(encoded[i + 2]))) {
      out += static_cast<char>(std::stoi(encoded.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += encoded[i];
    }
  }
  return out;
}

std::shared_ptr<VDTCORFlatFileStorage> VDTCORFlatFileStorage::sharedInstance() {
  static auto* shared =
      new std::shared_ptr<VDTCORFlatFileStorage>(std::make_shared<VDTCORFlatFileStorage>());
  return *shared;
}

VDTCORFlatFileStorage::VDTCORFlatFileStorage()
    : storageQueue_(platform::DispatchQueue::create(kVDTCORFlatFileStorageQueueLabel)),
      uploadCoordinator_(VDTCORUploadCoordinator::sharedInstance()) {}

VDTCORDirectorySizeTracker& VDTCORFlatFileStorage::sizeTracker() {
  if (!sizeTracker_) {
    sizeTracker_ = std::make_unique<VDTCORDirectorySizeTracker>(VDTCORStorageRootURL());
  }
  return *sizeTracker_;
}

std::vector<long> VDTCORFlatFileStorage::availableTargets() {
  return {kVDTCORTargetTest, kVDTCORTargetCCT, kVDTCORTargetFLL, kVDTCORTargetCSH,
          kVDTCORTargetINT};
}

fs::path VDTCORFlatFileStorage::eventDataStoragePath() {
  // Never destroyed: queue work still running at exit may ask for it.
  static const fs::path& path = *new fs::path(
      VDTCORStorageRootURL() / kVDTCORFlatFileStorageClassName / kVDTCOREventDataDirectoryName);
  sweepLeftoversOnce();
  return createdOnce(path, "%@");
}

fs::path VDTCORFlatFileStorage::batchDataStoragePath() {
  // Never destroyed: queue work still running at exit may ask for it.
  static const fs::path& path = *new fs::path(
      VDTCORStorageRootURL() / kVDTCORFlatFileStorageClassName / kVDTCORBatchDataDirectoryName);
  sweepLeftoversOnce();
  return createdOnce(path, "Creating the batch data path failed: %@");
}

fs::path VDTCORFlatFileStorage::libraryDataStoragePath() {
  // Never destroyed: queue work still running at exit may ask for it.
  static const fs::path& path = *new fs::path(
      VDTCORStorageRootURL() / kVDTCORFlatFileStorageClassName / kVDTCORLibraryDataDirectoryName);
  sweepLeftoversOnce();
  return createdOnce(path, "Creating the library data path failed: %@");
}

fs::path VDTCORFlatFileStorage::pathForTarget(long target, const std::string& eventID, long qosTier,
                                              double expirationDate, const std::string& mappingID) {
  auto seconds = nameSeconds(expirationDate);
  // The ID and the tier are escaped like the mapping ID: a hexadecimal ID and a tier of 0 or more
  // read the same either way, while "..", "/" or a "-" of their own could otherwise move the file
  // out of the store or make its name unreadable.
  return eventDataStoragePath() / std::to_string(target) /
         platform::format("%@-%@-%llu-%@", VDTCOREncodeNameComponent(eventID),
                          VDTCOREncodeNameComponent(std::to_string(qosTier)), seconds,
                          VDTCOREncodeMappingID(mappingID));
}

fs::path VDTCORFlatFileStorage::batchPathForTarget(long target, long batchID,
                                                   double expirationDate) {
  auto seconds = nameSeconds(expirationDate);
  return batchDataStoragePath() / platform::format("%ld-%ld-%llu", target, batchID, seconds);
}

std::optional<platform::Value::Dictionary> VDTCORFlatFileStorage::eventComponentsFromFilename(
    const std::string& fileName) {
  auto parts = split(fileName, '-');
  // Older builds wrote a negative tier as it stands ("ID--2-1700000000-137"); today's names never
  // have an empty second part, so such a name is read with its tier.
  if (parts.size() >= 5 && !parts[0].empty() && parts[1].empty() && !parts[2].empty()) {
    parts[2] = "-" + parts[2];
    parts.erase(parts.begin() + 1);
  }
  if (parts.size() < 4) {
    VDTCORLogDebug("The event filename could not be split: %@", fileName);
    return std::nullopt;
  }
  std::string mapping = parts[3];
  for (std::size_t i = 4; i < parts.size(); ++i) mapping += "-" + parts[i];
  if (parts[0].empty() || parts[1].empty() || parts[2].empty() || mapping.empty()) {
    VDTCORLogDebug("There was an error parsing the event filename components: %@", fileName);
    return std::nullopt;
  }
  return platform::Value::Dictionary{
      {kVDTCOREventComponentsEventIDKey, VDTCORDecodeMappingID(parts[0])},
      {kVDTCOREventComponentsQoSTierKey,
       platform::Value(integerValue(VDTCORDecodeMappingID(parts[1])))},
      {kVDTCOREventComponentsExpirationKey,
       platform::Value::date(static_cast<double>(integerValue(parts[2])))},
      {kVDTCOREventComponentsMappingIDKey, mapping}};
}

std::optional<platform::Value::Dictionary> VDTCORFlatFileStorage::batchComponentsFromFilename(
    const std::string& fileName) {
  auto parts = split(fileName, '-');
  // Older builds could name a batch with a negative ID ("1001--5-1700000000"); read it back so
  // that its events can still be returned and expired.
  if (parts.size() == 4 && parts[1].empty() && !parts[2].empty()) {
    parts = {parts[0], "-" + parts[2], parts[3]};
  }
  if (parts.size() != 3) {
    VDTCORLogDebug("The batch filename could not be split: %@", fileName);
    return std::nullopt;
  }
  if (parts[0].empty() || parts[1].empty() || parts[2].empty()) {
    VDTCORLogDebug("There was an error parsing the batch filename components: %@", fileName);
    return std::nullopt;
  }
  return platform::Value::Dictionary{
      {kVDTCORBatchComponentsTargetKey, platform::Value(integerValue(parts[0]))},
      {kVDTCORBatchComponentsBatchIDKey, platform::Value(integerValue(parts[1]))},
      {kVDTCORBatchComponentsExpirationKey,
       platform::Value::date(std::strtod(parts[2].c_str(), nullptr))}};
}

// ---- Storing events.

void VDTCORFlatFileStorage::storeEvent(const VDTCOREventPtr& event, StoreCompletion completion) {
  VDTCORLogDebug("Saving event: %@", event ? platform::Value(event) : platform::Value());
  if (!event || !event->serializedDataObjectBytes()) {
    VDTCORLogDebug("The event was nil, so it was not saved.");
    if (completion) completion(false, internalInconsistencyError());
    return;
  }
  // A name needs both: without them the file could never be selected, expired or read back.
  if (event->eventID().empty() || event->mappingID().empty()) {
    VDTCORLogDebug("The event has no event ID or mapping ID, so it was not saved: %@", event);
    if (completion) completion(false, internalInconsistencyError());
    return;
  }
  if (!completion) {
    completion = [event](bool ok, platform::ErrorPtr error) {
      VDTCORLogDebug("event %@ stored. success:%@ error:%@", event, ok ? "YES" : "NO",
                     error ? platform::Value(error) : platform::Value());
    };
  }
  auto app = VDTCORApplication::sharedApplication();
  auto taskID =
      std::make_shared<std::atomic<VDTCORBackgroundIdentifier>>(VDTCORBackgroundIdentifierInvalid);
  auto endTask = [app, taskID] { app->endBackgroundTask(taskID->exchange(0)); };
  taskID->store(app->beginBackgroundTaskWithName(kVDTCORStorageBackgroundTaskName, endTask));

  std::weak_ptr<VDTCORFlatFileStorage> weakSelf = weak_from_this();
  storageQueue_->async([weakSelf, event, completion, endTask] {
    auto self = weakSelf.lock();
    if (!self) return endTask();
    fs::path path = pathForTarget(event->target(), event->eventID(), event->qosTier(),
                                  event->expirationDate().value_or(0), event->mappingID());
    platform::ErrorPtr error;
    auto bytes = VDTCORArchiveObject(platform::Value(event), fs::path(), &error);
    if (!bytes) {
      completion(false, error);
      return endTask();
    }
    if (self->sizeTracker().directoryContentSize() + bytes->size() >
        kVDTCORFlatFileStorageSizeLimit) {
      completion(false, platform::Error::make(kVDTCORFlatFileStorageErrorDomain, 0,
                                              {{platform::kLocalizedFailureReasonKey,
                                                "Storage size limit has been reached."}}));
      return endTask();
    }
    if (!VDTCORWriteArchiveData(*bytes, path, &error)) {
      completion(false, error);
      return endTask();
    }
    completion(true, nullptr);
    self->sizeTracker().fileWasAddedAtPath(path, bytes->size());
    if (event->qosTier() == VDTCOREventQoSFast) {
      self->uploadCoordinator_->forceUploadForTarget(event->target());
    }
    endTask();
  });
}

// ---- Batches.

namespace {

// On the storage queue. The IDs of the batches that have a folder, and of those being made;
// none when the batch folder cannot be listed. IDs outside 0 to 2^31 - 1 (an older build's) can
// never be handed out again and are left out.
std::optional<std::set<std::uint32_t>> batchIDsInUse(const std::set<long>& beingMade) {
  platform::ErrorPtr listError;
  auto entries = platform::files::contentsOfDirectory(VDTCORFlatFileStorage::batchDataStoragePath(),
                                                      &listError);
  if (!entries) {
    VDTCORLogDebug("Failed to find the batches in use: %@", platform::Value(listError));
    return std::nullopt;
  }
  std::set<std::uint32_t> ids;
  auto add = [&ids](std::int64_t id) {
    if (id >= 0 && id <= static_cast<std::int64_t>(kBatchIDMask)) {
      ids.insert(static_cast<std::uint32_t>(id));
    }
  };
  for (const auto& entry : *entries) {
    if (!entry.isDirectory) continue;  // a stray file by a batch's name holds no batch
    auto components = VDTCORFlatFileStorage::batchComponentsFromFilename(entry.name);
    if (components) add(components->at(kVDTCORBatchComponentsBatchIDKey).int64Value());
  }
  for (long id : beingMade) add(id);
  return ids;
}

// The first ID above every one in use; 0 when none is.
std::uint32_t firstIDAbove(const std::set<std::uint32_t>& inUse) {
  return inUse.empty() ? 0 : (*inUse.rbegin() + 1) & kBatchIDMask;
}

// On the storage queue. Moves aside whatever other than a file stands where the batch-ID counter
// goes (a folder, a pipe), so that the next count can be stored there; false when the way is
// clear or could not be cleared.
bool counterInTheWayMovedAside() {
  const fs::path path = VDTCORFlatFileStorage::libraryDataStoragePath() / kVDTCORBatchIDCounterKey;
  std::error_code ec;
  auto type = fs::symlink_status(path, ec).type();
  if (ec || type == fs::file_type::regular || type == fs::file_type::not_found) return false;
  return platform::StoreFile::moveAside(path, kVDTCORFlatFileStorageClassName,
                                        "not a batch-ID counter file");
}

}  // namespace

void VDTCORFlatFileStorage::nextBatchID(std::function<void(std::optional<long>)> completion) {
  auto counter = std::make_shared<std::optional<std::uint32_t>>();
  std::weak_ptr<VDTCORFlatFileStorage> weakSelf = weak_from_this();
  libraryDataForKey(
      kVDTCORBatchIDCounterKey,
      [weakSelf, counter, completion](std::optional<platform::Bytes> data,
                                      platform::ErrorPtr error) {
        auto self = weakSelf.lock();
        // The batches in use are asked first, so that nothing is moved aside for a count that
        // could not be made.
        auto inUse = self ? batchIDsInUse(self->batchIDsBeingMade_) : std::nullopt;
        if (!inUse) {
          if (completion) completion(std::nullopt);
          return;
        }
        std::uint32_t id = 0;
        if (error) {
          // A counter file that cannot be read now may be read later; a folder (or anything
          // else but a file) in its place would stop every batch for good.
          if (!counterInTheWayMovedAside()) {
            if (completion) completion(std::nullopt);
            return;
          }
          id = firstIDAbove(*inUse);
        } else if (!data || data->size() < 4) {
          // No count: a fresh installation starts at 0, but a counter lost while batches are in
          // use goes on above them, or a batch's removal would take another's events with it.
          id = firstIDAbove(*inUse);
        } else {
          std::uint32_t value = 0;
          std::memcpy(&value, data->data(), 4);
          // IDs stay within 0 to 2^31 - 1 and wrap to 0 after it: a negative ID would name a
          // batch folder that could not be read back, so its events would never be returned or
          // expired. A counter written past that range by an older build is folded back into it.
          id = value & kBatchIDMask;
        }
        // Past the wrap, or from a counter put back from an older copy, the count can meet a batch
        // still in use: two batches of one ID would be removed together.
        while (inUse->count(id)) id = (id + 1) & kBatchIDMask;
        *counter = id;
        if (completion) completion(static_cast<long>(id));
      },
      [counter]() -> std::optional<platform::Bytes> {
        if (!*counter) return std::nullopt;
        std::uint32_t next = (**counter + 1) & kBatchIDMask;
        platform::Bytes bytes(4);
        std::memcpy(bytes.data(), &next, 4);
        return bytes;
      });
}

void VDTCORFlatFileStorage::pathsForTarget(long target,
                                           const std::optional<std::set<std::string>>& eventIDs,
                                           const std::optional<std::set<long>>& qosTiers,
                                           const std::optional<std::set<std::string>>& mappingIDs,
                                           std::function<void(std::set<fs::path>)> onComplete) {
  if (!onComplete) onComplete = [](std::set<fs::path>) {};
  storageQueue_->async([target, eventIDs, qosTiers, mappingIDs, onComplete] {
    fs::path targetPath = eventDataStoragePath() / std::to_string(target);
    platform::files::createDirectory(targetPath, true);
    platform::ErrorPtr error;
    auto entries = platform::files::contentsOfDirectory(targetPath, &error);
    if (!entries) {
      VDTCORLogDebug("There was an error reading the contents of the target path: %@",
                     platform::Value(error));
      onComplete({});
      return;
    }
    bool filtering = (eventIDs && !eventIDs->empty()) || (qosTiers && !qosTiers->empty()) ||
                     (mappingIDs && !mappingIDs->empty());
    std::set<fs::path> paths;
    for (const auto& entry : *entries) {
      if (isHidden(entry.name)) continue;
      if (!filtering) {
        paths.insert(targetPath / entry.name);
        continue;
      }
      auto components = eventComponentsFromFilename(entry.name);
      if (!components) {
        VDTCORLogDebug("There was an error reading the filename components: %@", entry.name);
        continue;
      }
      const auto& c = *components;
      if (eventIDs && !eventIDs->empty() &&
          !eventIDs->count(*c.at(kVDTCOREventComponentsEventIDKey).string())) {
        continue;
      }
      if (qosTiers && !qosTiers->empty() &&
          !qosTiers->count(c.at(kVDTCOREventComponentsQoSTierKey).int64Value())) {
        continue;
      }
      if (mappingIDs && !mappingIDs->empty() &&
          !mappingIDs->count(
              VDTCORDecodeMappingID(*c.at(kVDTCOREventComponentsMappingIDKey).string()))) {
        continue;
      }
      paths.insert(targetPath / entry.name);
    }
    onComplete(std::move(paths));
  });
}

void VDTCORFlatFileStorage::batchWithEventSelector(const VDTCORStorageEventSelectorPtr& selector,
                                                   double batchExpiration,
                                                   BatchCompletion completion) {
  std::weak_ptr<VDTCORFlatFileStorage> weakSelf = weak_from_this();
  nextBatchID([weakSelf, selector, batchExpiration, completion](std::optional<long> batchID) {
    auto self = weakSelf.lock();
    if (!batchID || !self || !selector) {
      if (completion) completion(std::nullopt, std::nullopt);
      return;
    }
    // In use from now on, though its folder is made only when its events move in: a count made
    // meanwhile must not hand it out again.
    self->batchIDsBeingMade_.insert(*batchID);
    self->storageQueue_->async([weakSelf, selector, batchExpiration, completion, batchID] {
      auto self = weakSelf.lock();
      if (!self) return;
      self->pathsForTarget(
          selector->selectedTarget, selector->selectedEventIDs, selector->selectedQosTiers,
          selector->selectedMappingIDs,
          [weakSelf, selector, batchExpiration, completion, batchID](std::set<fs::path> paths) {
            auto self = weakSelf.lock();
            if (!self) return;
            self->storageQueue_->async(
                [weakSelf, selector, batchExpiration, completion, batchID,
                 paths = std::move(paths)] {
                  std::vector<VDTCOREventPtr> events;
                  for (const auto& path : paths) {
                    platform::ErrorPtr error;
                    // A file that cannot be read now (too many open files, an I/O error) may well
                    // decode later: it stays where it is. Only bytes that do not decode are
                    // dropped.
                    auto bytes = platform::files::readFile(path, &error);
                    if (!bytes) {
                      VDTCORLogDebug("An event file could not be read and was left in place: %@",
                                     platform::Value(error));
                      continue;
                    }
                    auto event = VDTCORUnarchiveObject(kVDTCOREventClassName, path, bytes, &error)
                                     .objectAs<VDTCOREvent>();
                    if (!event) {
                      VDTCORLogDebug("Error deserializing event: %@", platform::Value(error));
                      platform::files::removeItem(path);
                      continue;
                    }
                    fs::path batchDir =
                        batchPathForTarget(selector->selectedTarget, *batchID, batchExpiration);
                    // An event outside the batch's folder is not in the batch: the batch's
                    // removal after a delivery would not find it, and it would be sent again on
                    // every later round. It stays in the pool for a later batch.
                    if (!platform::files::createDirectory(batchDir, true, &error) ||
                        !platform::files::moveItem(path, batchDir / path.filename(), &error)) {
                      VDTCORLogDebug("An event file wasn't moveable into the batch directory: %@",
                                     platform::Value(error));
                      continue;
                    }
                    events.push_back(event);
                  }
                  // Its folder, when it has events, now tells that it is in use.
                  if (auto self = weakSelf.lock()) self->batchIDsBeingMade_.erase(*batchID);
                  if (!completion) return;
                  if (events.empty()) {
                    completion(std::nullopt, std::nullopt);
                  } else {
                    completion(batchID, std::move(events));
                  }
                });
          });
    });
  });
}

std::vector<fs::path> VDTCORFlatFileStorage::batchDirPathsForBatchID(long batchID,
                                                                     platform::ErrorPtr* error) {
  std::vector<fs::path> paths;
  platform::ErrorPtr listError;
  auto entries = platform::files::contentsOfDirectory(batchDataStoragePath(), &listError);
  if (!entries) {
    VDTCORLogDebug("Failed to find event file paths for batchID: %@, error: %@", batchID,
                   platform::Value(listError));
    platform::setError(error, listError);
    return paths;
  }
  for (const auto& entry : *entries) {
    auto components = batchComponentsFromFilename(entry.name);
    if (components && components->at(kVDTCORBatchComponentsBatchIDKey).int64Value() == batchID) {
      paths.push_back(entry.path);
    }
  }
  return paths;
}

bool VDTCORFlatFileStorage::moveContentsOfDirectoryAtPath(const fs::path& source,
                                                          const fs::path& destination,
                                                          platform::ErrorPtr* error) {
  platform::ErrorPtr listError;
  auto entries = platform::files::contentsOfDirectory(source, &listError);
  if (!entries) {
    platform::setError(error, listError);
    return false;
  }
  platform::Value::Array moveErrors;
  for (const auto& entry : *entries) {
    platform::ErrorPtr moveError;
    if (!platform::files::moveItem(entry.path, destination / entry.name, &moveError)) {
      moveErrors.push_back(platform::Value(moveError));
    }
  }
  if (moveErrors.empty()) return true;
  platform::setError(error, platform::Error::make(kVDTCORFlatFileStorageErrorDomain, -1,
                                                  {{platform::kUnderlyingErrorKey,
                                                    platform::Value(std::move(moveErrors))}}));
  return false;
}

void VDTCORFlatFileStorage::syncThreadUnsafeRemoveBatchWithID(long batchID, bool deleteEvents) {
  for (const fs::path& batchDir : batchDirPathsForBatchID(batchID, nullptr)) {
    if (!deleteEvents) {
      auto components = batchComponentsFromFilename(batchDir.filename().string());
      platform::ErrorPtr error;
      bool moved = false;
      if (components) {
        fs::path destination =
            eventDataStoragePath() / components->at(kVDTCORBatchComponentsTargetKey).description();
        // The target's directory may have gone since the batch was made; nothing may be lost.
        platform::files::createDirectory(destination, true);
        moved = moveContentsOfDirectoryAtPath(batchDir, destination, &error);
        if (moved) {
          VDTCORLogDebug("Batched events at path: %@ moved back to the storage: %@",
                         batchDir.string(), destination.string());
        }
      }
      if (!moved) {
        // Whatever did not move back is still undelivered: the batch stays, and the next removal
        // of it (or its expiry) tries again.
        VDTCORLogDebug("Error encountered whilst moving events back: %@", platform::Value(error));
        continue;
      }
    }
    if (platform::files::removeItem(batchDir)) {
      VDTCORLogDebug("Batch removed at path: %@", batchDir.string());
    } else {
      VDTCORLogDebug("Failed to remove batch at path: %@", batchDir.string());
    }
  }
  sizeTracker().resetCachedSize();
}

void VDTCORFlatFileStorage::removeBatchWithID(long batchID, bool deleteEvents,
                                              std::function<void()> completion) {
  std::weak_ptr<VDTCORFlatFileStorage> weakSelf = weak_from_this();
  storageQueue_->async([weakSelf, batchID, deleteEvents, completion] {
    if (auto self = weakSelf.lock()) self->syncThreadUnsafeRemoveBatchWithID(batchID, deleteEvents);
    if (completion) completion();
  });
}

void VDTCORFlatFileStorage::batchIDsForTarget(
    long target, std::function<void(std::optional<std::set<long>>)> completion) {
  storageQueue_->async([target, completion] {
    auto entries = platform::files::contentsOfDirectory(batchDataStoragePath());
    std::optional<std::set<long>> ids;
    if (entries && !entries->empty()) {
      ids.emplace();
      for (const auto& entry : *entries) {
        auto components = batchComponentsFromFilename(entry.name);
        if (!components) continue;
        if (static_cast<std::int32_t>(
                components->at(kVDTCORBatchComponentsTargetKey).int64Value()) == target) {
          ids->insert(components->at(kVDTCORBatchComponentsBatchIDKey).int64Value());
        }
      }
    }
    if (completion) completion(std::move(ids));
  });
}

void VDTCORFlatFileStorage::hasEventsForTarget(long target, std::function<void(bool)> completion) {
  storageQueue_->async([target, completion] {
    fs::path targetPath = eventDataStoragePath() / std::to_string(target);
    platform::files::createDirectory(targetPath, true);
    // A hidden file is a write under way or left by an interrupted one, not an event.
    const auto entries = walk(targetPath);
    bool has = std::any_of(entries.begin(), entries.end(), [](const fs::path& path) {
      return !isHidden(path.filename().string());
    });
    if (completion) completion(has);
  });
}

void VDTCORFlatFileStorage::checkForExpirations() {
  std::weak_ptr<VDTCORFlatFileStorage> weakSelf = weak_from_this();
  storageQueue_->async([weakSelf] {
    auto self = weakSelf.lock();
    if (!self) return;
    VDTCORLogDebug("Checking for expired events and batches");
    double now = platform::Clock::current().now();
    auto batches = platform::files::contentsOfDirectory(batchDataStoragePath());
    for (const auto& entry : batches.value_or(std::vector<platform::DirectoryEntry>{})) {
      auto components = batchComponentsFromFilename(entry.name);
      if (!components) continue;
      auto expiry = components->at(kVDTCORBatchComponentsExpirationKey).dateValue();
      if (expiry && *expiry < now) {
        self->syncThreadUnsafeRemoveBatchWithID(
            components->at(kVDTCORBatchComponentsBatchIDKey).int64Value(), false);
        // A batch whose events could not go back still loses those whose own time is up.
        if (platform::files::exists(entry.path)) removeExpiredEventFiles(entry.path, now);
        auto left = platform::files::contentsOfDirectory(entry.path);
        if (left && left->empty()) platform::files::removeItem(entry.path);
      }
    }
    removeExpiredEventFiles(eventDataStoragePath(), now);
    self->sizeTracker().resetCachedSize();
  });
}

// ---- Library data.

void VDTCORFlatFileStorage::libraryDataForKey(
    const std::string& key,
    std::function<void(std::optional<platform::Bytes>, platform::ErrorPtr)> onFetchComplete,
    std::function<std::optional<platform::Bytes>()> setNewValue) {
  std::weak_ptr<VDTCORFlatFileStorage> weakSelf = weak_from_this();
  storageQueue_->async([weakSelf, key, onFetchComplete, setNewValue] {
    auto self = weakSelf.lock();
    if (!self) return;
    if (!isPlainFileName(key)) {
      if (onFetchComplete) onFetchComplete(std::nullopt, badKeyError(key));
      return;
    }
    fs::path path = libraryDataStoragePath() / key;
    platform::ErrorPtr error;
    std::optional<platform::Bytes> data = platform::files::readFile(path, &error);
    // A key never written reads as no bytes, not as a failure; one that cannot be read is one.
    if (!data && error && error->code() == platform::kFileReadNoSuchFileError) error = nullptr;
    if (onFetchComplete) onFetchComplete(data, error);
    if (!setNewValue) return;
    auto newValue = setNewValue();
    if (!newValue || newValue->empty()) return;
    platform::ErrorPtr writeError;
    if (platform::files::writeAtomically(path, *newValue, &writeError)) {
      self->sizeTracker().fileWasRemovedAtPath(path, data ? data->size() : 0);
      self->sizeTracker().fileWasAddedAtPath(path, newValue->size());
    } else {
      VDTCORLogDebug("Error writing new value in libraryDataForKey: %@",
                     platform::Value(writeError));
    }
  });
}

void VDTCORFlatFileStorage::storeLibraryData(const std::optional<platform::Bytes>& data,
                                             const std::string& key,
                                             std::function<void(platform::ErrorPtr)> completion) {
  if (!data || data->empty()) {
    if (completion) completion(internalInconsistencyError());
    return;
  }
  if (!isPlainFileName(key)) {
    if (completion) completion(badKeyError(key));
    return;
  }
  std::weak_ptr<VDTCORFlatFileStorage> weakSelf = weak_from_this();
  storageQueue_->async([weakSelf, data, key, completion] {
    auto self = weakSelf.lock();
    if (!self) return;
    fs::path path = libraryDataStoragePath() / key;
    platform::ErrorPtr error;
    if (platform::files::writeAtomically(path, *data, &error)) {
      self->sizeTracker().fileWasAddedAtPath(path, data->size());
    }
    if (completion) completion(error);
  });
}

void VDTCORFlatFileStorage::removeLibraryDataForKey(
    const std::string& key, std::function<void(platform::ErrorPtr)> completion) {
  std::weak_ptr<VDTCORFlatFileStorage> weakSelf = weak_from_this();
  storageQueue_->async([weakSelf, key, completion] {
    auto self = weakSelf.lock();
    if (!self) return;
    if (!isPlainFileName(key)) {
      if (completion) completion(badKeyError(key));
      return;
    }
    fs::path path = libraryDataStoragePath() / key;
    if (!platform::files::exists(path)) return;
    std::uint64_t size = VDTCORDirectorySizeTracker::fileSizeAtURL(path);
    platform::ErrorPtr error;
    if (platform::files::removeItem(path, &error))
      self->sizeTracker().fileWasRemovedAtPath(path, size);
    if (completion) completion(error);
  });
}

void VDTCORFlatFileStorage::storageSizeWithCallback(std::function<void(std::uint64_t)> callback) {
  if (!callback) return;
  std::weak_ptr<VDTCORFlatFileStorage> weakSelf = weak_from_this();
  storageQueue_->async([weakSelf, callback] {
    if (auto self = weakSelf.lock()) callback(self->sizeTracker().directoryContentSize());
  });
}

void VDTCORFlatFileStorage::appWillTerminate(const VDTCORApplicationPtr&) {
  storageQueue_->sync([] {});
}
