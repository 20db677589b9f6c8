// The codec family of every measurement message: create, free one field, free all, deep copy,
// decode from bytes and encode to bytes. Each operation returns 1 for success and 0 for failure
// (Encode: the length or -1) and prints an "<ERROR>" line to standard output on failure.
// No global state, no locks: a MessageInfo belongs to one owner at a time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "measurement/messages/MSRPBMessageInfo.h"

// For message M:
//   MSRPB<M>Init(message): types a zeroed MessageInfo (slots zeroed, empty repeated holders).
//   MSRPB<M>FreeField(message, index): empties one slot; a repeated holder stays.
//   MSRPB<M>Deallocate(message): frees every field and the record itself.
//   MSRPB<M>Copy(&destination, source): frees *destination and replaces it by a deep copy.
//   MSRPB<M>Decode(bytes, length, message): fills a freshly initialised message.
//   MSRPB<M>Encode(message, &output): a new heap buffer (release with free()) and its length.
#define MSRPB_DECLARE_CODEC_FAMILY(M)                                                        \
  int MSRPB##M##Init(MessageInfo* message);                                                  \
  int MSRPB##M##FreeField(MessageInfo* message, int index);                                  \
  int MSRPB##M##Deallocate(MessageInfo* message);                                            \
  int MSRPB##M##Copy(MessageInfo** destination, const MessageInfo* source);                  \
  int MSRPB##M##Decode(const std::uint8_t* bytes, std::size_t length, MessageInfo* message); \
  std::int32_t MSRPB##M##Encode(const MessageInfo* message, std::uint8_t** output);

// The 33 messages, in name order.
// clang-format off
#define MSRPB_FOR_EACH_MESSAGE(X) \
  X(Address) X(AppProperty) X(Audience) X(AudienceLeafFilterResult) \
  X(ClientProperty) X(CustomProperty) X(DynamicFilterResultTimestamp) X(Event) \
  X(EventConfig) X(EventFilter) X(EventParam) X(Experiment) X(ExperimentRequest) \
  X(ExperimentResponse) X(Filter) X(Flag) X(HashedUserData) X(MeasurementBatch) \
  X(MeasurementBundle) X(MeasurementConfig) X(NumberFilter) X(OgtActivities) \
  X(OgtActivity) X(Program) X(PropertyFilter) X(ResultData) X(RuntimeEntity) \
  X(SdkResponse) X(SequenceFilterResultTimestamp) X(Setting) X(Snapshot) \
  X(StringFilter) X(UserAttribute)
// clang-format on

MSRPB_FOR_EACH_MESSAGE(MSRPB_DECLARE_CODEC_FAMILY)

// Nesting the self-containing messages (EventParam, RuntimeEntity) deeper than this is refused
// rather than risking the stack.
inline constexpr int kMSRPBMaxDecodeDepth = 64;
