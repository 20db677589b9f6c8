// Presents the mail composer from any view: raise the bound flag and a sheet shows the composer
// prefilled from an EmailData, or a fallback view when no mail can be sent. The caller's handler
// hears how the composer ended (before the sheet's onDismiss runs). Main thread only.
//
//   auto showMail = state(false);
//   return emailComposer(Button("Contact Us", [showMail] { showMail.set(true); }),
//                        showMail.binding(), EmailData("Hello", {{"a@b.example"}}), [] {},
//                        [](const EmailComposerOutcome& outcome) { ... });
#pragma once

#include <functional>
#include <optional>

#include "email_composer/DeviceCannotSendEmailsView.h"
#include "email_composer/EmailComposerResult.h"
#include "email_composer/EmailComposerView.h"
#include "email_composer/EmailData.h"
#include "platform/ui/State.h"
#include "platform/ui/View.h"

struct EmailComposer {
  platform::ui::Binding<bool> isPresented;
  // Absent: the empty mail.
  std::optional<EmailData> emailData;
  // The sheet's dismiss action; runs after the sheet is gone, whatever closed it.
  std::function<void()> onDismiss;
  // Absent: outcomes are dropped.
  EmailComposerResultHandler result;
  DeviceCannotSendEmailsView deviceCannotSendEmailsView;

  platform::ui::View body(platform::ui::View content) const;
  // What the sheet shows: the composer while mail can be sent, else the fallback.
  platform::ui::View sheetContent() const;
};

// `content` with an EmailComposer attached, using the caller's fallback.
platform::ui::View emailComposer(const platform::ui::View& content,
                                 platform::ui::Binding<bool> isPresented,
                                 std::optional<EmailData> emailData,
                                 std::function<void()> onDismiss, EmailComposerResultHandler result,
                                 DeviceCannotSendEmailsView deviceCannotSendEmailsView);
// The same with the package's DeviceCannotSendEmailsDefaultView as the fallback.
platform::ui::View emailComposer(const platform::ui::View& content,
                                 platform::ui::Binding<bool> isPresented,
                                 std::optional<EmailData> emailData,
                                 std::function<void()> onDismiss,
                                 EmailComposerResultHandler result);
