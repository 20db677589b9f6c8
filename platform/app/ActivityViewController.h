// The share sheet: a view controller made with activity items (file URLs as strings; other
// values are shown by their description) and application activities (kept, not shown: none are
// used here). Presented as a sheet listing each file's name with "Open" (the default application
// through xdg-open), "Save a Copy" (into the user's downloads folder, never overwriting) and
// "Cancel". Main thread only.
#pragma once

#include <filesystem>
#include <functional>
#include <vector>

#include "platform/app/ViewController.h"
#include "platform/base/Value.h"

namespace platform::app {

class ActivityViewController : public ViewController {
 public:
  ActivityViewController(std::vector<Value> activityItems,
                         std::vector<ObjectPtr> applicationActivities);
  std::string className() const override;

  const std::vector<Value>& activityItems() const { return items_; }
  const std::vector<ObjectPtr>& applicationActivities() const { return activities_; }

  ui::View body() override;

  // The three actions, as the sheet's buttons run them. Each closes the sheet.
  void openItems();
  // Returns the files written.
  std::vector<std::filesystem::path> saveCopies();
  void cancel();

  // $XDG_DOWNLOAD_DIR, else ~/Downloads.
  static std::filesystem::path downloadsDirectory();

 private:
  std::vector<Value> items_;
  std::vector<ObjectPtr> activities_;
};

}  // namespace platform::app
