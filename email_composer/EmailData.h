// The mail a composer is prefilled with: subject, "To" recipients, body (plain or HTML) and
// attachments in the order they are added. A plain value; copy it freely, any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct EmailData {
  struct AttachmentData {
    AttachmentData(std::vector<std::uint8_t> data, std::string mimeType, std::string fileName)
        : data(std::move(data)), mimeType(std::move(mimeType)), fileName(std::move(fileName)) {}

    std::vector<std::uint8_t> data;
    // Handed to the composer unchanged.
    std::string mimeType;
    // The name shown in the mail.
    std::string fileName;
  };

  // All defaults give the empty mail, which a composer shows when it is given none.
  EmailData(std::string subject = "", std::optional<std::vector<std::string>> recipients = {},
            std::string body = "", bool isBodyHTML = false,
            std::vector<AttachmentData> attachments = {})
      : subject(std::move(subject)),
        recipients(std::move(recipients)),
        body(std::move(body)),
        isBodyHTML(isBodyHTML),
        attachments(std::move(attachments)) {}

  // Always handed to the composer, an empty one included.
  std::string subject;
  // Absent leaves the "To" field unset.
  std::optional<std::vector<std::string>> recipients;
  std::string body;
  bool isBodyHTML;
  std::vector<AttachmentData> attachments;
};
