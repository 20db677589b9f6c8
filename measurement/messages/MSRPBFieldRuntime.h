// The small value runtime beneath the message codecs: scalar cells made on first store, string
// records, the nanopb callbacks for strings, repeated strings and repeated varints, and the
// size-then-write encoder. Failures print "<ERROR>" lines to standard output. No state, no locks:
// a message belongs to one owner at a time.
#pragma once

#include <pb.h>
#include <pb_decode.h>
#include <pb_encode.h>

#include <cstdint>

#include "measurement/messages/MSRPBMessageInfo.h"
#include "platform/base/Value.h"

// The longest string or bytes field the decoder accepts.
inline constexpr std::size_t kMSRPBMaxStringLength = 0x100000;

// Frees `elements` (not the elements themselves) and zeroes the holder; the holder stays.
void MSRPBRepeatedFieldDealloc(MSRPBRepeatedField* field);
// Frees `bytes` and zeroes the record; the record stays.
void MSRPBStringFieldDealloc(MSRPBStringField* field);

// Scalar stores into a slot (or an element entry): the cell is allocated on the first store.
// Bool and 32-bit values are kept zero-extended in an 8-byte cell, floats in a 4-byte cell.
void MSRPBSetBool(void** slot, bool value);
void MSRPBSetUInt32(void** slot, std::uint32_t value);
void MSRPBSetUInt64(void** slot, std::uint64_t value);
void MSRPBSetFloat(void** slot, float value);
void MSRPBSetDouble(void** slot, double value);
// Replaces the slot's string with a copy of `length` bytes plus one terminating zero byte.
void MSRPBSetString(void** slot, const void* bytes, std::uint32_t length);

// nanopb callbacks. The argument of the string callbacks is a slot address (void**); that of the
// repeated callbacks is the field's MSRPBRepeatedField*.
bool MSRPBDecodeString(pb_istream_t* stream, const pb_field_t* field, void** arg);
bool MSRPBDecodeRepeatedString(pb_istream_t* stream, const pb_field_t* field, void** arg);
bool MSRPBDecodeRepeatedVarint(pb_istream_t* stream, const pb_field_t* field, void** arg);
bool MSRPBEncodeString(pb_ostream_t* stream, const pb_field_t* field, void* const* arg);
bool MSRPBEncodeRepeatedString(pb_ostream_t* stream, const pb_field_t* field, void* const* arg);
bool MSRPBEncodeRepeatedVarint(pb_ostream_t* stream, const pb_field_t* field, void* const* arg);

// Encodes a filled nanopb structure into a new zeroed heap buffer of exactly the encoded size,
// handed to the caller (release with free()). Returns the length, or -1 with *output null.
std::int32_t MSRPBEncodeToBuffer(const pb_msgdesc_t* descriptor, const void* structure,
                                 std::uint8_t** output);

// Value to record. Nil changes nothing and succeeds; a value of another kind fails. The record's
// old bytes are not freed here: callers free them first.
bool MSRPBCopyStringToHolder(const platform::Value& string, MSRPBStringField* holder);
bool MSRPBCopyDataToHolder(const platform::Value& data, MSRPBStringField* holder);
