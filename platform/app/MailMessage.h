// A mail message and its RFC 5322 form: headers, a text body (plain or HTML) and, when there are
// attachments, a MIME multipart/mixed body with each attachment base64-encoded in list order.
// Header values never carry line breaks, so no field can inject another header.
// A plain value; rendering is a pure function and thread-safe.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/base/Error.h"
#include "platform/base/Value.h"

namespace platform::app {

struct MailAttachment {
  Bytes data;
  std::string mimeType;
  std::string fileName;
};

struct MailMessage {
  std::string from;             // empty: the user at this host
  std::vector<std::string> to;  // addresses of the "To" field
  std::string subject;
  std::string body;
  bool isBodyHTML = false;
  std::vector<MailAttachment> attachments;

  // The message with CRLF line ends. `date` is seconds since 1970 (written in UTC), `messageId`
  // the text between "<" and ">" (made up when empty). Fails with kMailInvalidMessageError when
  // an address holds a control character, "<", ">" or ",".
  std::optional<std::string> render(double date, const std::string& messageId,
                                    ErrorPtr* error) const;
};

// Helpers of the encoding, exposed for tests.
std::string base64Encode(const Bytes& bytes, std::size_t lineLength = 76);
std::optional<Bytes> base64Decode(const std::string& text);  // ignores CR, LF and blanks
std::string quotedPrintableEncode(const std::string& text);  // LF and CRLF become CRLF
std::string encodeHeaderWord(const std::string& text);       // RFC 2047 when not plain ASCII
std::string rfc5322Date(double secondsSince1970);            // "Mon, 07 Dec 2026 04:16:53 +0000"

}  // namespace platform::app
