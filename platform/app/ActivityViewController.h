// The share sheet: a view controller made with activity items (file URLs as strings; other
// values are shown by their description) and application activities (kept, not shown: none are
// used here). Presented as a sheet listing each file's name with "Open" (the default application
// through xdg-open), "Save a Copy" (into the user's downloads folder, never overwriting) and
// "Cancel". A copy that could not be written is named in the sheet with the reason, and the
// sheet stays until every file is copied or the person cancels. Main thread only.
#pragma once

#include <filesystem>
#include <functional>
#include <vector>

#include "platform/app/ViewController.h"
#include "platform/base/Value.h"
#include "platform/ui/State.h"

namespace platform::app {

class ActivityViewController : public ViewController, public ui::ObservableObject {
 public:
  ActivityViewController(std::vector<Value> activityItems,
                         std::vector<ObjectPtr> applicationActivities);
  std::string className() const override;

  const std::vector<Value>& activityItems() const { return items_; }
  const std::vector<ObjectPtr>& applicationActivities() const { return activities_; }

  ui::View body() override;

  // The three actions, as the sheet's buttons run them. Open and Cancel close the sheet.
  void openItems();
  // Copies each file not copied yet; returns the files written. Closes the sheet when every file
  // is copied, else leaves it up saying which were not and why (copyFailures()).
  std::vector<std::filesystem::path> saveCopies();
  void cancel();
  // One line per file whose copy failed at the last try: its name and the reason.
  const std::vector<std::string>& copyFailures() const { return copyFailures_; }

  // $XDG_DOWNLOAD_DIR, else ~/Downloads.
  static std::filesystem::path downloadsDirectory();

 private:
  ui::View sheetContent();

  std::vector<Value> items_;
  std::vector<ObjectPtr> activities_;
  std::vector<bool> copied_;  // by item: a copy was written into the downloads folder
  std::vector<std::string> copyFailures_;
};

}  // namespace platform::app
