// The measurement messages as storage and the network hand them over: the first byte picks one
// of the 33 message types, the rest is its wire form. What decodes is copied, encoded, and the
// encoding must decode again to the same bytes.
#include <cstdlib>
#include <vector>

#include "fuzz/FuzzTarget.h"
#include "measurement/messages/MSRPBSchema.h"

namespace {

struct Message {
  const MSRPBMessageType& type;
  MessageInfo* info;
  explicit Message(const MSRPBMessageType& t)
      : type(t), info(static_cast<MessageInfo*>(std::calloc(1, sizeof(MessageInfo)))) {
    MSRPBMessageInit(type, info);
  }
  ~Message() {
    if (info) MSRPBMessageDeallocate(type, info);
  }
};

std::vector<std::uint8_t> encode(const MSRPBMessageType& type, const MessageInfo* info) {
  std::uint8_t* out = nullptr;
  std::int32_t length = MSRPBMessageEncode(type, info, &out);
  std::vector<std::uint8_t> bytes;
  if (length > 0 && out) bytes.assign(out, out + length);
  std::free(out);
  fuzz::require(length >= 0, "a decoded message encodes");
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto& types = MSRPBAllMessageTypes();
  if (size == 0) return 0;
  const MSRPBMessageType& type = *types[data[0] % types.size()];
  Message decoded(type);
  if (MSRPBMessageDecode(type, data + 1, size - 1, decoded.info) != 1) return 0;
  std::vector<std::uint8_t> wire = encode(type, decoded.info);

  MessageInfo* copy = nullptr;
  fuzz::require(MSRPBMessageCopy(type, &copy, decoded.info) == 1, "a decoded message copies");
  fuzz::require(encode(type, copy) == wire, "a copy encodes as the original");
  MSRPBMessageDeallocate(type, copy);

  Message again(type);
  fuzz::require(MSRPBMessageDecode(type, wire.data(), wire.size(), again.info) == 1,
                "an encoded message decodes");
  fuzz::require(encode(type, again.info) == wire, "encoding is stable");
  return 0;
}
