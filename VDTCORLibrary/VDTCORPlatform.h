// The transport's ties to the device: its root directory under the caches directory, the
// hardware model, archive encoding and file writing, and the tests on reachability flags.
// Thread-safe; the root path and the model are computed once per process.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/base/Error.h"
#include "platform/base/Value.h"

// "<caches>/veltro-sdks-events", created (with its parents) on every call.
std::filesystem::path VDTCORStorageRootURL();

// Creates the directory with its parents. A failure goes to `report` only when it is the path's
// first since the path was last made: folders looked up on every operation are tried each time
// without filling the log. Thread-safe.
bool VDTCORCreateDirectoryReportingOnce(
    const std::filesystem::path& path,
    const std::function<void(const platform::ErrorPtr&)>& report);

// The machine name of the running kernel (uname), else the platform's device model.
const std::string& VDTCORHardwareModel();

// Archives the object with secure coding. With a non-empty path the parent directory is created
// and the bytes are written there as well (the bytes are returned even when that write fails).
std::optional<platform::Bytes> VDTCORArchiveObject(const platform::Value& object,
                                                   const std::filesystem::path& path,
                                                   platform::ErrorPtr* error);

// Decodes bytes (read from the path when none are given) admitting only the expected class.
platform::Value VDTCORUnarchiveObject(std::string_view expectedClass,
                                      const std::filesystem::path& path,
                                      const std::optional<platform::Bytes>& data,
                                      platform::ErrorPtr* error);

// Writes the bytes atomically, creating the parent directory. An empty path writes nothing.
bool VDTCORWriteArchiveData(const platform::Bytes& data, const std::filesystem::path& path,
                            platform::ErrorPtr* error);

// Reachable and no connection required.
bool VDTCORFlagsAllowNetwork(std::uint32_t flags);
// The cellular-network bit.
bool VDTCORFlagsAreCellular(std::uint32_t flags);
