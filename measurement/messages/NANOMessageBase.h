// What every measurement message class offers: its owned MessageInfo, its message name and the
// codec functions of its kind, through which the accessors by slot read and write fields.
// Not thread-safe: an object is used from one queue at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "measurement/messages/MSRPBMessageInfo.h"
#include "platform/base/Value.h"

class NANOMessageBase;

// A message class as a value: its name and its copying initialiser. A null initialiser stands
// for a class whose instances cannot be made from a MessageInfo.
struct NANOMessageClass {
  const char* className = nullptr;
  std::shared_ptr<NANOMessageBase> (*initWithMessageInfo)(const MessageInfo* messageInfo) = nullptr;
};

class NANOMessageBase : public platform::Object {
 public:
  // The encoding, or nullopt when encoding failed or the object holds no message.
  virtual std::optional<platform::Bytes> protoBuffer() const = 0;
  // The message name, equal to the `name` of the MessageInfo.
  virtual const char* messageID() const = 0;
  // The owned message, or null.
  virtual MessageInfo* messageInfo() const = 0;
  virtual MSRPBInitFn initMessageInfoFn() const = 0;
  virtual MSRPBFreeFieldFn deallocMessageFieldFn() const = 0;
  virtual MSRPBCopyFn copyMessageInfoFn() const = 0;
};
using NANOMessagePtr = std::shared_ptr<NANOMessageBase>;
