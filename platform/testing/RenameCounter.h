// Counts the complete atomic writes of one file in a folder (inotify): each is a rename of a
// temporary file (".<name>.tmp.<unique>") onto the name. The renames are counted by the
// temporary's name, which differs every time: the kernel merges identical events still unread,
// so events under the target's own name would undercount. Not thread-safe; one reader.
#pragma once

#include <sys/inotify.h>

#include <filesystem>
#include <string>

#include "platform/testing/FolderEvents.h"

namespace platform::testing {

class RenameCounter {
 public:
  RenameCounter(const std::filesystem::path& folder, const std::string& name)
      : events_(folder, IN_MOVED_FROM), prefix_("." + name + ".tmp.") {}

  // The renames seen so far.
  int count() {
    for (const auto& name : events_.take()) {
      if (name.starts_with(prefix_)) ++count_;
    }
    return count_;
  }

 private:
  FolderEvents events_;
  std::string prefix_;
  int count_ = 0;
};

}  // namespace platform::testing
