#include "measurement/messages/MSRPBAccessors.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>

#include "measurement/messages/MSRPBConstants.h"
#include "measurement/messages/MSRPBFieldRuntime.h"
#include "measurement/messages/MSRPBSchema.h"
#include "platform/base/Strings.h"
#include "platform/dispatch/SystemLog.h"

namespace {

// The texts are the constant printf formats of MSRPBConstants.h.
__attribute__((format(printf, 1, 2))) void logFormat(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  platform::SystemLog::write(platform::LogLevel::Error, text);
}

void logLine(const std::string& text) {
  platform::SystemLog::write(platform::LogLevel::Error, text);
}

MessageInfo* initialisedInfo(const NANOMessagePtr& message) {
  if (message == nullptr) return nullptr;
  MessageInfo* info = message->messageInfo();
  if (info == nullptr || info->fields == nullptr || info->flags == nullptr) return nullptr;
  return info;
}

std::string nameOf(const MessageInfo* info) { return info->name ? info->name : "(null)"; }

// The schema entry of a message. Every message made here points at its type's own name, so the
// name's address finds it without reading the text; any other name is looked up by its text.
const MSRPBMessageType* typeOf(const MessageInfo* info) {
  if (info->name == nullptr) return nullptr;
  static const auto* const byNameAddress = [] {
    auto* table = new std::unordered_map<const char*, const MSRPBMessageType*>();
    for (const MSRPBMessageType* type : MSRPBAllMessageTypes()) table->emplace(type->name, type);
    return table;
  }();
  const auto found = byNameAddress->find(info->name);
  return found != byNameAddress->end() ? found->second : MSRPBMessageTypeNamed(info->name);
}

// A slot outside the message would read past its slot array.
bool indexInRange(const MessageInfo* info, std::int32_t index) {
  const MSRPBMessageType* type = typeOf(info);
  if (index >= 0 && type != nullptr && static_cast<std::uint32_t>(index) < type->fieldCount) {
    return true;
  }
  logFormat(kMSRPBOutOfRangeFormat, nameOf(info).c_str(), index);
  return false;
}

// The checks every scalar, string and message accessor starts with; null when the access must
// not go ahead (already logged).
MessageInfo* checkedField(const NANOMessagePtr& message, std::int32_t index, const char* operation,
                          const char* typeWord, std::uint32_t mask, std::uint32_t expected,
                          bool anyOf = false) {
  MessageInfo* info = initialisedInfo(message);
  if (info == nullptr) {
    logFormat(kMSRPBNotInitializedFormat, operation);
    return nullptr;
  }
  if (!indexInRange(info, index)) return nullptr;
  const std::uint32_t flags = info->flags[index];
  const bool accepted = anyOf ? ((flags & mask) != 0 && (flags & MSRPBFieldRepeated) == 0)
                              : (flags & mask) == expected;
  if (!accepted) {
    logFormat(kMSRPBNotScalarFormat, typeWord, nameOf(info).c_str(), index);
    return nullptr;
  }
  return info;
}

MessageInfo* checkedRepeated(const NANOMessagePtr& message, std::int32_t index,
                             const char* operation) {
  MessageInfo* info = initialisedInfo(message);
  if (info == nullptr) {
    logFormat(kMSRPBNotInitializedFormat, operation);
    return nullptr;
  }
  if (!indexInRange(info, index)) return nullptr;
  if ((info->flags[index] & MSRPBFieldRepeated) == 0) {
    logFormat(kMSRPBNotRepeatedFormat, nameOf(info).c_str(), index);
    return nullptr;
  }
  if (info->fields[index] == nullptr) {
    logLine(kMSRPBRepeatedNotAllocatedText);
    return nullptr;
  }
  return info;
}

std::uint64_t cell64(const void* cell) {
  std::uint64_t value;
  std::memcpy(&value, cell, sizeof value);
  return value;
}

platform::Value stringFrom(const MSRPBStringField* field) {
  if (field == nullptr || field->bytes == nullptr) return {};
  std::string text(reinterpret_cast<const char*>(field->bytes), field->length);
  if (!platform::isValidUtf8(text)) return {};
  return platform::Value(std::move(text));
}

// The kind of message a slot is declared to hold, from the schema.
const MSRPBMessageType* declaredMessageType(const MessageInfo* info, std::int32_t index) {
  const MSRPBMessageType* type = typeOf(info);
  return type ? type->fields[index].messageType : nullptr;
}

bool fitsDeclaredType(const MessageInfo* info, std::int32_t index, const NANOMessagePtr& value) {
  const MSRPBMessageType* declared = declaredMessageType(info, index);
  return declared != nullptr && value->messageID() != nullptr &&
         std::strcmp(declared->name, value->messageID()) == 0;
}

}  // namespace

bool MSRPBHasField(const NANOMessagePtr& message, std::int32_t index) {
  MessageInfo* info = initialisedInfo(message);
  if (info == nullptr) {
    const char* name = message ? message->messageID() : nullptr;
    logFormat(kMSRPBHasFieldNotInitializedFormat, name ? name : "(null)");
    return false;
  }
  if (!indexInRange(info, index)) return false;
  if (info->flags[index] & MSRPBFieldRepeated) return true;
  return info->fields[index] != nullptr;
}

void MSRPBClearField(const NANOMessagePtr& message, std::int32_t index) {
  MessageInfo* info = initialisedInfo(message);
  if (info == nullptr) {
    logFormat(kMSRPBNotInitializedFormat, "ClearField");
    return;
  }
  message->deallocMessageFieldFn()(info, index);
}

bool MSRPBGetBool(const NANOMessagePtr& message, std::int32_t index) {
  MessageInfo* info = checkedField(message, index, "GetBool", "BOOL", 0x28, 0x20);
  if (info == nullptr || info->fields[index] == nullptr) return false;
  return *static_cast<const std::uint8_t*>(info->fields[index]) != 0;
}

void MSRPBSetBoolField(const NANOMessagePtr& message, std::int32_t index, bool value) {
  MessageInfo* info = checkedField(message, index, "SetBool", "BOOL", 0x28, 0x20);
  if (info != nullptr) MSRPBSetUInt32(&info->fields[index], value ? 1 : 0);
}

std::int32_t MSRPBGetInt32(const NANOMessagePtr& message, std::int32_t index) {
  MessageInfo* info = checkedField(message, index, "GetInt32", "INT32", 0x1C0, 0, true);
  if (info == nullptr || info->fields[index] == nullptr) return 0;
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(cell64(info->fields[index])));
}

void MSRPBSetInt32(const NANOMessagePtr& message, std::int32_t index, std::int32_t value) {
  MessageInfo* info = checkedField(message, index, "SetInt32", "INT32", 0x1C0, 0, true);
  if (info != nullptr) MSRPBSetUInt32(&info->fields[index], static_cast<std::uint32_t>(value));
}

std::int64_t MSRPBGetInt64(const NANOMessagePtr& message, std::int32_t index) {
  MessageInfo* info = checkedField(message, index, "GetInt64", "INT64", 0x600, 0, true);
  if (info == nullptr || info->fields[index] == nullptr) return 0;
  return static_cast<std::int64_t>(cell64(info->fields[index]));
}

void MSRPBSetInt64(const NANOMessagePtr& message, std::int32_t index, std::int64_t value) {
  MessageInfo* info = checkedField(message, index, "SetInt64", "INT64", 0x600, 0, true);
  if (info != nullptr) MSRPBSetUInt64(&info->fields[index], static_cast<std::uint64_t>(value));
}

double MSRPBGetDouble(const NANOMessagePtr& message, std::int32_t index) {
  MessageInfo* info = checkedField(message, index, "GetDouble", "DOUBLE", 0x1008, 0x1000);
  if (info == nullptr || info->fields[index] == nullptr) return 0.0;
  return *static_cast<const double*>(info->fields[index]);
}

void MSRPBSetDoubleField(const NANOMessagePtr& message, std::int32_t index, double value) {
  MessageInfo* info = checkedField(message, index, "SetDouble", "DOUBLE", 0x1008, 0x1000);
  if (info != nullptr) MSRPBSetDouble(&info->fields[index], value);
}

platform::Value MSRPBGetString(const NANOMessagePtr& message, std::int32_t index) {
  MessageInfo* info = checkedField(message, index, "GetString", "STRING", 0x2008, 0x2000);
  if (info == nullptr) return {};
  return stringFrom(static_cast<const MSRPBStringField*>(info->fields[index]));
}

void MSRPBSetStringField(const NANOMessagePtr& message, std::int32_t index,
                         const platform::Value& value) {
  MessageInfo* info = checkedField(message, index, "SetString", "STRING", 0x2008, 0x2000);
  if (info == nullptr) return;
  if (value.isNil()) {
    message->deallocMessageFieldFn()(info, index);
    return;
  }
  if (!value.isString()) {
    logFormat(kMSRPBInvalidObjectFormat, "String", "NSString", value.className().c_str());
    message->deallocMessageFieldFn()(info, index);
    return;
  }
  auto* field = static_cast<MSRPBStringField*>(info->fields[index]);
  if (field == nullptr) {
    field = static_cast<MSRPBStringField*>(std::calloc(1, sizeof(MSRPBStringField)));
    info->fields[index] = field;
  }
  MSRPBStringFieldDealloc(field);
  MSRPBCopyStringToHolder(value, field);
}

NANOMessagePtr MSRPBGetMessage(const NANOMessagePtr& message, std::int32_t index,
                               const NANOMessageClass& messageClass) {
  MessageInfo* info = checkedField(message, index, "GetMessage", "MESSAGE", 0x4008, 0x4000);
  if (info == nullptr || info->fields[index] == nullptr) return nullptr;
  if (messageClass.initWithMessageInfo == nullptr) {
    logFormat(kMSRPBNoInitWithMessageInfoFormat,
              messageClass.className ? messageClass.className : "nil");
    return nullptr;
  }
  return messageClass.initWithMessageInfo(static_cast<const MessageInfo*>(info->fields[index]));
}

void MSRPBSetMessage(const NANOMessagePtr& message, std::int32_t index,
                     const NANOMessagePtr& value) {
  MessageInfo* info = checkedField(message, index, "SetMessage", "MESSAGE", 0x4008, 0x4000);
  if (info == nullptr) return;
  if (value != nullptr && value->messageInfo() != nullptr &&
      !fitsDeclaredType(info, index, value)) {
    // Another kind in this slot would be read with the wrong schema by every later codec call.
    logFormat(kMSRPBInvalidObjectFormat, "Message", "NANOMessageBase", value->className().c_str());
    return;
  }
  message->deallocMessageFieldFn()(info, index);
  if (value == nullptr || value->messageInfo() == nullptr) return;
  auto* copy = static_cast<MessageInfo*>(std::calloc(1, sizeof(MessageInfo)));
  if (copy == nullptr) return;
  value->initMessageInfoFn()(copy);
  if (!value->copyMessageInfoFn()(&copy, value->messageInfo())) {
    // Keep the slot empty rather than holding half a copy.
    if (copy != nullptr) {
      info->fields[index] = copy;
      message->deallocMessageFieldFn()(info, index);
    }
    return;
  }
  info->fields[index] = copy;
}

platform::Value MSRPBGetRepeated(const NANOMessagePtr& message, std::int32_t index,
                                 const NANOMessageClass& messageClass) {
  MessageInfo* info = checkedRepeated(message, index, "GetArray");
  if (info == nullptr) return {};
  const std::uint32_t flags = info->flags[index];
  auto* holder = static_cast<const MSRPBRepeatedField*>(info->fields[index]);
  platform::Value::Array result;
  if (holder->elements == nullptr) return platform::Value(std::move(result));
  for (std::uint32_t i = 0; i < holder->count; ++i) {
    const void* element = holder->elements[i];
    if (element == nullptr) {
      logLine(kMSRPBNullElementText);
      continue;
    }
    platform::Value entry;
    if (flags & MSRPBFieldBool) {
      entry = platform::Value(*static_cast<const std::uint8_t*>(element) != 0);
    } else if (flags & MSRPBFieldInt32) {
      entry = platform::Value(static_cast<std::int32_t>(cell64(element)));
    } else if (flags & MSRPBFieldUInt32) {
      entry = platform::Value(static_cast<std::uint32_t>(cell64(element)));
    } else if (flags & MSRPBFieldInt64) {
      entry = platform::Value(static_cast<long long>(cell64(element)));
    } else if (flags & MSRPBFieldUInt64) {
      entry = platform::Value(static_cast<unsigned long long>(cell64(element)));
    } else if (flags & MSRPBFieldFloat) {
      entry = platform::Value(*static_cast<const float*>(element));
    } else if (flags & MSRPBFieldDouble) {
      entry = platform::Value(*static_cast<const double*>(element));
    } else if (flags & MSRPBFieldEnum) {
      entry = platform::Value(static_cast<std::int32_t>(cell64(element)));
    } else if (flags & MSRPBFieldString) {
      entry = stringFrom(static_cast<const MSRPBStringField*>(element));
    } else if (flags & MSRPBFieldBytes) {
      auto* field = static_cast<const MSRPBStringField*>(element);
      entry =
          field->bytes
              ? platform::Value::data(platform::Bytes(field->bytes, field->bytes + field->length))
              : platform::Value::data(platform::Bytes());
    } else if (flags & MSRPBFieldMessage) {
      if (messageClass.initWithMessageInfo == nullptr) {
        logFormat(kMSRPBNoInitWithMessageInfoFormat,
                  messageClass.className ? messageClass.className : "nil");
        continue;
      }
      if (NANOMessagePtr object =
              messageClass.initWithMessageInfo(static_cast<const MessageInfo*>(element))) {
        entry = platform::Value(object);
      }
    } else {
      logFormat(kMSRPBUnknownElementTypeFormat, static_cast<int>(flags));
      continue;
    }
    if (!entry.isNil()) result.push_back(std::move(entry));
  }
  return platform::Value(std::move(result));
}

namespace {

// Stores one element; false (after its log) when the object does not fit the field.
bool storeElement(const MessageInfo* info, std::int32_t index, std::uint32_t flags,
                  const platform::Value& object, void** slot) {
  auto expectNumber = [&](const char* kind) {
    if (object.isNumber()) return true;
    logFormat(kMSRPBInvalidObjectFormat, kind, "NSNumber", object.className().c_str());
    return false;
  };
  if (flags & MSRPBFieldBool) {
    if (!expectNumber("Boolean")) return false;
    MSRPBSetBool(slot, object.boolValue());
  } else if (flags & (MSRPBFieldInt32 | MSRPBFieldUInt32)) {
    if (!expectNumber("Int32")) return false;
    MSRPBSetUInt32(slot, static_cast<std::uint32_t>(object.int64Value()));
  } else if (flags & (MSRPBFieldInt64 | MSRPBFieldUInt64)) {
    if (!expectNumber("Int64")) return false;
    MSRPBSetUInt64(slot, static_cast<std::uint64_t>(object.int64Value()));
  } else if (flags & MSRPBFieldFloat) {
    if (!expectNumber("Float")) return false;
    MSRPBSetFloat(slot, static_cast<float>(object.doubleValue()));
  } else if (flags & MSRPBFieldDouble) {
    if (!expectNumber("Double")) return false;
    MSRPBSetDouble(slot, object.doubleValue());
  } else if (flags & MSRPBFieldEnum) {
    if (!expectNumber("Enum")) return false;
    MSRPBSetUInt32(slot, static_cast<std::uint32_t>(object.int64Value()));
  } else if (flags & MSRPBFieldString) {
    auto* field = static_cast<MSRPBStringField*>(std::calloc(1, sizeof(MSRPBStringField)));
    *slot = field;
    if (!object.isString() || !MSRPBCopyStringToHolder(object, field)) {
      logFormat(kMSRPBInvalidObjectFormat, "String", "NSString", object.className().c_str());
      return false;
    }
  } else if (flags & MSRPBFieldBytes) {
    auto* field = static_cast<MSRPBStringField*>(std::calloc(1, sizeof(MSRPBStringField)));
    *slot = field;
    if (!object.isData() || !MSRPBCopyDataToHolder(object, field)) {
      logFormat(kMSRPBInvalidObjectFormat, "Bytes", "NSData", object.className().c_str());
      return false;
    }
  } else if (flags & MSRPBFieldMessage) {
    auto value = object.objectAs<NANOMessageBase>();
    if (value == nullptr || value->messageInfo() == nullptr ||
        !fitsDeclaredType(info, index, value) ||
        !value->copyMessageInfoFn()(reinterpret_cast<MessageInfo**>(slot), value->messageInfo())) {
      logFormat(kMSRPBInvalidObjectFormat, "Message", "NANOMessageBase",
                object.className().c_str());
      return false;
    }
  } else {
    logFormat(kMSRPBUnknownObjectTypeFormat, static_cast<int>(flags));
    return false;
  }
  return true;
}

}  // namespace

void MSRPBSetRepeated(const NANOMessagePtr& message, std::int32_t index,
                      const platform::Value& array) {
  MessageInfo* info = checkedRepeated(message, index, "SetArray");
  if (info == nullptr) return;
  MSRPBFreeFieldFn freeField = message->deallocMessageFieldFn();
  freeField(info, index);
  if (array.isNil()) return;
  const platform::Value::Array* elements = array.array();
  if (elements == nullptr) {
    logFormat(kMSRPBInvalidObjectFormat, "Repeated", "NSArray", array.className().c_str());
    return;
  }
  auto* holder = static_cast<MSRPBRepeatedField*>(info->fields[index]);
  if (elements->empty()) return;
  holder->elements = static_cast<void**>(std::calloc(elements->size(), sizeof(void*)));
  if (holder->elements == nullptr) {
    logLine(kMSRPBNullElementsText);
    return;
  }
  holder->count = static_cast<std::uint32_t>(elements->size());
  const std::uint32_t flags = info->flags[index];
  for (std::uint32_t i = 0; i < holder->count; ++i) {
    if (!storeElement(info, index, flags, (*elements)[i], &holder->elements[i])) {
      freeField(info, index);
      return;
    }
  }
}
