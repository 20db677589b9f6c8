// The schema of the measurement messages as the codecs walk it: per type its name, slots, flag
// table, wire tags and nanopb descriptor. Constant tables; safe to read from any thread.
#pragma once

#include <pb.h>

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "measurement/messages/MSRPBMessageInfo.h"

struct MSRPBMessageType;

struct MSRPBFieldInfo {
  std::uint32_t tag;
  const char* name;
  std::uint32_t flags;
  const MSRPBMessageType* messageType;  // sub-message or element type; null for other kinds
};

struct MSRPBMessageType {
  const char* name;
  std::uint32_t fieldCount;
  const MSRPBFieldInfo* fields;  // slot order
  const std::uint32_t* flags;    // the constant table every MessageInfo of the type points to
  const pb_msgdesc_t* descriptor;
  std::size_t structSize;  // size of the nanopb structure
};

// Every message type, in name order.
const std::vector<const MSRPBMessageType*>& MSRPBAllMessageTypes();
// The type of that name, or null.
const MSRPBMessageType* MSRPBMessageTypeNamed(std::string_view name);

// The codec family, written once over the schema; the per-type functions of MSRPBCodecs.h call
// these with their type.
int MSRPBMessageInit(const MSRPBMessageType& type, MessageInfo* message);
int MSRPBMessageFreeField(const MSRPBMessageType& type, MessageInfo* message, int index);
int MSRPBMessageDeallocate(const MSRPBMessageType& type, MessageInfo* message);
int MSRPBMessageCopy(const MSRPBMessageType& type, MessageInfo** destination,
                     const MessageInfo* source);
int MSRPBMessageDecode(const MSRPBMessageType& type, const std::uint8_t* bytes, std::size_t length,
                       MessageInfo* message);
std::int32_t MSRPBMessageEncode(const MSRPBMessageType& type, const MessageInfo* message,
                                std::uint8_t** output);
