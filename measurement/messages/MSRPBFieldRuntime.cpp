#include "measurement/messages/MSRPBFieldRuntime.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "measurement/messages/MSRPBConstants.h"

namespace {

// A zero-length allocation must still give a block: a present empty string has non-null bytes.
// One zero byte follows the bytes, as after those MSRPBSetString stores.
std::uint8_t* allocateBytes(std::size_t length) {
  return static_cast<std::uint8_t*>(std::calloc(length + 1, 1));
}

template <class T>
T* cellFor(void** slot) {
  if (*slot == nullptr) *slot = std::calloc(1, sizeof(T));
  return static_cast<T*>(*slot);
}

}  // namespace

void MSRPBRepeatedFieldDealloc(MSRPBRepeatedField* field) {
  if (field == nullptr) {
    std::fputs(kMSRPBArrayNullText, stdout);
    return;
  }
  std::free(field->elements);
  field->elements = nullptr;
  field->filled = 0;
  field->count = 0;
}

void MSRPBStringFieldDealloc(MSRPBStringField* field) {
  if (field == nullptr) {
    std::fputs(kMSRPBStringStructNullText, stdout);
    return;
  }
  std::free(field->bytes);
  field->bytes = nullptr;
  field->length = 0;
}

void MSRPBSetBool(void** slot, bool value) {
  if (slot == nullptr) {
    std::fputs(kMSRPBSetBoolNullText, stdout);
    return;
  }
  *cellFor<std::uint64_t>(slot) = value ? 1 : 0;
}

void MSRPBSetUInt32(void** slot, std::uint32_t value) {
  if (slot == nullptr) {
    std::fputs(kMSRPBSetUInt32NullText, stdout);
    return;
  }
  *cellFor<std::uint64_t>(slot) = value;
}

void MSRPBSetUInt64(void** slot, std::uint64_t value) {
  if (slot == nullptr) {
    std::fputs(kMSRPBSetUInt64NullText, stdout);
    return;
  }
  *cellFor<std::uint64_t>(slot) = value;
}

void MSRPBSetFloat(void** slot, float value) {
  if (slot == nullptr) {
    std::fputs(kMSRPBSetFloatNullText, stdout);
    return;
  }
  *cellFor<float>(slot) = value;
}

void MSRPBSetDouble(void** slot, double value) {
  if (slot == nullptr) {
    std::fputs(kMSRPBSetDoubleNullText, stdout);
    return;
  }
  *cellFor<double>(slot) = value;
}

void MSRPBSetString(void** slot, const void* bytes, std::uint32_t length) {
  if (slot == nullptr) {
    std::fputs(kMSRPBSetStringNullText, stdout);
    return;
  }
  auto* field = static_cast<MSRPBStringField*>(*slot);
  if (field == nullptr) {
    field = static_cast<MSRPBStringField*>(std::calloc(1, sizeof(MSRPBStringField)));
    *slot = field;
  }
  std::free(field->bytes);
  field->bytes = static_cast<std::uint8_t*>(std::calloc(static_cast<std::size_t>(length) + 1, 1));
  if (length > 0 && bytes != nullptr) std::memcpy(field->bytes, bytes, length);
  field->length = length;
}

bool MSRPBDecodeString(pb_istream_t* stream, const pb_field_t* /*field*/, void** arg) {
  if (arg == nullptr || *arg == nullptr) return false;
  auto** slot = static_cast<void**>(*arg);
  if (auto* existing = static_cast<MSRPBStringField*>(*slot)) {
    if (existing->bytes == nullptr) {
      std::fputs(kMSRPBStringDataNullText, stdout);
      return false;
    }
    // The first occurrence wins; a later one (or the second decode pass) is read past.
    return pb_read(stream, nullptr, stream->bytes_left);
  }
  auto* record = static_cast<MSRPBStringField*>(std::calloc(1, sizeof(MSRPBStringField)));
  *slot = record;
  const std::size_t length = stream->bytes_left;
  if (length > kMSRPBMaxStringLength) {
    std::printf(kMSRPBBufferTooBigFormat, length, static_cast<int>(kMSRPBMaxStringLength));
    return false;
  }
  record->bytes = allocateBytes(length);
  record->length = static_cast<std::uint32_t>(length);
  if (!pb_read(stream, record->bytes, length)) {
    std::free(record->bytes);
    record->bytes = nullptr;
    return false;
  }
  return true;
}

bool MSRPBDecodeRepeatedString(pb_istream_t* stream, const pb_field_t* field, void** arg) {
  if (arg == nullptr || *arg == nullptr) return false;
  auto* holder = static_cast<MSRPBRepeatedField*>(*arg);
  if (holder->elements == nullptr) {
    if (!pb_read(stream, nullptr, stream->bytes_left)) return false;
    holder->count++;
    return true;
  }
  // Both passes read the same bytes; anything else means the input changed under us.
  if (holder->filled >= holder->count) return false;
  void* slot = &holder->elements[holder->filled];
  if (!MSRPBDecodeString(stream, field, &slot)) return false;
  holder->filled++;
  return true;
}

bool MSRPBDecodeRepeatedVarint(pb_istream_t* stream, const pb_field_t* /*field*/, void** arg) {
  if (arg == nullptr || *arg == nullptr) return false;
  auto* holder = static_cast<MSRPBRepeatedField*>(*arg);
  // An empty packed run is valid input with no elements.
  if (stream->bytes_left == 0) return true;
  std::uint64_t value = 0;
  if (!pb_decode_varint(stream, &value)) return false;
  if (holder->elements == nullptr) {
    holder->count++;
    return true;
  }
  if (holder->filled >= holder->count) return false;
  MSRPBSetUInt64(&holder->elements[holder->filled], value);
  holder->filled++;
  return true;
}

bool MSRPBEncodeString(pb_ostream_t* stream, const pb_field_t* field, void* const* arg) {
  if (arg == nullptr || *arg == nullptr) return false;
  auto* record = *static_cast<MSRPBStringField* const*>(*arg);
  if (record == nullptr || record->bytes == nullptr) return false;
  return pb_encode_tag_for_field(stream, field) &&
         pb_encode_string(stream, record->bytes, record->length);
}

bool MSRPBEncodeRepeatedString(pb_ostream_t* stream, const pb_field_t* field, void* const* arg) {
  if (arg == nullptr || *arg == nullptr) return false;
  auto* holder = static_cast<MSRPBRepeatedField*>(*arg);
  if (holder->count == 0) return true;
  if (holder->elements == nullptr) return false;
  for (std::uint32_t i = 0; i < holder->count; ++i) {
    void* slot = &holder->elements[i];
    if (!MSRPBEncodeString(stream, field, &slot)) return false;
  }
  return true;
}

bool MSRPBEncodeRepeatedVarint(pb_ostream_t* stream, const pb_field_t* field, void* const* arg) {
  if (arg == nullptr || *arg == nullptr) return false;
  auto* holder = static_cast<MSRPBRepeatedField*>(*arg);
  if (holder->count == 0) return true;
  if (holder->elements == nullptr) return false;
  for (std::uint32_t i = 0; i < holder->count; ++i) {
    auto* cell = static_cast<const std::uint64_t*>(holder->elements[i]);
    if (cell == nullptr) return false;
    if (!pb_encode_tag(stream, PB_WT_VARINT, field->tag) || !pb_encode_varint(stream, *cell)) {
      return false;
    }
  }
  return true;
}

std::int32_t MSRPBEncodeToBuffer(const pb_msgdesc_t* descriptor, const void* structure,
                                 std::uint8_t** output) {
  if (output == nullptr) return -1;
  *output = nullptr;
  // One pass into a growing buffer: sizing first and writing after would walk the whole tree,
  // and run every field callback, twice.
  std::vector<std::uint8_t> bytes;
  pb_ostream_t stream{};
  stream.callback = [](pb_ostream_t* out, const pb_byte_t* data, std::size_t count) {
    auto* written = static_cast<std::vector<std::uint8_t>*>(out->state);
    // nanopb is C: running out of memory fails the write instead of unwinding through it.
    try {
      written->insert(written->end(), data, data + count);
    } catch (const std::bad_alloc&) {
      return false;
    }
    return true;
  };
  stream.state = &bytes;
  stream.max_size = 0x7fffffff;
  if (!pb_encode(&stream, descriptor, structure)) return -1;
  std::uint8_t* buffer = allocateBytes(bytes.size());
  if (buffer == nullptr) return -1;
  if (!bytes.empty()) std::memcpy(buffer, bytes.data(), bytes.size());
  *output = buffer;
  return static_cast<std::int32_t>(bytes.size());
}

bool MSRPBCopyStringToHolder(const platform::Value& string, MSRPBStringField* holder) {
  if (string.isNil()) return true;
  const std::string* text = string.string();
  if (text == nullptr || holder == nullptr) return false;
  holder->bytes = allocateBytes(text->size());
  if (holder->bytes == nullptr) return false;
  std::memcpy(holder->bytes, text->data(), text->size());
  holder->length = static_cast<std::uint32_t>(text->size());
  return true;
}

bool MSRPBCopyDataToHolder(const platform::Value& data, MSRPBStringField* holder) {
  if (data.isNil()) return true;
  const platform::Bytes* bytes = data.bytes();
  if (bytes == nullptr || holder == nullptr) return false;
  holder->bytes = allocateBytes(bytes->size());
  if (holder->bytes == nullptr) return false;
  if (!bytes->empty()) std::memcpy(holder->bytes, bytes->data(), bytes->size());
  holder->length = static_cast<std::uint32_t>(bytes->size());
  return true;
}
