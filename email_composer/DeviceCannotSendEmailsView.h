// What the mail sheet shows in place of the composer when no mail can be sent: a caller's view
// kept as `content`. Values; built and shown on the main thread.
#pragma once

#include <functional>

#include "platform/ui/View.h"

class DeviceCannotSendEmailsView {
 public:
  // Calls `content` once and keeps the view it returns; the closure is not kept.
  explicit DeviceCannotSendEmailsView(const std::function<platform::ui::View()>& content)
      : content_(content ? content() : platform::ui::EmptyView()) {}

  const platform::ui::View& content() const { return content_; }
  platform::ui::View body() const { return content_; }

 private:
  platform::ui::View content_;
};

// The package's own fallback: "Unable to send emails from this device." above a "Dismiss"
// button that closes the sheet showing it.
struct DeviceCannotSendEmailsDefaultView {
  platform::ui::View body() const;
};
