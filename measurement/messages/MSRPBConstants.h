// The measurement messages' own texts: the "<ERROR>" lines the codecs and the field runtime print
// to standard output, the accessors' system-log lines (printf formats), and the flag helpers'
// monitor messages.
#pragma once

// Field runtime (standard output).
inline constexpr char kMSRPBArrayNullText[] =
    "<ERROR> Unable to initialize the array. Array pointer is NULL\n";
inline constexpr char kMSRPBStringStructNullText[] =
    "<ERROR> Unable to dealloc string field. String struct is NULL\n";
inline constexpr char kMSRPBSetBoolNullText[] =
    "<ERROR> Unable to set bool. Destination pointer is NULL\n";
inline constexpr char kMSRPBSetUInt32NullText[] =
    "<ERROR> Unable to set uint32. Destination pointer is NULL\n";
inline constexpr char kMSRPBSetUInt64NullText[] =
    "<ERROR> Unable to set uint64. Destination pointer is NULL\n";
inline constexpr char kMSRPBSetFloatNullText[] =
    "<ERROR> Unable to set float. Destination pointer is NULL\n";
inline constexpr char kMSRPBSetDoubleNullText[] =
    "<ERROR> Unable to set double. Destination pointer is NULL\n";
inline constexpr char kMSRPBSetStringNullText[] =
    "<ERROR> Unable to set string. Destination array is NULL\n";
inline constexpr char kMSRPBStringDataNullText[] =
    "<ERROR> String decoder failed: string data is NULL\n";
// Length, limit; no line end.
inline constexpr char kMSRPBBufferTooBigFormat[] =
    "Unable to process proto stream. Buffer is too big. %zu > %d";

// Codecs (standard output); the first %s is the message name.
inline constexpr char kMSRPBDecoderNoMessageFormat[] =
    "<ERROR> %s decoder failed: message_info is NULL\n";
inline constexpr char kMSRPBDecoderSetDecodersFormat[] =
    "<ERROR> %s decoder failed: Unable to set decoders\n";
inline constexpr char kMSRPBDecoderAllocateArraysFormat[] =
    "<ERROR> %s decoder failed: Unable to allocate arrays\n";
// The second %s is nanopb's error text or "(none)".
inline constexpr char kMSRPBDecoderFailedFormat[] = "<ERROR> %s decoder failed: %s\n";
inline constexpr char kMSRPBMissingArrayFormat[] =
    "<ERROR> Cannot allocate %s arrays. Missing params field (%s)\n";
inline constexpr char kMSRPBInvalidArgFormat[] =
    "<ERROR> %s decoder failed: Invalid arg parameter\n";
inline constexpr char kMSRPBExtractBufferFormat[] =
    "<ERROR> %s decoder failed: Unable to extract buffer from stream\n";
inline constexpr char kMSRPBInitializeElementFormat[] =
    "<ERROR> %s decoder failed: Unable to initialize MessageInfo\n";
inline constexpr char kMSRPBDecodeRepeatedFormat[] =
    "<ERROR> %s decoder failed: Unable to decode repeated %s\n";
inline constexpr char kMSRPBEncoderMissingArrayFormat[] =
    "<ERROR> %s Encoder: '%s' should have been allocated\n";
inline constexpr char kMSRPBUnknownFieldFormat[] =
    "<ERROR> %s: Cannot deallocate field %d: Unknown field\n";
inline constexpr char kMSRPBTooDeepText[] = "nesting too deep";

// Accessors by slot (system log).
inline constexpr char kMSRPBNotInitializedFormat[] =
    "ProtocolBuffer message hasn't been initialized. %s can't be performed";
inline constexpr char kMSRPBHasFieldNotInitializedFormat[] =
    "ProtocolBuffer message hasn't been initialized. HasField operation can't be performed. "
    "Message name %s";
// Type word, message name, slot.
inline constexpr char kMSRPBNotScalarFormat[] =
    "<Nano/Failure> Field type isn't a scalar %s. Message: %s, field ID: %d";
inline constexpr char kMSRPBNotRepeatedFormat[] =
    "<Nano/Failure> Field type isn't REPEATED. Message: %s, field ID: %d";
inline constexpr char kMSRPBOutOfRangeFormat[] =
    "<Nano/Failure> Field ID is out of range. Message: %s, field ID: %d";
inline constexpr char kMSRPBRepeatedNotAllocatedText[] =
    "<ERROR> Repeated field should have been allocated";
// Kind ("Boolean", "Int32", ...), expected class, the object's class.
inline constexpr char kMSRPBInvalidObjectFormat[] =
    "<ERROR> Invalid object type. %s fields expect %s. Type: %s";
inline constexpr char kMSRPBNoInitWithMessageInfoFormat[] =
    "<ERROR> Provided class doesn't implement initWithMessageInfo: method. Class: %s";
inline constexpr char kMSRPBNullElementText[] =
    "<ERROR> Unable to convert NULL data to an ObjC object";
inline constexpr char kMSRPBUnknownElementTypeFormat[] =
    "<ERROR> Unable to convert byte data to an ObjC object. Unknown type. %d";
inline constexpr char kMSRPBUnknownObjectTypeFormat[] =
    "<ERROR> Unable to convert ObjC object to byte data. Unknown type. %d";
inline constexpr char kMSRPBNullElementsText[] =
    "<ERROR> Unable to set NULL data to an ObjC object";

// Flag helpers (through the experiments monitor, found by this class name).
inline constexpr const char* kMSRPBExperimentsManagerClassName = "MSREManager";
inline constexpr const char* kMSRPBFlagNameNilMessage = "Flag name must not be nil";
inline constexpr const char* kMSRPBFlagNameNotStringMessage = "Flag name must be a string";
inline constexpr const char* kMSRPBFlagValueInvalidMessage = "Flag value is invalid";
