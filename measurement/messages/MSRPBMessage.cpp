#include "measurement/messages/MSRPBMessage.h"

#include <cstdlib>
#include <cstring>

MSRPBMessage::~MSRPBMessage() {
  if (messageInfo_ != nullptr) {
    codec_.deallocate(messageInfo_);
    messageInfo_ = nullptr;
  }
}

bool MSRPBMessage::setUpWithMessageInfo(const MessageInfo* messageInfo) {
  if (messageInfo == nullptr) {
    messageInfo_ = static_cast<MessageInfo*>(std::calloc(1, sizeof(MessageInfo)));
    if (messageInfo_ == nullptr) return false;
    if (!codec_.init(messageInfo_)) {
      codec_.deallocate(messageInfo_);
      messageInfo_ = nullptr;
      return false;
    }
    return true;
  }
  if (messageInfo->name == nullptr || std::strcmp(messageInfo->name, codec_.name) != 0) {
    return false;
  }
  if (!codec_.copy(&messageInfo_, messageInfo)) {
    // A partial copy is discarded whole.
    if (messageInfo_ != nullptr) codec_.deallocate(messageInfo_);
    messageInfo_ = nullptr;
    return false;
  }
  return true;
}

bool MSRPBMessage::setUpWithBytes(const std::uint8_t* bytes, std::size_t length) {
  auto* decoded = static_cast<MessageInfo*>(std::calloc(1, sizeof(MessageInfo)));
  if (decoded == nullptr) return false;
  if (!codec_.init(decoded) || !codec_.decode(bytes, length, decoded)) {
    codec_.deallocate(decoded);
    return false;
  }
  // The decoded tree is complete and of this class: it is kept as it is rather than copied.
  if (messageInfo_ != nullptr) codec_.deallocate(messageInfo_);
  messageInfo_ = decoded;
  return true;
}

std::optional<platform::Bytes> MSRPBMessage::protoBuffer() const {
  if (messageInfo_ == nullptr) return std::nullopt;
  std::uint8_t* output = nullptr;
  const std::int32_t length = codec_.encode(messageInfo_, &output);
  if (length < 0 || output == nullptr) {
    std::free(output);
    return std::nullopt;
  }
  platform::Bytes bytes(output, output + length);
  std::free(output);
  return bytes;
}
