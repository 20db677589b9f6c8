#include "email_composer/EmailComposerView.h"

#include <cstdint>

using platform::app::MailComposeController;
using platform::app::MailComposeResult;
using namespace platform::ui;

void EmailComposerView::Coordinator::mailComposeController(MailComposeController&,
                                                           MailComposeResult result,
                                                           platform::ErrorPtr error) {
  if (error) {
    if (parent.result) parent.result(EmailComposerOutcome::failure(std::move(error)));
    return;
  }
  // Only 0 to 3 are finish results; anything else (4 included, which is not the controller's)
  // is a failure the caller should hear of rather than a crash or a silent close.
  const auto raw = static_cast<std::int64_t>(result);
  const auto converted = raw >= 0 && raw <= 3 ? email_composer::fromRaw(raw)
                                              : std::optional(EmailComposerResult::failed);
  if (parent.result) parent.result(EmailComposerOutcome::success(*converted));
  parent.presentationMode.dismiss();
}

std::shared_ptr<EmailComposerView::Coordinator> EmailComposerView::makeCoordinator() const {
  return std::make_shared<Coordinator>(*this);
}

std::shared_ptr<MailComposeController> EmailComposerView::makeUIViewController(
    const std::shared_ptr<Coordinator>& coordinator) const {
  auto controller = std::make_shared<MailComposeController>();
  controller->setMailComposeDelegate(coordinator);
  controller->setSubject(emailData.subject);
  controller->setToRecipients(emailData.recipients);
  controller->setMessageBody(emailData.body, emailData.isBodyHTML);
  for (const auto& attachment : emailData.attachments) {
    controller->addAttachmentData(attachment.data, attachment.mimeType, attachment.fileName);
  }
  // The transport may have gone since the sheet chose the composer.
  if (!MailComposeController::canSendMail() && result) {
    result(EmailComposerOutcome::success(EmailComposerResult::deviceCannotSendEmails));
  }
  return controller;
}

View EmailComposerView::body() const {
  EmailComposerView view = *this;
  view.presentationMode = environment().presentationMode;
  return ViewControllerRepresentable(
      [view]() -> std::shared_ptr<void> { return view.makeCoordinator(); },
      [view](const RepresentableContext& context) -> std::shared_ptr<HostedController> {
        return view.makeUIViewController(
            std::static_pointer_cast<Coordinator>(context.coordinator));
      },
      // The controller keeps what it was prefilled with.
      [](HostedController&, const RepresentableContext&) {});
}
