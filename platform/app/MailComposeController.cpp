#include "platform/app/MailComposeController.h"

#include "platform/app/AppConstants.h"
#include "platform/app/MailTransport.h"
#include "platform/dispatch/DispatchQueue.h"

namespace platform::app {

namespace {

// "a@x.example, b@x.example" as addresses; blanks between commas are no address.
std::vector<std::string> parseRecipients(const std::string& text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t comma = text.find(',', start);
    if (comma == std::string::npos) comma = text.size();
    std::string part = text.substr(start, comma - start);
    auto first = part.find_first_not_of(" \t");
    auto last = part.find_last_not_of(" \t");
    if (first != std::string::npos) out.push_back(part.substr(first, last - first + 1));
    start = comma + 1;
  }
  return out;
}

std::string joinRecipients(const std::vector<std::string>& to) {
  std::string text;
  for (std::size_t i = 0; i < to.size(); ++i) text += (i ? ", " : "") + to[i];
  return text;
}

}  // namespace

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
  recipientsText_ = joinRecipients(message_.to);
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
  std::vector<ui::View> attachmentRows;
  for (const auto& a : message_.attachments) attachmentRows.push_back(ui::Text(a.fileName));
  auto action = [weak](void (MailComposeController::*fn)()) {
    return [weak, fn] {
      if (auto self = weak.lock()) ((*self).*fn)();
    };
  };
  // The fields edit the message itself, so what Send and Save write is what was typed.
  auto field = [weak](std::string (MailComposeController::*get)() const,
                      void (MailComposeController::*set)(std::string)) {
    return ui::Binding<std::string>(
        [weak, get] {
          auto self = weak.lock();
          return self ? ((*self).*get)() : std::string();
        },
        [weak, set](std::string value) {
          if (auto self = weak.lock()) ((*self).*set)(std::move(value));
        });
  };
  const bool idle = !busy_ && !finished_;
  std::vector<ui::View> sections;
  sections.push_back(ui::Section({ui::HStack(
      {ui::Button(kMailCancelTitle, action(&MailComposeController::cancel)).disabled(!idle),
       ui::Spacer(),
       ui::Button(kMailSaveTitle, action(&MailComposeController::saveDraft)).disabled(!idle),
       ui::Button(kMailSendTitle, action(&MailComposeController::send)).disabled(!idle)})}));
  // What went wrong, under the buttons that can try again.
  if (lastError_) {
    std::vector<ui::View> failure = {
        ui::Text(lastErrorWasSending_ ? kMailSendFailedMessage : kMailSaveFailedMessage)
            .foregroundColor(ui::Color::red()),
        ui::Text(lastError_->localizedDescription())};
    auto found = lastError_->userInfo().find(kUnderlyingErrorKey);
    if (found != lastError_->userInfo().end()) {
      if (const Error* underlying = found->second.objectPointer<Error>()) {
        failure.push_back(ui::Text(underlying->localizedDescription())
                              .font(ui::Font::footnote())
                              .foregroundColor(ui::Color::gray()));
      }
    }
    sections.push_back(ui::Section(std::move(failure)));
  }
  sections.push_back(
      ui::Section({ui::HStack({ui::Text(kMailToLabel),
                               ui::TextField("", field(&MailComposeController::recipientsText,
                                                       &MailComposeController::editRecipients))
                                   .disabled(!idle)}),
                   ui::HStack({ui::Text(kMailSubjectLabel),
                               ui::TextField("", field(&MailComposeController::subjectText,
                                                       &MailComposeController::editSubject))
                                   .disabled(!idle)})}));
  sections.push_back(ui::Section(
      {ui::TextEditor(field(&MailComposeController::bodyText, &MailComposeController::editBody))
           .disabled(!idle)}));
  sections.push_back(ui::Section(std::move(attachmentRows)));
  return ui::Form(std::move(sections));
}

std::string MailComposeController::recipientsText() const { return recipientsText_; }
std::string MailComposeController::subjectText() const { return message_.subject; }
std::string MailComposeController::bodyText() const { return message_.body; }

void MailComposeController::editRecipients(std::string text) {
  if (busy_ || finished_) return;
  objectWillChange();
  message_.to = parseRecipients(text);
  recipientsText_ = std::move(text);
}

void MailComposeController::editSubject(std::string text) {
  if (busy_ || finished_) return;
  objectWillChange();
  message_.subject = std::move(text);
}

void MailComposeController::editBody(std::string text) {
  if (busy_ || finished_) return;
  objectWillChange();
  message_.body = std::move(text);
}

// The work runs off the main thread and reports on the main queue. A controller that no shared
// pointer owns cannot be reached from there, so it does the work at once instead.
void MailComposeController::runTransport(bool sending) {
  if (finished_ || busy_) return;
  auto strong =
      std::static_pointer_cast<MailComposeController>(ViewController::weak_from_this().lock());
  objectWillChange();
  lastError_ = nullptr;
  if (!strong) {
    ErrorPtr error;
    const bool ok = sending ? MailTransport::send(message_, &error)
                            : MailTransport::saveDraft(message_, &error);
    transportEnded(sending, ok, std::move(error));
    return;
  }
  busy_ = true;
  std::weak_ptr<MailComposeController> weak = strong;
  DispatchQueue::global(QualityOfService::UserInitiated)
      ->async([weak, sending, message = message_] {
        ErrorPtr error;
        const bool ok = sending ? MailTransport::send(message, &error)
                                : MailTransport::saveDraft(message, &error);
        DispatchQueue::main()->async([weak, sending, ok, error] {
          if (auto self = weak.lock()) self->transportEnded(sending, ok, error);
        });
      });
}

// A failure leaves the mail as it was typed, says why in the sheet and lets the person save it,
// send it again or cancel; the delegate hears of it with the error, which keeps the sheet up.
void MailComposeController::transportEnded(bool sending, bool ok, ErrorPtr error) {
  if (finished_) return;
  if (ok) {
    finish(sending ? MailComposeResult::sent : MailComposeResult::saved, nullptr);
    return;
  }
  if (!error) {
    error = Error::withDescription(kMailErrorDomain,
                                   sending ? kMailSendFailedError : kMailSaveFailedError,
                                   sending ? kMailSendFailedMessage : kMailSaveFailedMessage);
  }
  objectWillChange();
  busy_ = false;
  lastError_ = error;
  lastErrorWasSending_ = sending;
  if (auto delegate = delegate_.lock()) {
    delegate->mailComposeController(*this, MailComposeResult::failed, std::move(error));
  }
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
