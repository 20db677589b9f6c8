#include "platform/app/MailMessage.h"

#include <gtest/gtest.h>

#include "platform/app/AppConstants.h"

namespace platform::app {
namespace {

// The text between the header block and the first blank line, split into header lines.
std::vector<std::string> headerLines(const std::string& message) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (;;) {
    const auto end = message.find("\r\n", start);
    if (end == std::string::npos || end == start) break;
    lines.push_back(message.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

std::string header(const std::string& message, const std::string& name) {
  for (const auto& line : headerLines(message)) {
    if (line.rfind(name + ": ", 0) == 0) return line.substr(name.size() + 2);
  }
  return "<absent>";
}

TEST(MailMessageTest, PlainMessageHasTheHeadersAndAQuotedPrintableBody) {
  MailMessage message;
  message.from = "me@example.org";
  message.to = {"support@tavo.example", "second@tavo.example"};
  message.subject = "Tavo Vastrow Soundboard Contact Us";
  message.body = "Person (e.g. Tavo Vastrow) : \n\n Note = yes ";
  auto text = message.render(1796012213, "abc@host", nullptr);
  ASSERT_TRUE(text);
  EXPECT_EQ(header(*text, "Date"), "Mon, 30 Nov 2026 04:16:53 +0000");
  EXPECT_EQ(header(*text, "From"), "me@example.org");
  EXPECT_EQ(header(*text, "To"), "support@tavo.example, second@tavo.example");
  EXPECT_EQ(header(*text, "Subject"), "Tavo Vastrow Soundboard Contact Us");
  EXPECT_EQ(header(*text, "Message-ID"), "<abc@host>");
  EXPECT_EQ(header(*text, "MIME-Version"), "1.0");
  EXPECT_EQ(header(*text, "Content-Type"), "text/plain; charset=utf-8");
  EXPECT_EQ(header(*text, "Content-Transfer-Encoding"), "quoted-printable");
  const auto body = text->substr(text->find("\r\n\r\n") + 4);
  EXPECT_EQ(body, "Person (e.g. Tavo Vastrow) :=20\r\n\r\n Note =3D yes=20\r\n");
  // Every line ends in CRLF: no bare line feed anywhere.
  for (std::size_t i = 0; i < text->size(); ++i) {
    if ((*text)[i] == '\n') {
      EXPECT_EQ((*text)[i - 1], '\r') << i;
    }
  }
}

TEST(MailMessageTest, NoRecipientsLeavesOutTheToFieldAndHtmlIsMarked) {
  MailMessage message;
  message.body = "<b>hi</b>";
  message.isBodyHTML = true;
  auto text = message.render(0, "", nullptr);
  ASSERT_TRUE(text);
  EXPECT_EQ(header(*text, "To"), "<absent>");
  EXPECT_EQ(header(*text, "Subject"), "");
  EXPECT_EQ(header(*text, "Content-Type"), "text/html; charset=utf-8");
  EXPECT_NE(header(*text, "Message-ID"), "<absent>");
}

TEST(MailMessageTest, AttachmentsFollowInOrderAsBase64Parts) {
  MailMessage message;
  message.to = {"a@b.c"};
  message.body = "see attached";
  message.attachments = {
      {Bytes{0, 1, 2, 255}, "audio/mpeg", "clip.mp3"},
      {Bytes(200, 'x'), "text/plain", "notes \"v2\".txt"},
      {Bytes{}, "not a type\r\nX-Evil: 1", "l\xC3\xA4nge.bin"},
  };
  auto text = message.render(0, "id@x", nullptr);
  ASSERT_TRUE(text);
  const std::string contentType = header(*text, "Content-Type");
  ASSERT_EQ(contentType.rfind("multipart/mixed; boundary=\"", 0), 0u) << contentType;
  const std::string boundary = contentType.substr(27, contentType.size() - 28);
  std::vector<std::string> parts;
  std::size_t pos = text->find("--" + boundary + "\r\n");
  while (pos != std::string::npos) {
    const auto start = pos + boundary.size() + 4;
    const auto next = text->find("\r\n--" + boundary, start);
    ASSERT_NE(next, std::string::npos);
    parts.push_back(text->substr(start, next - start));
    pos = text->compare(next + 4 + boundary.size(), 2, "--") == 0 ? std::string::npos : next + 2;
  }
  ASSERT_EQ(parts.size(), 4u);
  EXPECT_NE(parts[0].find("text/plain"), std::string::npos);
  struct Expect {
    std::string type, disposition;
    Bytes data;
  };
  const std::vector<Expect> expected = {
      {"audio/mpeg", "attachment; filename=\"clip.mp3\"", Bytes{0, 1, 2, 255}},
      {"text/plain", "attachment; filename=\"notes \\\"v2\\\".txt\"", Bytes(200, 'x')},
      {"application/octet-stream", "attachment; filename*=UTF-8''l%C3%A4nge.bin", Bytes{}},
  };
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(i);
    const auto& part = parts[i + 1];
    EXPECT_EQ(header(part, "Content-Type"), expected[i].type);
    EXPECT_EQ(header(part, "Content-Transfer-Encoding"), "base64");
    EXPECT_EQ(header(part, "Content-Disposition"), expected[i].disposition);
    EXPECT_EQ(base64Decode(part.substr(part.find("\r\n\r\n") + 4)), expected[i].data);
  }
  EXPECT_EQ(text->find("X-Evil"), std::string::npos);
}

TEST(MailMessageTest, HeaderValuesCannotInjectFields) {
  MailMessage message;
  message.subject = "Hello\r\nBcc: victim@example.com";
  auto text = message.render(0, "x@y", nullptr);
  ASSERT_TRUE(text);
  EXPECT_EQ(header(*text, "Bcc"), "<absent>");
  EXPECT_EQ(header(*text, "Subject"), "Hello  Bcc: victim@example.com");

  for (const std::string bad : {"a@b.c\r\nBcc: x@y.z", "a@b.c, x@y.z", "<a@b.c>", ""}) {
    message.to = {bad};
    ErrorPtr error;
    EXPECT_FALSE(message.render(0, "x@y", &error)) << bad;
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->code(), kMailInvalidMessageError);
  }
}

TEST(MailMessageTest, NonAsciiSubjectIsEncodedWithoutSplittingCharacters) {
  const std::string subject =
      "Gr\xC3\xBC\xC3\x9F"
      "e " +
      std::string(60, 'a') + " \xE2\x82\xAC";
  const std::string encoded = encodeHeaderWord(subject);
  std::string decoded;
  std::size_t pos = 0;
  while ((pos = encoded.find("=?UTF-8?B?", pos)) != std::string::npos) {
    const auto end = encoded.find("?=", pos + 10);
    auto bytes = base64Decode(encoded.substr(pos + 10, end - pos - 10));
    ASSERT_TRUE(bytes);
    const std::string piece(bytes->begin(), bytes->end());
    // Each word holds whole characters: it never starts with a continuation byte.
    ASSERT_FALSE(piece.empty());
    EXPECT_NE(static_cast<unsigned char>(piece[0]) & 0xC0, 0x80);
    decoded += piece;
    pos = end;
  }
  EXPECT_EQ(decoded, subject);
  EXPECT_EQ(encodeHeaderWord("plain"), "plain");
}

TEST(MailMessageTest, QuotedPrintableKeepsLinesShort) {
  const std::string encoded = quotedPrintableEncode(std::string(200, 'b') + "\n=");
  std::size_t start = 0;
  while (start < encoded.size()) {
    auto end = encoded.find("\r\n", start);
    if (end == std::string::npos) end = encoded.size();
    EXPECT_LE(end - start, 76u);
    start = end + 2;
  }
  EXPECT_EQ(encoded.substr(encoded.size() - 5), "\r\n=3D");
}

}  // namespace
}  // namespace platform::app
