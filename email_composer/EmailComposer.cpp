#include "email_composer/EmailComposer.h"

#include "platform/app/MailComposeController.h"

using namespace platform::ui;

View EmailComposer::sheetContent() const {
  if (!platform::app::MailComposeController::canSendMail()) {
    return deviceCannotSendEmailsView.body();
  }
  EmailComposerResultHandler handler = result;
  return EmailComposerView{
      .presentationMode = {},
      .emailData = emailData.value_or(EmailData()),
      .result =
          [handler](const EmailComposerOutcome& outcome) {
            if (handler) handler(outcome);
          },
  };
}

View EmailComposer::body(View content) const {
  const EmailComposer composer = *this;
  return content.sheet(isPresented, onDismiss, [composer] { return composer.sheetContent(); });
}

View emailComposer(const View& content, Binding<bool> isPresented,
                   std::optional<EmailData> emailData, std::function<void()> onDismiss,
                   EmailComposerResultHandler result,
                   DeviceCannotSendEmailsView deviceCannotSendEmailsView) {
  return content.modifier(EmailComposer{
      .isPresented = std::move(isPresented),
      .emailData = std::move(emailData),
      .onDismiss = std::move(onDismiss),
      .result = std::move(result),
      .deviceCannotSendEmailsView = std::move(deviceCannotSendEmailsView),
  });
}

View emailComposer(const View& content, Binding<bool> isPresented,
                   std::optional<EmailData> emailData, std::function<void()> onDismiss,
                   EmailComposerResultHandler result) {
  return emailComposer(content, std::move(isPresented), std::move(emailData), std::move(onDismiss),
                       std::move(result), DeviceCannotSendEmailsView([] {
                         return View(DeviceCannotSendEmailsDefaultView{});
                       }));
}
