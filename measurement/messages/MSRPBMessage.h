// The shared body of the 33 message classes (MSRPBEvent, MSRPBMeasurementBundle, ...): each owns
// one MessageInfo exclusively, takes copies in and hands copies out, and encodes itself.
// Not thread-safe: an object is used from one queue at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "measurement/messages/NANOMessageBase.h"

// The codec functions of one message kind (MSRPBCodecs.h).
struct MSRPBCodecFunctions {
  const char* name;
  MSRPBInitFn init;
  MSRPBFreeFieldFn freeField;
  MSRPBCopyFn copy;
  int (*deallocate)(MessageInfo* message);
  int (*decode)(const std::uint8_t* bytes, std::size_t length, MessageInfo* message);
  std::int32_t (*encode)(const MessageInfo* message, std::uint8_t** output);
};

class MSRPBMessage : public NANOMessageBase {
 public:
  ~MSRPBMessage() override;
  MSRPBMessage(const MSRPBMessage&) = delete;
  MSRPBMessage& operator=(const MSRPBMessage&) = delete;

  std::optional<platform::Bytes> protoBuffer() const override;
  const char* messageID() const override { return codec_.name; }
  MessageInfo* messageInfo() const override { return messageInfo_; }
  MSRPBInitFn initMessageInfoFn() const override { return codec_.init; }
  MSRPBFreeFieldFn deallocMessageFieldFn() const override { return codec_.freeField; }
  MSRPBCopyFn copyMessageInfoFn() const override { return codec_.copy; }
  std::string className() const override { return std::string("MSRPB") + codec_.name; }

 protected:
  explicit MSRPBMessage(const MSRPBCodecFunctions& codec) : codec_(codec) {}
  // Null gives an empty message; otherwise a deep copy of a message of the same kind. False when
  // the kind differs or memory ran out.
  bool setUpWithMessageInfo(const MessageInfo* messageInfo);
  // Decodes into a temporary message and keeps a copy; false when the bytes do not decode.
  bool setUpWithBytes(const std::uint8_t* bytes, std::size_t length);

 private:
  const MSRPBCodecFunctions& codec_;
  MessageInfo* messageInfo_ = nullptr;
};

// The factories every class has, typed to the class.
template <class Derived>
class MSRPBMessageClass : public MSRPBMessage {
 public:
  // An empty message for null, else a deep copy of `messageInfo`; null when its kind differs.
  static std::shared_ptr<Derived> initWithMessageInfo(const MessageInfo* messageInfo) {
    std::shared_ptr<Derived> object(new Derived());
    if (!object->setUpWithMessageInfo(messageInfo)) return nullptr;
    return object;
  }
  // An empty message.
  static std::shared_ptr<Derived> message() { return initWithMessageInfo(nullptr); }
  // Decodes `data`; null when it does not decode (the decoder has printed why).
  static std::shared_ptr<Derived> initWithBuffer(const platform::Bytes& data) {
    std::shared_ptr<Derived> object(new Derived());
    if (!object->setUpWithBytes(data.data(), data.size())) return nullptr;
    return object;
  }
  // A nil value decodes as zero bytes (an empty message); a value that is not data gives null.
  static std::shared_ptr<Derived> initWithBuffer(const platform::Value& data) {
    if (data.isNil()) return initWithBuffer(platform::Bytes());
    if (data.bytes() == nullptr) return nullptr;
    return initWithBuffer(*data.bytes());
  }
  // The class as a value, for the accessors that make sub-message objects.
  static NANOMessageClass messageClass() {
    return {Derived::kClassName, [](const MessageInfo* messageInfo) -> NANOMessagePtr {
              return initWithMessageInfo(messageInfo);
            }};
  }

 protected:
  MSRPBMessageClass() : MSRPBMessage(Derived::codec()) {}
};
