// The codec family, written once over the schema tables and nanopb's field iterator: the same
// generic walk serves all 33 messages, so every type behaves identically by construction.
#include "measurement/messages/MSRPBCodecs.h"

#include <pb_common.h>
#include <pb_decode.h>
#include <pb_encode.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <unordered_map>
#include <vector>

#include "measurement/messages/MSRPBConstants.h"
#include "measurement/messages/MSRPBFieldRuntime.h"
#include "measurement/messages/MSRPBSchema.h"

namespace {

// Decode nesting of the current thread; the self-containing messages recurse through Decode.
thread_local int decodeDepth = 0;

// While an outermost Encode runs, the encoding of every repeated sub-message element it has
// written. nanopb sizes a message before writing it, so without this each nesting level would
// encode its children twice, doubling the work per level.
thread_local std::unordered_map<const MessageInfo*, std::vector<std::uint8_t>>* encodeCache =
    nullptr;

int slotForTag(const MSRPBMessageType& type, std::uint32_t tag) {
  for (std::uint32_t i = 0; i < type.fieldCount; ++i) {
    if (type.fields[i].tag == tag) return static_cast<int>(i);
  }
  return -1;
}

const MSRPBMessageType* typeForDescriptor(const pb_msgdesc_t* descriptor) {
  static const auto* const byDescriptor = [] {
    auto* table = new std::unordered_map<const pb_msgdesc_t*, const MSRPBMessageType*>();
    for (const MSRPBMessageType* type : MSRPBAllMessageTypes()) {
      table->emplace(type->descriptor, type);
    }
    return table;
  }();
  const auto found = byDescriptor->find(descriptor);
  return found == byDescriptor->end() ? nullptr : found->second;
}

const char* elementName(const pb_field_t* field) {
  const MSRPBMessageType* type = field ? typeForDescriptor(field->submsg_desc) : nullptr;
  return type ? type->name : "(unknown)";
}

bool needsTwoPasses(const MSRPBMessageType& type) {
  for (std::uint32_t i = 0; i < type.fieldCount; ++i) {
    const MSRPBFieldInfo& field = type.fields[i];
    if (field.flags & MSRPBFieldRepeated) return true;
    if ((field.flags & MSRPBFieldMessage) && needsTwoPasses(*field.messageType)) return true;
  }
  return false;
}

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
using Structure = std::unique_ptr<void, FreeDeleter>;

Structure newStructure(const MSRPBMessageType& type) {
  return Structure(std::calloc(1, type.structSize));
}

bool decodeRepeatedMessage(pb_istream_t* stream, const pb_field_t* field, void** arg);
bool encodeRepeatedMessage(pb_ostream_t* stream, const pb_field_t* field, void* const* arg);

// Points every callback field of `structure` at its slot, and types a fresh sub-message for each
// singular sub-message, recursively, so one nanopb pass fills the whole tree.
bool setDecoders(const MSRPBMessageType& type, MessageInfo* message, void* structure) {
  if (message == nullptr || message->fields == nullptr || structure == nullptr) return false;
  pb_field_iter_t it;
  if (!pb_field_iter_begin(&it, type.descriptor, structure)) return true;
  do {
    const int slot = slotForTag(type, it.tag);
    if (slot < 0) return false;
    const MSRPBFieldInfo& fieldInfo = type.fields[slot];
    void** slotAddress = &message->fields[slot];
    if (fieldInfo.flags & MSRPBFieldRepeated) {
      auto* holder = static_cast<MSRPBRepeatedField*>(*slotAddress);
      if (holder == nullptr) return false;
      MSRPBMessageFreeField(type, message, slot);
      auto* callback = static_cast<pb_callback_t*>(it.pData);
      if (fieldInfo.flags & MSRPBFieldMessage) {
        callback->funcs.decode = decodeRepeatedMessage;
      } else if (fieldInfo.flags & (MSRPBFieldString | MSRPBFieldBytes)) {
        callback->funcs.decode = MSRPBDecodeRepeatedString;
      } else {
        callback->funcs.decode = MSRPBDecodeRepeatedVarint;
      }
      callback->arg = holder;
    } else if (fieldInfo.flags & (MSRPBFieldString | MSRPBFieldBytes)) {
      auto* callback = static_cast<pb_callback_t*>(it.pData);
      callback->funcs.decode = MSRPBDecodeString;
      callback->arg = slotAddress;
    } else if (fieldInfo.flags & MSRPBFieldMessage) {
      MSRPBMessageFreeField(type, message, slot);
      auto* sub = static_cast<MessageInfo*>(std::calloc(1, sizeof(MessageInfo)));
      if (sub == nullptr) return false;
      *slotAddress = sub;
      if (!MSRPBMessageInit(*fieldInfo.messageType, sub)) return false;
      if (!setDecoders(*fieldInfo.messageType, sub, it.pData)) return false;
    }
  } while (pb_field_iter_next(&it));
  return true;
}

// Whether the first pass counted any repeated element anywhere in the tree; without one the
// second pass would only read the same values again.
bool anyElementCounted(const MSRPBMessageType& type, const MessageInfo* message) {
  for (std::uint32_t i = 0; i < type.fieldCount; ++i) {
    const MSRPBFieldInfo& fieldInfo = type.fields[i];
    const void* content = message->fields[i];
    if (fieldInfo.flags & MSRPBFieldRepeated) {
      const auto* holder = static_cast<const MSRPBRepeatedField*>(content);
      if (holder == nullptr || holder->count != 0) return true;
    } else if ((fieldInfo.flags & MSRPBFieldMessage) && content != nullptr) {
      if (anyElementCounted(*fieldInfo.messageType, static_cast<const MessageInfo*>(content))) {
        return true;
      }
    }
  }
  return false;
}

bool allocateArrays(const MSRPBMessageType& type, MessageInfo* message) {
  for (std::uint32_t i = 0; i < type.fieldCount; ++i) {
    const MSRPBFieldInfo& fieldInfo = type.fields[i];
    if (fieldInfo.flags & MSRPBFieldRepeated) {
      auto* holder = static_cast<MSRPBRepeatedField*>(message->fields[i]);
      if (holder == nullptr) {
        std::printf(kMSRPBMissingArrayFormat, type.name, fieldInfo.name);
        return false;
      }
      if (holder->count != 0) {
        holder->elements = static_cast<void**>(std::calloc(holder->count, sizeof(void*)));
        if (holder->elements == nullptr) return false;
      }
      holder->filled = 0;
    } else if ((fieldInfo.flags & MSRPBFieldMessage) && message->fields[i] != nullptr) {
      if (!allocateArrays(*fieldInfo.messageType, static_cast<MessageInfo*>(message->fields[i]))) {
        return false;
      }
    }
  }
  return true;
}

void copyDecodedFields(const MSRPBMessageType& type, void* structure, MessageInfo* message) {
  pb_field_iter_t it;
  if (!pb_field_iter_begin(&it, type.descriptor, structure)) return;
  do {
    if (PB_ATYPE(it.type) != PB_ATYPE_STATIC) continue;
    const int slot = slotForTag(type, it.tag);
    if (slot < 0) continue;
    const std::uint32_t flags = type.fields[slot].flags;
    void** slotAddress = &message->fields[slot];
    const bool present = it.pSize != nullptr && *static_cast<const bool*>(it.pSize);
    if (flags & MSRPBFieldMessage) {
      auto* sub = static_cast<MessageInfo*>(*slotAddress);
      if (present && sub != nullptr) {
        copyDecodedFields(*type.fields[slot].messageType, it.pData, sub);
      } else {
        MSRPBMessageFreeField(type, message, slot);
      }
      continue;
    }
    if (!present) continue;
    if (flags & MSRPBFieldBool) {
      MSRPBSetBool(slotAddress, *static_cast<const bool*>(it.pData));
    } else if (flags & (MSRPBFieldEnum | MSRPBFieldInt32 | MSRPBFieldUInt32)) {
      std::uint32_t value;
      std::memcpy(&value, it.pData, sizeof value);
      MSRPBSetUInt32(slotAddress, value);
    } else if (flags & (MSRPBFieldInt64 | MSRPBFieldUInt64)) {
      std::uint64_t value;
      std::memcpy(&value, it.pData, sizeof value);
      MSRPBSetUInt64(slotAddress, value);
    } else if (flags & MSRPBFieldFloat) {
      MSRPBSetFloat(slotAddress, *static_cast<const float*>(it.pData));
    } else if (flags & MSRPBFieldDouble) {
      MSRPBSetDouble(slotAddress, *static_cast<const double*>(it.pData));
    }
  } while (pb_field_iter_next(&it));
}

bool fillEncoder(const MSRPBMessageType& type, const MessageInfo* message, void* structure) {
  if (message == nullptr || message->fields == nullptr || structure == nullptr) return false;
  pb_field_iter_t it;
  if (!pb_field_iter_begin(&it, type.descriptor, structure)) return true;
  do {
    const int slot = slotForTag(type, it.tag);
    if (slot < 0) return false;
    const MSRPBFieldInfo& fieldInfo = type.fields[slot];
    void* content = message->fields[slot];
    if (fieldInfo.flags & MSRPBFieldRepeated) {
      auto* holder = static_cast<MSRPBRepeatedField*>(content);
      if (holder == nullptr) {
        std::printf(kMSRPBEncoderMissingArrayFormat, type.name, fieldInfo.name);
        return false;
      }
      if (holder->count == 0) continue;
      auto* callback = static_cast<pb_callback_t*>(it.pData);
      if (fieldInfo.flags & MSRPBFieldMessage) {
        callback->funcs.encode = encodeRepeatedMessage;
      } else if (fieldInfo.flags & (MSRPBFieldString | MSRPBFieldBytes)) {
        callback->funcs.encode = MSRPBEncodeRepeatedString;
      } else {
        callback->funcs.encode = MSRPBEncodeRepeatedVarint;
      }
      callback->arg = holder;
      continue;
    }
    if (content == nullptr) continue;
    if (fieldInfo.flags & (MSRPBFieldString | MSRPBFieldBytes)) {
      auto* callback = static_cast<pb_callback_t*>(it.pData);
      callback->funcs.encode = MSRPBEncodeString;
      callback->arg = &message->fields[slot];
      continue;
    }
    if (it.pSize == nullptr) return false;
    *static_cast<bool*>(it.pSize) = true;
    if (fieldInfo.flags & MSRPBFieldMessage) {
      if (!fillEncoder(*fieldInfo.messageType, static_cast<const MessageInfo*>(content), it.pData)) {
        return false;
      }
    } else if (fieldInfo.flags & MSRPBFieldBool) {
      *static_cast<bool*>(it.pData) = (*static_cast<const std::uint8_t*>(content)) != 0;
    } else if (fieldInfo.flags & (MSRPBFieldEnum | MSRPBFieldInt32 | MSRPBFieldUInt32)) {
      std::memcpy(it.pData, content, sizeof(std::uint32_t));
    } else if (fieldInfo.flags & (MSRPBFieldInt64 | MSRPBFieldUInt64 | MSRPBFieldDouble)) {
      std::memcpy(it.pData, content, sizeof(std::uint64_t));
    } else if (fieldInfo.flags & MSRPBFieldFloat) {
      std::memcpy(it.pData, content, sizeof(float));
    }
  } while (pb_field_iter_next(&it));
  return true;
}

bool decodeRepeatedMessage(pb_istream_t* stream, const pb_field_t* field, void** arg) {
  const MSRPBMessageType* type = typeForDescriptor(field->submsg_desc);
  if (arg == nullptr || *arg == nullptr || type == nullptr) {
    std::printf(kMSRPBInvalidArgFormat, elementName(field));
    return false;
  }
  auto* holder = static_cast<MSRPBRepeatedField*>(*arg);
  if (holder->elements == nullptr) {
    if (!pb_read(stream, nullptr, stream->bytes_left)) {
      std::printf(kMSRPBDecoderFailedFormat, type->name, PB_GET_ERROR(stream));
      return false;
    }
    holder->count++;
    return true;
  }
  // Both passes read the same bytes, so this only trips on input that changed between them.
  if (holder->filled >= holder->count) return false;
  const std::size_t length = stream->bytes_left;
  // A stream over memory is decoded where it lies; any other is read out first.
  static const auto readsMemory = pb_istream_from_buffer(nullptr, 0).callback;
  Structure buffer;
  const std::uint8_t* bytes = nullptr;
  if (stream->callback == readsMemory && stream->state != nullptr) {
    bytes = static_cast<const std::uint8_t*>(stream->state);
    if (!pb_read(stream, nullptr, length)) {
      std::printf(kMSRPBExtractBufferFormat, type->name);
      return false;
    }
  } else {
    buffer.reset(std::malloc(length == 0 ? 1 : length));
    if (buffer == nullptr || !pb_read(stream, static_cast<pb_byte_t*>(buffer.get()), length)) {
      std::printf(kMSRPBExtractBufferFormat, type->name);
      return false;
    }
    bytes = static_cast<const std::uint8_t*>(buffer.get());
  }
  auto* element = static_cast<MessageInfo*>(std::calloc(1, sizeof(MessageInfo)));
  if (element == nullptr || !MSRPBMessageInit(*type, element)) {
    if (element != nullptr) MSRPBMessageDeallocate(*type, element);
    std::printf(kMSRPBInitializeElementFormat, type->name);
    return false;
  }
  holder->elements[holder->filled] = element;
  if (!MSRPBMessageDecode(*type, bytes, length, element)) {
    std::printf(kMSRPBDecodeRepeatedFormat, type->name, type->name);
    return false;
  }
  holder->filled++;
  return true;
}

bool encodeRepeatedMessageElements(pb_ostream_t* stream, const pb_field_t* field,
                                   void* const* arg);

// nanopb is C: running out of memory fails the callback instead of unwinding through it.
bool encodeRepeatedMessage(pb_ostream_t* stream, const pb_field_t* field, void* const* arg) {
  try {
    return encodeRepeatedMessageElements(stream, field, arg);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

bool encodeRepeatedMessageElements(pb_ostream_t* stream, const pb_field_t* field,
                                   void* const* arg) {
  const MSRPBMessageType* type = typeForDescriptor(field->submsg_desc);
  if (arg == nullptr || *arg == nullptr || type == nullptr) return false;
  auto* holder = static_cast<const MSRPBRepeatedField*>(*arg);
  if (holder->count == 0) return true;
  if (holder->elements == nullptr) return false;
  for (std::uint32_t i = 0; i < holder->count; ++i) {
    auto* element = static_cast<const MessageInfo*>(holder->elements[i]);
    if (element == nullptr) return false;
    const std::vector<std::uint8_t>* bytes = nullptr;
    if (encodeCache != nullptr) {
      auto found = encodeCache->find(element);
      if (found != encodeCache->end()) bytes = &found->second;
    }
    if (bytes == nullptr) {
      std::uint8_t* output = nullptr;
      const std::int32_t length = MSRPBMessageEncode(*type, element, &output);
      const std::unique_ptr<std::uint8_t, FreeDeleter> owned(output);
      if (length < 0 || output == nullptr) return false;
      std::vector<std::uint8_t> encoded(output, output + length);
      if (encodeCache == nullptr) {
        if (!pb_encode_tag_for_field(stream, field) ||
            !pb_encode_string(stream, encoded.data(), encoded.size())) {
          return false;
        }
        continue;
      }
      bytes = &encodeCache->emplace(element, std::move(encoded)).first->second;
    }
    if (!pb_encode_tag_for_field(stream, field) ||
        !pb_encode_string(stream, bytes->data(), bytes->size())) {
      return false;
    }
  }
  return true;
}

}  // namespace

int MSRPBMessageInit(const MSRPBMessageType& type, MessageInfo* message) {
  if (message == nullptr) return 0;
  message->name = type.name;
  message->fields = static_cast<void**>(std::calloc(type.fieldCount, sizeof(void*)));
  if (message->fields == nullptr) return 0;
  for (std::uint32_t i = 0; i < type.fieldCount; ++i) {
    if (type.fields[i].flags & MSRPBFieldRepeated) {
      message->fields[i] = std::calloc(1, sizeof(MSRPBRepeatedField));
      if (message->fields[i] == nullptr) return 0;
    }
  }
  message->flags = type.flags;
  return 1;
}

int MSRPBMessageFreeField(const MSRPBMessageType& type, MessageInfo* message, int index) {
  if (message == nullptr) return 0;
  if (index < 0 || static_cast<std::uint32_t>(index) >= type.fieldCount) {
    std::printf(kMSRPBUnknownFieldFormat, type.name, index);
    return 0;
  }
  if (message->fields == nullptr) return 0;
  const MSRPBFieldInfo& fieldInfo = type.fields[index];
  void** slot = &message->fields[index];
  if (fieldInfo.flags & MSRPBFieldRepeated) {
    auto* holder = static_cast<MSRPBRepeatedField*>(*slot);
    if (holder == nullptr) return 1;
    int result = 1;
    for (std::uint32_t i = 0; holder->elements != nullptr && i < holder->count; ++i) {
      void* element = holder->elements[i];
      if (element == nullptr) continue;
      if (fieldInfo.flags & MSRPBFieldMessage) {
        if (!MSRPBMessageDeallocate(*fieldInfo.messageType, static_cast<MessageInfo*>(element))) {
          result = 0;
        }
      } else if (fieldInfo.flags & (MSRPBFieldString | MSRPBFieldBytes)) {
        MSRPBStringFieldDealloc(static_cast<MSRPBStringField*>(element));
        std::free(element);
      } else {
        std::free(element);
      }
    }
    MSRPBRepeatedFieldDealloc(holder);
    return result;
  }
  if (*slot == nullptr) return 1;
  int result = 1;
  if (fieldInfo.flags & (MSRPBFieldString | MSRPBFieldBytes)) {
    MSRPBStringFieldDealloc(static_cast<MSRPBStringField*>(*slot));
    std::free(*slot);
  } else if (fieldInfo.flags & MSRPBFieldMessage) {
    result = MSRPBMessageDeallocate(*fieldInfo.messageType, static_cast<MessageInfo*>(*slot));
  } else {
    std::free(*slot);
  }
  *slot = nullptr;
  return result;
}

int MSRPBMessageDeallocate(const MSRPBMessageType& type, MessageInfo* message) {
  if (message == nullptr) return 0;
  if (message->fields != nullptr) {
    for (std::uint32_t i = 0; i < type.fieldCount; ++i) {
      if (!MSRPBMessageFreeField(type, message, static_cast<int>(i))) return 0;
      if (type.fields[i].flags & MSRPBFieldRepeated) {
        std::free(message->fields[i]);
        message->fields[i] = nullptr;
      }
    }
    std::free(message->fields);
  }
  std::free(message);
  return 1;
}

int MSRPBMessageCopy(const MSRPBMessageType& type, MessageInfo** destination,
                     const MessageInfo* source) {
  if (destination == nullptr || source == nullptr || source->fields == nullptr) return 0;
  // Copying a message onto itself would free the source first.
  if (*destination == source) return 0;
  if (*destination != nullptr) MSRPBMessageDeallocate(type, *destination);
  *destination = static_cast<MessageInfo*>(std::calloc(1, sizeof(MessageInfo)));
  if (*destination == nullptr) return 0;
  if (!MSRPBMessageInit(type, *destination)) {
    MSRPBMessageDeallocate(type, *destination);
    *destination = nullptr;
    return 0;
  }
  MessageInfo* copy = *destination;
  for (std::uint32_t i = 0; i < type.fieldCount; ++i) {
    const MSRPBFieldInfo& fieldInfo = type.fields[i];
    const void* content = source->fields[i];
    void** slot = &copy->fields[i];
    if (fieldInfo.flags & MSRPBFieldRepeated) {
      auto* from = static_cast<const MSRPBRepeatedField*>(content);
      auto* to = static_cast<MSRPBRepeatedField*>(*slot);
      if (from == nullptr || from->count == 0 || from->elements == nullptr) continue;
      to->elements = static_cast<void**>(std::calloc(from->count, sizeof(void*)));
      if (to->elements == nullptr) return 0;
      to->count = from->count;
      for (std::uint32_t e = 0; e < from->count; ++e) {
        const void* element = from->elements[e];
        if (element == nullptr) return 0;
        if (fieldInfo.flags & MSRPBFieldMessage) {
          if (!MSRPBMessageCopy(*fieldInfo.messageType,
                                reinterpret_cast<MessageInfo**>(&to->elements[e]),
                                static_cast<const MessageInfo*>(element))) {
            return 0;
          }
        } else if (fieldInfo.flags & (MSRPBFieldString | MSRPBFieldBytes)) {
          auto* string = static_cast<const MSRPBStringField*>(element);
          MSRPBSetString(&to->elements[e], string->bytes, string->bytes ? string->length : 0);
        } else if (fieldInfo.flags & MSRPBFieldFloat) {
          MSRPBSetFloat(&to->elements[e], *static_cast<const float*>(element));
        } else {
          MSRPBSetUInt64(&to->elements[e], *static_cast<const std::uint64_t*>(element));
        }
      }
      continue;
    }
    if (content == nullptr) continue;
    if (fieldInfo.flags & (MSRPBFieldString | MSRPBFieldBytes)) {
      auto* string = static_cast<const MSRPBStringField*>(content);
      MSRPBSetString(slot, string->bytes, string->bytes ? string->length : 0);
    } else if (fieldInfo.flags & MSRPBFieldMessage) {
      if (!MSRPBMessageCopy(*fieldInfo.messageType, reinterpret_cast<MessageInfo**>(slot),
                            static_cast<const MessageInfo*>(content))) {
        return 0;
      }
    } else if (fieldInfo.flags & MSRPBFieldFloat) {
      MSRPBSetFloat(slot, *static_cast<const float*>(content));
    } else {
      MSRPBSetUInt64(slot, *static_cast<const std::uint64_t*>(content));
    }
  }
  return 1;
}

int MSRPBMessageDecode(const MSRPBMessageType& type, const std::uint8_t* bytes, std::size_t length,
                       MessageInfo* message) {
  if (message == nullptr) {
    std::printf(kMSRPBDecoderNoMessageFormat, type.name);
    return 0;
  }
  if (decodeDepth >= kMSRPBMaxDecodeDepth) {
    std::printf(kMSRPBDecoderFailedFormat, type.name, kMSRPBTooDeepText);
    return 0;
  }
  struct DepthGuard {
    DepthGuard() { ++decodeDepth; }
    ~DepthGuard() { --decodeDepth; }
  } depthGuard;
  Structure structure = newStructure(type);
  if (structure == nullptr || !setDecoders(type, message, structure.get())) {
    std::printf(kMSRPBDecoderSetDecodersFormat, type.name);
    return 0;
  }
  // The structure starts zeroed, which is every field's default in this schema, so nanopb need
  // not reset it; a second pass reads the same bytes over the same values.
  pb_istream_t first = pb_istream_from_buffer(bytes, bytes ? length : 0);
  if (!pb_decode_ex(&first, type.descriptor, structure.get(), PB_DECODE_NOINIT)) {
    std::printf(kMSRPBDecoderFailedFormat, type.name, PB_GET_ERROR(&first));
    return 0;
  }
  if (needsTwoPasses(type) && anyElementCounted(type, message)) {
    if (!allocateArrays(type, message)) {
      std::printf(kMSRPBDecoderAllocateArraysFormat, type.name);
      return 0;
    }
    pb_istream_t second = pb_istream_from_buffer(bytes, bytes ? length : 0);
    if (!pb_decode_ex(&second, type.descriptor, structure.get(), PB_DECODE_NOINIT)) {
      std::printf(kMSRPBDecoderFailedFormat, type.name, PB_GET_ERROR(&second));
      return 0;
    }
  }
  copyDecodedFields(type, structure.get(), message);
  return 1;
}

std::int32_t MSRPBMessageEncode(const MSRPBMessageType& type, const MessageInfo* message,
                                std::uint8_t** output) {
  if (output == nullptr) return -1;
  *output = nullptr;
  try {
    Structure structure = newStructure(type);
    if (structure == nullptr || !fillEncoder(type, message, structure.get())) return -1;
    std::unordered_map<const MessageInfo*, std::vector<std::uint8_t>> cache;
    // The outermost Encode lends its cache to the thread and takes it back however it ends, so
    // the thread never keeps a pointer to a map that is gone.
    struct Lend {
      bool outermost = encodeCache == nullptr;
      ~Lend() {
        if (outermost) encodeCache = nullptr;
      }
    } lend;
    if (lend.outermost) encodeCache = &cache;
    return MSRPBEncodeToBuffer(type.descriptor, structure.get(), output);
  } catch (const std::bad_alloc&) {
    std::free(*output);
    *output = nullptr;
    return -1;
  }
}

#define MSRPB_DEFINE_CODEC_FAMILY(M)                                                              \
  extern const MSRPBMessageType kMSRPB##M##Type;                                                  \
  int MSRPB##M##Init(MessageInfo* message) { return MSRPBMessageInit(kMSRPB##M##Type, message); } \
  int MSRPB##M##FreeField(MessageInfo* message, int index) {                                      \
    return MSRPBMessageFreeField(kMSRPB##M##Type, message, index);                                \
  }                                                                                               \
  int MSRPB##M##Deallocate(MessageInfo* message) {                                                \
    return MSRPBMessageDeallocate(kMSRPB##M##Type, message);                                      \
  }                                                                                               \
  int MSRPB##M##Copy(MessageInfo** destination, const MessageInfo* source) {                      \
    return MSRPBMessageCopy(kMSRPB##M##Type, destination, source);                                \
  }                                                                                               \
  int MSRPB##M##Decode(const std::uint8_t* bytes, std::size_t length, MessageInfo* message) {     \
    return MSRPBMessageDecode(kMSRPB##M##Type, bytes, length, message);                           \
  }                                                                                               \
  std::int32_t MSRPB##M##Encode(const MessageInfo* message, std::uint8_t** output) {              \
    return MSRPBMessageEncode(kMSRPB##M##Type, message, output);                                  \
  }

MSRPB_FOR_EACH_MESSAGE(MSRPB_DEFINE_CODEC_FAMILY)
