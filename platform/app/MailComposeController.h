// The mail composer controller: prefilled with subject, "To" recipients, a plain or HTML body and
// attachments (kept in the order added), shown in a sheet whose To, Subject and body fields are
// editable (it is a ui::HostedController, so a
// ViewControllerRepresentable hosts it) with "Cancel", "Save" and "Send". Sending goes through
// MailTransport off the main thread. The delegate is told on the main thread: once when the
// composer finishes (sent, saved or cancelled), and with the error after each send or save that
// failed, which the sheet then shows while the mail stays as typed, to be saved or sent again.
// Main thread only.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/app/MailMessage.h"
#include "platform/app/ViewController.h"
#include "platform/base/Error.h"
#include "platform/ui/View.h"

namespace platform::app {

// The finish results of the composer, with the platform's numbers.
enum class MailComposeResult : long { cancelled = 0, saved = 1, sent = 2, failed = 3 };

class MailComposeController;

class MailComposeControllerDelegate {
 public:
  virtual ~MailComposeControllerDelegate() = default;
  // On the main thread: once with the result that finishes the controller, and before that
  // with `failed` and the error after each failed send or save.
  virtual void mailComposeController(MailComposeController& controller, MailComposeResult result,
                                     ErrorPtr error) = 0;
};

class MailComposeController : public ViewController, public ui::HostedController {
 public:
  MailComposeController();
  std::string className() const override;

  // True when a mail transport is configured (see MailTransport); asked afresh each time.
  static bool canSendMail();

  // Held weakly, as the platform does.
  void setMailComposeDelegate(std::weak_ptr<MailComposeControllerDelegate> delegate);
  void setSubject(std::string subject);
  // nullopt leaves the field empty.
  void setToRecipients(std::optional<std::vector<std::string>> recipients);
  void setMessageBody(std::string body, bool isHTML);
  void addAttachmentData(Bytes data, std::string mimeType, std::string fileName);

  const std::string& subject() const { return message_.subject; }
  const std::vector<std::string>& toRecipients() const { return message_.to; }
  const std::string& messageBody() const { return message_.body; }
  bool isBodyHTML() const { return message_.isBodyHTML; }
  const std::vector<MailAttachment>& attachments() const { return message_.attachments; }
  const MailMessage& message() const { return message_; }

  // The sheet's editable fields ("To" as comma-separated addresses, subject, body) and buttons.
  ui::View body() override;

  // What the fields show and what typing in them writes; edits are ignored once sending or
  // saving has begun.
  std::string recipientsText() const;
  std::string subjectText() const;
  std::string bodyText() const;
  void editRecipients(std::string text);
  void editSubject(std::string text);
  void editBody(std::string text);

  // The buttons' actions. A send or save that succeeds, and cancel, finish the controller; later
  // calls do nothing. One that fails leaves it open. Send and Save work off the main thread and
  // report on the main queue; while they work the buttons and fields do nothing.
  void send();
  void saveDraft();
  void cancel();
  bool isFinished() const { return finished_; }
  // The error of the last send or save, until the next one begins; null when none failed.
  const ErrorPtr& lastError() const { return lastError_; }

 private:
  void finish(MailComposeResult result, ErrorPtr error);
  void runTransport(bool sending);
  void transportEnded(bool sending, bool ok, ErrorPtr error);

  MailMessage message_;
  std::string recipientsText_;  // as typed; message_.to holds the addresses in it
  std::weak_ptr<MailComposeControllerDelegate> delegate_;
  bool finished_ = false;
  bool busy_ = false;
  ErrorPtr lastError_;
  bool lastErrorWasSending_ = false;
};

}  // namespace platform::app
