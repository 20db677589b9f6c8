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
    : items_(std::move(activityItems)),
      activities_(std::move(applicationActivities)),
      copied_(items_.size(), false) {}

std::string ActivityViewController::className() const { return kActivityViewControllerClassName; }

std::filesystem::path ActivityViewController::downloadsDirectory() {
  if (const char* dir = std::getenv("XDG_DOWNLOAD_DIR"); dir && *dir) return dir;
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home && *home ? home : "/tmp") / "Downloads";
}

ui::View ActivityViewController::body() {
  // Shown through a view that observes the controller, so a failed copy rebuilds the sheet.
  struct Observing {
    std::weak_ptr<ActivityViewController> controller;
    ui::View body() const {
      auto self = ui::observedObject(controller.lock());
      return self ? self->sheetContent() : ui::EmptyView();
    }
  };
  auto self = std::static_pointer_cast<ActivityViewController>(weak_from_this().lock());
  if (!self) return sheetContent();
  return ui::View(Observing{self});
}

ui::View ActivityViewController::sheetContent() {
  std::weak_ptr<ActivityViewController> weak =
      std::static_pointer_cast<ActivityViewController>(weak_from_this().lock());
  std::vector<ui::View> rows;
  for (const auto& item : items_) rows.push_back(ui::Text(itemTitle(item)));
  auto act = [weak](void (ActivityViewController::*action)()) {
    return [weak, action] {
      if (auto self = weak.lock()) ((*self).*action)();
    };
  };
  std::vector<ui::View> sections = {ui::Section(std::move(rows))};
  if (!copyFailures_.empty()) {
    std::vector<ui::View> said;
    for (const auto& line : copyFailures_) {
      said.push_back(ui::Text(line).foregroundColor(ui::Color::red()));
    }
    sections.push_back(ui::Section(std::move(said)));
  }
  sections.push_back(
      ui::Section({ui::Button(kShareOpenTitle, act(&ActivityViewController::openItems)),
                   ui::Button(kShareSaveCopyTitle,
                              [weak] {
                                if (auto self = weak.lock()) self->saveCopies();
                              }),
                   ui::Button(kShareCancelTitle, act(&ActivityViewController::cancel))}));
  return ui::Form(std::move(sections));
}

void ActivityViewController::openItems() {
  for (const auto& item : items_) {
    if (const std::string* url = item.string()) UrlOpener::open(*url);
  }
  dismissSelf();
}

std::vector<std::filesystem::path> ActivityViewController::saveCopies() {
  std::vector<std::filesystem::path> written;
  std::vector<std::string> failures;
  const auto downloads = downloadsDirectory();
  for (std::size_t i = 0; i < items_.size(); ++i) {
    if (copied_[i]) continue;  // already in the downloads folder from an earlier try
    const std::string* url = items_[i].string();
    auto path = url ? pathForFileUrl(*url) : std::nullopt;
    if (!path) continue;
    ErrorPtr error;
    auto bytes = files::readTextFile(*path, &error);
    std::optional<std::filesystem::path> copy;
    if (bytes && files::createDirectory(downloads, true, &error)) {
      copy = writeNewFile(downloads, path->filename().string(), *bytes, &error);
    }
    if (copy) {
      copied_[i] = true;
      written.push_back(*copy);
      continue;
    }
    const std::string reason = error ? error->localizedDescription() : "unreadable";
    std::fprintf(stderr, "Could not save a copy of %s: %s\n", path->string().c_str(),
                 reason.c_str());
    failures.push_back(std::string(kShareSaveCopyFailedMessage) + " " + path->filename().string() +
                       ": " + reason);
  }
  objectWillChange();
  copyFailures_ = std::move(failures);
  // The sheet goes only once every copy is written; otherwise it says what is missing and why.
  if (copyFailures_.empty()) dismissSelf();
  return written;
}

void ActivityViewController::cancel() { dismissSelf(); }

}  // namespace platform::app
