#include "platform/app/MailComposeController.h"

#include "platform/app/AppConstants.h"
#include "platform/app/MailTransport.h"
#include "platform/dispatch/DispatchQueue.h"

namespace platform::app {

MailComposeController::MailComposeController() = default;

std::string MailComposeController::className() const { return kMailComposeControllerClassName; }

bool MailComposeController::canSendMail() { return MailTransport::canSendMail(); }

void MailComposeController::setMailComposeDelegate(
    std::weak_ptr<MailComposeControllerDelegate> delegate) {
  delegate_ = std::move(delegate);
}

void MailComposeController::setSubject(std::string subject) {
  objectWillChange();
  message_.subject = std::move(subject);
}

void MailComposeController::setToRecipients(std::optional<std::vector<std::string>> recipients) {
  objectWillChange();
  message_.to = recipients ? std::move(*recipients) : std::vector<std::string>{};
}

void MailComposeController::setMessageBody(std::string body, bool isHTML) {
  objectWillChange();
  message_.body = std::move(body);
  message_.isBodyHTML = isHTML;
}

void MailComposeController::addAttachmentData(Bytes data, std::string mimeType,
                                              std::string fileName) {
  objectWillChange();
  message_.attachments.push_back({std::move(data), std::move(mimeType), std::move(fileName)});
}

ui::View MailComposeController::body() {
  std::weak_ptr<MailComposeController> weak =
      std::static_pointer_cast<MailComposeController>(ViewController::weak_from_this().lock());
  std::string to;
  for (std::size_t i = 0; i < message_.to.size(); ++i) to += (i ? ", " : "") + message_.to[i];
  std::vector<ui::View> attachmentRows;
  for (const auto& a : message_.attachments) attachmentRows.push_back(ui::Text(a.fileName));
  auto action = [weak](void (MailComposeController::*fn)()) {
    return [weak, fn] {
      if (auto self = weak.lock()) ((*self).*fn)();
    };
  };
  const bool idle = !busy_ && !finished_;
  return ui::Form({
      ui::Section({ui::HStack(
          {ui::Button(kMailCancelTitle, action(&MailComposeController::cancel)).disabled(!idle),
           ui::Spacer(),
           ui::Button(kMailSaveTitle, action(&MailComposeController::saveDraft)).disabled(!idle),
           ui::Button(kMailSendTitle, action(&MailComposeController::send)).disabled(!idle)})}),
      ui::Section(
          {ui::HStack({ui::Text(kMailToLabel), ui::Text(to), ui::Spacer()}),
           ui::HStack({ui::Text(kMailSubjectLabel), ui::Text(message_.subject), ui::Spacer()})}),
      ui::Section({ui::Text(message_.body)}),
      ui::Section(std::move(attachmentRows)),
  });
}

// The work runs off the main thread and reports on the main queue. A controller that no shared
// pointer owns cannot be reached from there, so it does the work at once instead.
void MailComposeController::runTransport(bool sending) {
  if (finished_ || busy_) return;
  auto strong =
      std::static_pointer_cast<MailComposeController>(ViewController::weak_from_this().lock());
  const MailComposeResult success = sending ? MailComposeResult::sent : MailComposeResult::saved;
  if (!strong) {
    ErrorPtr error;
    const bool ok = sending ? MailTransport::send(message_, &error)
                            : MailTransport::saveDraft(message_, &error);
    finish(ok ? success : MailComposeResult::failed, ok ? nullptr : error);
    return;
  }
  objectWillChange();
  busy_ = true;
  std::weak_ptr<MailComposeController> weak = strong;
  DispatchQueue::global(QualityOfService::UserInitiated)
      ->async([weak, sending, success, message = message_] {
        ErrorPtr error;
        const bool ok = sending ? MailTransport::send(message, &error)
                                : MailTransport::saveDraft(message, &error);
        DispatchQueue::main()->async([weak, ok, success, error] {
          if (auto self = weak.lock()) {
            self->finish(ok ? success : MailComposeResult::failed, ok ? nullptr : error);
          }
        });
      });
}

void MailComposeController::send() { runTransport(true); }

void MailComposeController::saveDraft() { runTransport(false); }

void MailComposeController::cancel() {
  if (finished_ || busy_) return;
  finish(MailComposeResult::cancelled, nullptr);
}

void MailComposeController::finish(MailComposeResult result, ErrorPtr error) {
  if (finished_) return;
  objectWillChange();
  finished_ = true;
  busy_ = false;
  if (auto delegate = delegate_.lock()) {
    delegate->mailComposeController(*this, result, std::move(error));
  }
}

}  // namespace platform::app
