// How mail leaves the app: an outbox folder named by the launch argument "-MailOutboxDirectory
// <dir>" (each message one new .eml file, never overwriting) or, without one, `sendmail -t -i`
// found on PATH and fed the message through a pipe by argv. Drafts go to "Mail Drafts" under
// Application Support. Both are looked up afresh on each call, so canSendMail follows changes
// while the app runs. Thread-safe; send and saveDraft block until done, so call them off the
// main thread.
#pragma once

#include <filesystem>
#include <optional>

#include "platform/app/MailMessage.h"
#include "platform/base/Error.h"

namespace platform::app {

class MailTransport {
 public:
  static bool canSendMail();
  static std::optional<std::filesystem::path> outboxDirectory();
  static std::optional<std::filesystem::path> sendmailPath();

  // Renders the message (dated by Clock::current()) and sends it. On success *written, when
  // given, is the outbox file (empty when sendmail took it).
  static bool send(const MailMessage& message, ErrorPtr* error,
                   std::filesystem::path* written = nullptr);
  static bool saveDraft(const MailMessage& message, ErrorPtr* error,
                        std::filesystem::path* written = nullptr);
  static std::filesystem::path draftsDirectory();
};

// Writes `bytes` into `directory` under `preferredName`, or "<stem> 2<ext>", "<stem> 3<ext>"...
// when that name is taken: an existing file is never replaced. Returns the path written.
std::optional<std::filesystem::path> writeNewFile(const std::filesystem::path& directory,
                                                  const std::string& preferredName,
                                                  const std::string& bytes, ErrorPtr* error);

}  // namespace platform::app
