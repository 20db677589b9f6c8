// The in-memory form of every measurement message: one pointer slot per field, the type's
// constant flag table and the type's name. Plain data shared by the codecs, the field runtime,
// the accessors by slot and the message classes. Not thread-safe: one owner at a time.
#pragma once

#include <cstdint>

// One word per slot: exactly one type bit, plus optional or repeated.
enum : std::uint32_t {
  MSRPBFieldOptional = 0x2,
  MSRPBFieldRepeated = 0x8,
  MSRPBFieldBool = 0x20,
  MSRPBFieldEnum = 0x40,
  MSRPBFieldInt32 = 0x80,
  MSRPBFieldUInt32 = 0x100,
  MSRPBFieldInt64 = 0x200,
  MSRPBFieldUInt64 = 0x400,
  MSRPBFieldFloat = 0x800,
  MSRPBFieldDouble = 0x1000,
  MSRPBFieldString = 0x2000,
  MSRPBFieldMessage = 0x4000,
  MSRPBFieldBytes = 0x8000,
};

struct MessageInfo {
  // One slot per field in slot order; null when a singular field is absent. Repeated slots always
  // hold an MSRPBRepeatedField.
  void** fields;
  // The type's constant table, shared by every instance; never freed.
  const std::uint32_t* flags;
  // The type's name, e.g. "MeasurementBundle"; identifies the type when instances are compared.
  const char* name;
};

struct MSRPBStringField {
  // Authoritative; bytes set through MSRPBSetString carry one extra zero byte after it.
  std::uint32_t length;
  std::uint8_t* bytes;
};

struct MSRPBRepeatedField {
  std::uint32_t filled;  // decode cursor only
  std::uint32_t count;
  // `count` pointers to a MessageInfo, an MSRPBStringField or an 8-byte integer cell; null when
  // the field is empty.
  void** elements;
};

// The per-type functions that the message classes hand to the accessors.
using MSRPBInitFn = int (*)(MessageInfo* message);
using MSRPBFreeFieldFn = int (*)(MessageInfo* message, int index);
using MSRPBCopyFn = int (*)(MessageInfo** destination, const MessageInfo* source);
