#include "platform/app/ActivityViewController.h"

#include <cstdlib>

#include "platform/app/AppConstants.h"
#include "platform/app/MailTransport.h"
#include "platform/app/UrlOpener.h"
#include "platform/base/Bundle.h"
#include "platform/base/Files.h"

namespace platform::app {
namespace {

std::string itemTitle(const Value& item) {
  if (const std::string* s = item.string()) {
    if (auto path = pathForFileUrl(*s)) return path->filename().string();
    return *s;
  }
  return item.description();
}

}  // namespace

ActivityViewController::ActivityViewController(std::vector<Value> activityItems,
                                               std::vector<ObjectPtr> applicationActivities)
    : items_(std::move(activityItems)), activities_(std::move(applicationActivities)) {}

std::string ActivityViewController::className() const { return kActivityViewControllerClassName; }

std::filesystem::path ActivityViewController::downloadsDirectory() {
  if (const char* dir = std::getenv("XDG_DOWNLOAD_DIR"); dir && *dir) return dir;
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home && *home ? home : "/tmp") / "Downloads";
}

ui::View ActivityViewController::body() {
  std::weak_ptr<ActivityViewController> weak =
      std::static_pointer_cast<ActivityViewController>(weak_from_this().lock());
  std::vector<ui::View> rows;
  for (const auto& item : items_) rows.push_back(ui::Text(itemTitle(item)));
  auto act = [weak](void (ActivityViewController::*action)()) {
    return [weak, action] {
      if (auto self = weak.lock()) ((*self).*action)();
    };
  };
  return ui::Form(
      {ui::Section(std::move(rows)),
       ui::Section({ui::Button(kShareOpenTitle, act(&ActivityViewController::openItems)),
                    ui::Button(kShareSaveCopyTitle,
                               [weak] {
                                 if (auto self = weak.lock()) self->saveCopies();
                               }),
                    ui::Button(kShareCancelTitle, act(&ActivityViewController::cancel))})});
}

void ActivityViewController::openItems() {
  for (const auto& item : items_) {
    if (const std::string* url = item.string()) UrlOpener::open(*url);
  }
  dismissSelf();
}

std::vector<std::filesystem::path> ActivityViewController::saveCopies() {
  std::vector<std::filesystem::path> written;
  const auto downloads = downloadsDirectory();
  for (const auto& item : items_) {
    const std::string* url = item.string();
    auto path = url ? pathForFileUrl(*url) : std::nullopt;
    if (!path) continue;
    ErrorPtr error;
    auto bytes = files::readTextFile(*path, &error);
    if (!bytes || !files::createDirectory(downloads, true, &error)) {
      std::fprintf(stderr, "Could not save a copy of %s: %s\n", path->string().c_str(),
                   error ? error->localizedDescription().c_str() : "unreadable");
      continue;
    }
    if (auto copy = writeNewFile(downloads, path->filename().string(), *bytes, &error)) {
      written.push_back(*copy);
    } else {
      std::fprintf(stderr, "Could not save a copy of %s: %s\n", path->string().c_str(),
                   error ? error->localizedDescription().c_str() : "");
    }
  }
  dismissSelf();
  return written;
}

void ActivityViewController::cancel() { dismissSelf(); }

}  // namespace platform::app
