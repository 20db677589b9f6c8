// The hosted mail composer: makes the mail controller prefilled from an EmailData when the sheet
// first shows it, and a coordinator that receives the controller's finish call and reports it as
// an EmailComposerOutcome before closing the sheet. Main thread only.
#pragma once

#include <memory>

#include "email_composer/EmailComposerResult.h"
#include "email_composer/EmailData.h"
#include "platform/app/MailComposeController.h"
#include "platform/base/Value.h"
#include "platform/ui/State.h"
#include "platform/ui/View.h"

struct EmailComposerView {
  class Coordinator;

  // The presentation of the sheet showing the composer; filled from the environment by body().
  platform::ui::PresentationMode presentationMode;
  EmailData emailData;
  EmailComposerResultHandler result;

  std::shared_ptr<Coordinator> makeCoordinator() const;
  // A new controller prefilled from `emailData`, with `coordinator` as its delegate. When mail
  // can no longer be sent, `result` is told deviceCannotSendEmails; the controller is returned
  // all the same.
  std::shared_ptr<platform::app::MailComposeController> makeUIViewController(
      const std::shared_ptr<Coordinator>& coordinator) const;

  platform::ui::View body() const;
};

// The mail controller's delegate. It keeps the copy of the view it was made with, so a later
// change of the caller's mail or handler does not reach an open composer.
class EmailComposerView::Coordinator : public platform::Object,
                                       public platform::app::MailComposeControllerDelegate {
 public:
  explicit Coordinator(EmailComposerView parent) : parent(std::move(parent)) {}
  std::string className() const override { return "EmailComposerView.Coordinator"; }

  // An error is passed on unchanged and leaves the sheet up. Otherwise the result is reported
  // and then the sheet is closed; a result outside the four known ones is reported as failed.
  void mailComposeController(platform::app::MailComposeController& controller,
                             platform::app::MailComposeResult result,
                             platform::ErrorPtr error) override;

  EmailComposerView parent;
};
