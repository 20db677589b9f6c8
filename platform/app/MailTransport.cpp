#include "platform/app/MailTransport.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "platform/app/AppConstants.h"
#include "platform/app/LaunchArguments.h"
#include "platform/base/Saturating.h"
#include "platform/app/Spawn.h"
#include "platform/base/Files.h"
#include "platform/dispatch/Clock.h"

namespace platform::app {
namespace {

ErrorPtr mailError(long code, const std::string& text, ErrorPtr underlying = nullptr) {
  Value::Dictionary info{{kLocalizedDescriptionKey, text}};
  if (underlying) info[kUnderlyingErrorKey] = Value(underlying);
  return Error::make(kMailErrorDomain, code, std::move(info));
}

std::string timestampName(double now) {
  const std::time_t t = saturatingCast<std::time_t>(now);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y%m%d-%H%M%S", &tm);
  return buf;
}

bool writeTo(const std::filesystem::path& directory, const std::string& stem,
             const std::string& text, ErrorPtr* error, std::filesystem::path* written) {
  ErrorPtr failure;
  if (!files::createDirectory(directory, true, &failure)) {
    setError(error, mailError(kMailSaveFailedError, "The folder for the message could not be made.",
                              failure));
    return false;
  }
  auto path = writeNewFile(directory, stem + ".eml", text, &failure);
  if (!path) {
    setError(error, mailError(kMailSaveFailedError, "The message could not be written.", failure));
    return false;
  }
  if (written) *written = *path;
  return true;
}

}  // namespace

std::optional<std::filesystem::path> writeNewFile(const std::filesystem::path& directory,
                                                  const std::string& preferredName,
                                                  const std::string& bytes, ErrorPtr* error) {
  const std::filesystem::path preferred(preferredName);
  const std::string stem = preferred.stem().string();
  const std::string ext = preferred.extension().string();
  for (int n = 1; n < 10000; ++n) {
    const auto path = directory / (n == 1 ? preferredName : stem + " " + std::to_string(n) + ext);
    // O_EXCL: the name is ours only if nobody had it, even against a concurrent writer.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      setError(error, Error::withDescription(
                          kFileErrorDomain, kFileWriteUnknownError,
                          "Could not create " + path.string() + ": " + std::strerror(errno)));
      return std::nullopt;
    }
    std::size_t done = 0;
    bool ok = true;
    while (done < bytes.size()) {
      const ssize_t w = ::write(fd, bytes.data() + done, bytes.size() - done);
      if (w < 0) {
        if (errno == EINTR) continue;
        ok = false;
        break;
      }
      done += static_cast<std::size_t>(w);
    }
    ok = ::fsync(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    if (!ok) {
      ::unlink(path.c_str());
      setError(error, Error::withDescription(kFileErrorDomain, kFileWriteUnknownError,
                                             "Could not write " + path.string()));
      return std::nullopt;
    }
    return path;
  }
  setError(error, Error::withDescription(kFileErrorDomain, kFileWriteFileExistsError,
                                         "Every name for " + preferredName + " is taken."));
  return std::nullopt;
}

std::optional<std::filesystem::path> MailTransport::outboxDirectory() {
  auto value = launchArgument(kMailOutboxArgument);
  if (!value || value->empty()) return std::nullopt;
  return std::filesystem::path(*value);
}

std::optional<std::filesystem::path> MailTransport::sendmailPath() {
  if (auto found = findOnPath("sendmail")) return std::filesystem::path(*found);
  return std::nullopt;
}

bool MailTransport::canSendMail() { return outboxDirectory() || sendmailPath(); }

std::filesystem::path MailTransport::draftsDirectory() {
  return SandboxHome::applicationSupport() / kMailDraftsFolder;
}

bool MailTransport::send(const MailMessage& message, ErrorPtr* error,
                         std::filesystem::path* written) {
  const double now = Clock::current().now();
  ErrorPtr failure;
  auto text = message.render(now, "", &failure);
  if (!text) {
    setError(error, failure);
    return false;
  }
  if (auto outbox = outboxDirectory()) {
    return writeTo(*outbox, timestampName(now), *text, error, written);
  }
  auto sendmail = sendmailPath();
  if (!sendmail) {
    setError(error, mailError(kMailNoTransportError, "No mail transport is configured."));
    return false;
  }
  if (message.to.empty()) {
    setError(error, mailError(kMailInvalidMessageError, "The message has no recipient."));
    return false;
  }
  // sendmail wants plain line feeds on its input.
  std::string lf;
  lf.reserve(text->size());
  for (std::size_t i = 0; i < text->size(); ++i) {
    if ((*text)[i] == '\r' && i + 1 < text->size() && (*text)[i + 1] == '\n') continue;
    lf += (*text)[i];
  }
  auto status = runProgram({sendmail->string(), "-t", "-i"}, lf, &failure);
  if (!status || *status != 0) {
    setError(error, mailError(kMailSendFailedError,
                              status ? "sendmail refused the message (exit status " +
                                           std::to_string(*status) + ")."
                                     : "sendmail could not be run.",
                              failure));
    return false;
  }
  if (written) written->clear();
  return true;
}

bool MailTransport::saveDraft(const MailMessage& message, ErrorPtr* error,
                              std::filesystem::path* written) {
  const double now = Clock::current().now();
  ErrorPtr failure;
  auto text = message.render(now, "", &failure);
  if (!text) {
    setError(error, failure);
    return false;
  }
  return writeTo(draftsDirectory(), timestampName(now), *text, error, written);
}

}  // namespace platform::app
