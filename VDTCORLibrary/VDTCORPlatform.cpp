#include "VDTCORLibrary/VDTCORPlatform.h"

#include <sys/utsname.h>

#include <mutex>
#include <set>

#include "VDTCORLibrary/VDTCORConsoleLogger.h"
#include "VDTCORLibrary/VDTCORConstants.h"
#include "platform/base/Files.h"
#include "platform/runtime/KeyedArchiver.h"

std::filesystem::path VDTCORStorageRootURL() {
  // Never destroyed: queue work still running at exit may ask for it.
  static const std::filesystem::path& root = *[] {
    auto* path = new std::filesystem::path(platform::SandboxHome::caches() /
                                           kVDTCORStorageRootDirectoryName);
    VDTCORLogDebug("VDT's state will be saved to: %@", path->string());
    return path;
  }();
  VDTCORCreateDirectoryReportingOnce(root, [](const platform::ErrorPtr&) {
    VDTCORAssert(false, "There was an error creating VDT's path");
  });
  return root;
}

bool VDTCORCreateDirectoryReportingOnce(
    const std::filesystem::path& path,
    const std::function<void(const platform::ErrorPtr&)>& report) {
  // Never destroyed: queue work still running at exit may look a folder up.
  static auto& guard = *new std::mutex;
  static auto& failing = *new std::set<std::filesystem::path>;
  platform::ErrorPtr error;
  const bool made = platform::files::createDirectory(path, true, &error);
  bool firstFailure = false;
  {
    std::lock_guard<std::mutex> lock(guard);
    if (made) {
      failing.erase(path);
    } else {
      firstFailure = failing.insert(path).second;
    }
  }
  if (firstFailure && report) report(error);
  return made;
}

const std::string& VDTCORHardwareModel() {
  // Never destroyed: queue work still running at exit may ask for it.
  static const std::string& model = *[] {
    struct utsname name {};
    if (uname(&name) == 0 && name.machine[0] != '\0') return new std::string(name.machine);
    // No kernel answer: the generic model name of this kind of device.
    return new std::string("Linux");
  }();
  return model;
}

namespace {

bool createParent(const std::filesystem::path& path, platform::ErrorPtr* error) {
  platform::ErrorPtr createError;
  if (platform::files::createDirectory(path.parent_path(), true, &createError)) return true;
  VDTCORLogDebug("Attempt to create directory failed: path:%@ error:%@", path.string(),
                 platform::Value(createError));
  platform::setError(error, createError);
  return false;
}

bool writeBytes(const platform::Bytes& data, const std::filesystem::path& path,
                platform::ErrorPtr* error) {
  platform::ErrorPtr writeError;
  if (platform::files::writeAtomically(path, data, &writeError)) {
    VDTCORLogDebug("Writing archive succeeded: %@", path.string());
    return true;
  }
  VDTCORLogDebug("Attempt to write archive failed: path:%@ error:%@", path.string(),
                 platform::Value(writeError));
  platform::setError(error, writeError);
  return false;
}

}  // namespace

std::optional<platform::Bytes> VDTCORArchiveObject(const platform::Value& object,
                                                   const std::filesystem::path& path,
                                                   platform::ErrorPtr* error) {
  if (!path.empty() && !createParent(path, error)) return std::nullopt;
  platform::ErrorPtr archiveError;
  auto bytes = platform::KeyedArchiver::archivedDataWithRootObject(object, &archiveError);
  if (!bytes) {
    VDTCORLogDebug("Encoding an object failed: %@", platform::Value(archiveError));
    platform::setError(error, archiveError);
    return std::nullopt;
  }
  if (!path.empty()) writeBytes(*bytes, path, error);
  return bytes;
}

platform::Value VDTCORUnarchiveObject(std::string_view expectedClass,
                                      const std::filesystem::path& path,
                                      const std::optional<platform::Bytes>& data,
                                      platform::ErrorPtr* error) {
  std::optional<platform::Bytes> bytes = data;
  if (!bytes) bytes = platform::files::readFile(path, error);
  if (!bytes) return platform::Value();
  return platform::KeyedUnarchiver::unarchivedObjectOfClass(expectedClass, *bytes, error);
}

bool VDTCORWriteArchiveData(const platform::Bytes& data, const std::filesystem::path& path,
                            platform::ErrorPtr* error) {
  if (path.empty()) return false;
  if (!createParent(path, error)) return false;
  return writeBytes(data, path, error);
}

bool VDTCORFlagsAllowNetwork(std::uint32_t flags) { return (flags & 6u) == 2u; }

bool VDTCORFlagsAreCellular(std::uint32_t flags) { return (flags & 0x40000u) != 0; }
