#include "measurement/messages/MSRPBCodecs.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <random>
#include <string>

#include "measurement/messages/MSRPBFieldRuntime.h"
#include "measurement/messages/MSRPBSchema.h"
#include "measurement/messages/tests/WireTestSupport.h"
#include "platform/testing/PlatformTest.h"

using namespace msrpb_test;

// Allocation failure on demand for this test program: when the count is set, the allocation that
// brings it to 0 on this thread fails as an exhausted heap does. Everything else is plain malloc.
namespace {
thread_local long allocationsBeforeFailure = 0;  // 0: none fails
// Out of line so that the compiler does not pair a free() with the operator new it replaces.
[[gnu::noinline]] void releaseMemory(void* memory) noexcept { std::free(memory); }
}  // namespace

void* operator new(std::size_t size) {
  if (allocationsBeforeFailure > 0 && --allocationsBeforeFailure == 0) throw std::bad_alloc();
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return ::operator new(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void operator delete(void* memory) noexcept { releaseMemory(memory); }
void operator delete(void* memory, std::size_t) noexcept { releaseMemory(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { releaseMemory(memory); }

namespace {

class MSRPBCodecsTest : public platform::testing::PlatformTest {};

void fillValue(const MSRPBFieldInfo& fieldInfo, void** slot, std::uint32_t variant, int depth);

// Sets every field of `info`, nesting sub-messages down to `depth` 0, with values that differ
// by slot so that a field landing in the wrong slot changes the encoding.
void fillMessage(const MSRPBMessageType& type, MessageInfo* info, int depth) {
  for (std::uint32_t i = 0; i < type.fieldCount; ++i) {
    const MSRPBFieldInfo& fieldInfo = type.fields[i];
    if (fieldInfo.flags & MSRPBFieldRepeated) {
      if ((fieldInfo.flags & MSRPBFieldMessage) && depth == 0) continue;
      auto* holder = static_cast<MSRPBRepeatedField*>(info->fields[i]);
      holder->count = 2;
      holder->elements = static_cast<void**>(std::calloc(2, sizeof(void*)));
      for (std::uint32_t e = 0; e < 2; ++e)
        fillValue(fieldInfo, &holder->elements[e], i * 10 + e, depth);
    } else {
      if ((fieldInfo.flags & MSRPBFieldMessage) && depth == 0) continue;
      fillValue(fieldInfo, &info->fields[i], i, depth);
    }
  }
}

void fillValue(const MSRPBFieldInfo& fieldInfo, void** slot, std::uint32_t variant, int depth) {
  const std::uint32_t f = fieldInfo.flags;
  if (f & MSRPBFieldBool) {
    MSRPBSetBool(slot, true);
  } else if (f & MSRPBFieldInt32) {
    MSRPBSetUInt32(slot, static_cast<std::uint32_t>(-5 - static_cast<int>(variant)));
  } else if (f & (MSRPBFieldUInt32 | MSRPBFieldEnum)) {
    MSRPBSetUInt32(slot, 4000000000u + variant);
  } else if (f & MSRPBFieldInt64) {
    MSRPBSetUInt64(slot, static_cast<std::uint64_t>(-1234567890123LL - variant));
  } else if (f & MSRPBFieldUInt64) {
    MSRPBSetUInt64(slot, 0xF000000000000000ull + variant);
  } else if (f & MSRPBFieldFloat) {
    MSRPBSetFloat(slot, 1.5f + static_cast<float>(variant));
  } else if (f & MSRPBFieldDouble) {
    MSRPBSetDouble(slot, -2.25 - variant);
  } else if (f & MSRPBFieldString) {
    const std::string text = "value-" + std::to_string(variant) + "-\xC3\xA9";
    MSRPBSetString(slot, text.data(), static_cast<std::uint32_t>(text.size()));
  } else if (f & MSRPBFieldMessage) {
    auto* sub = static_cast<MessageInfo*>(std::calloc(1, sizeof(MessageInfo)));
    MSRPBMessageInit(*fieldInfo.messageType, sub);
    fillMessage(*fieldInfo.messageType, sub, depth - 1);
    *slot = sub;
  }
}

const MSRPBMessageType& typeNamed(const char* name) {
  const MSRPBMessageType* type = MSRPBMessageTypeNamed(name);
  EXPECT_NE(type, nullptr) << name;
  return *type;
}

TEST_F(MSRPBCodecsTest, SchemaTablesMatchTheMessageTypes) {
  ASSERT_EQ(MSRPBAllMessageTypes().size(), 33u);
  const struct {
    const char* name;
    std::uint32_t fields;
  } expected[] = {{"Address", 7},    {"MeasurementBundle", 46}, {"MeasurementBatch", 1},
                  {"EventParam", 6}, {"RuntimeEntity", 6},      {"EventFilter", 8},
                  {"Flag", 5}};
  for (const auto& row : expected) {
    EXPECT_EQ(typeNamed(row.name).fieldCount, row.fields) << row.name;
  }
  for (const MSRPBMessageType* type : MSRPBAllMessageTypes()) {
    for (std::uint32_t i = 0; i < type->fieldCount; ++i) {
      const std::uint32_t flags = type->flags[i];
      // Exactly one label bit and one type bit.
      EXPECT_EQ(__builtin_popcount(flags & 0xA), 1) << type->name << " slot " << i;
      EXPECT_EQ(__builtin_popcount(flags & ~0xAu), 1) << type->name << " slot " << i;
      EXPECT_EQ((flags & MSRPBFieldMessage) != 0, type->fields[i].messageType != nullptr);
    }
  }
  // A sample of flag words.
  EXPECT_EQ(typeNamed("Event").flags[1], 0x2002u);
  EXPECT_EQ(typeNamed("Event").flags[0], 0x4008u);
  EXPECT_EQ(typeNamed("EventConfig").flags[1], 0x22u);
  EXPECT_EQ(typeNamed("MeasurementBundle").flags[37], 0x108u);
  EXPECT_EQ(typeNamed("MeasurementBundle").flags[41], 0x42u);
}

TEST_F(MSRPBCodecsTest, EveryMessageRoundTripsWithAllFieldKinds) {
  for (const MSRPBMessageType* type : MSRPBAllMessageTypes()) {
    SCOPED_TRACE(type->name);
    OwnedInfo original = newInfo(*type);
    fillMessage(*type, original.get(), 3);
    bool ok = false;
    const Wire bytes = encode(*type, original.get(), &ok);
    ASSERT_TRUE(ok);
    ASSERT_FALSE(bytes.empty());

    OwnedInfo decoded = newInfo(*type);
    ASSERT_EQ(MSRPBMessageDecode(*type, bytes.data(), bytes.size(), decoded.get()), 1);
    EXPECT_EQ(encode(*type, decoded.get()), bytes);

    MessageInfo* copy = nullptr;
    ASSERT_EQ(MSRPBMessageCopy(*type, &copy, decoded.get()), 1);
    OwnedInfo ownedCopy(copy, InfoDeleter{type});
    decoded.reset();
    original.reset();
    EXPECT_EQ(encode(*type, copy), bytes);
    EXPECT_STREQ(copy->name, type->name);
  }
}

// Running out of memory anywhere in an encoding fails that Encode with -1 and no buffer, and
// leaves nothing behind: the next encodings on the thread give the full bytes.
TEST_F(MSRPBCodecsTest, AllocationFailureFailsTheEncodeAndTheNextOneWorks) {
  for (const char* name : {"MeasurementBatch", "Event"}) {
    SCOPED_TRACE(name);
    const MSRPBMessageType& type = typeNamed(name);
    OwnedInfo info = newInfo(type);
    fillMessage(type, info.get(), 3);
    bool ok = false;
    const Wire expected = encode(type, info.get(), &ok);
    ASSERT_TRUE(ok);
    int failed = 0;
    for (long failAt = 1;; ++failAt) {
      SCOPED_TRACE(failAt);
      std::uint8_t* output = reinterpret_cast<std::uint8_t*>(1);
      std::int32_t length = 0;
      allocationsBeforeFailure = failAt;
      EXPECT_NO_THROW(length = MSRPBMessageEncode(type, info.get(), &output));
      const bool reachedFailure = allocationsBeforeFailure == 0;
      allocationsBeforeFailure = 0;
      if (reachedFailure) {
        ++failed;
        EXPECT_EQ(length, -1);
        EXPECT_EQ(output, nullptr);
      } else {
        ASSERT_EQ(length, static_cast<std::int32_t>(expected.size()));
      }
      if (output != nullptr && output != reinterpret_cast<std::uint8_t*>(1)) std::free(output);
      EXPECT_EQ(encode(type, info.get()), expected);
      if (!reachedFailure) break;
    }
    EXPECT_GT(failed, 1);
  }
}

TEST_F(MSRPBCodecsTest, DecodedValuesLandInTheirSlots) {
  const MSRPBMessageType& type = typeNamed("EventParam");
  Wire nested;
  stringField(nested, 1, "inner");
  varintField(nested, 3, static_cast<std::uint64_t>(-7LL));
  Wire wire;
  stringField(wire, 1, "outer");
  varintField(wire, 3, 42);
  tag(wire, 5, 1);
  const double d = 2.5;
  const auto* raw = reinterpret_cast<const std::uint8_t*>(&d);
  wire.insert(wire.end(), raw, raw + 8);
  bytesField(wire, 6, nested);
  bytesField(wire, 6, nested);

  OwnedInfo info = newInfo(type);
  ASSERT_EQ(MSRPBMessageDecode(type, wire.data(), wire.size(), info.get()), 1);
  auto* name = static_cast<MSRPBStringField*>(info->fields[0]);
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(name->bytes), name->length), "outer");
  EXPECT_EQ(info->fields[1], nullptr);
  EXPECT_EQ(*static_cast<std::int64_t*>(info->fields[2]), 42);
  EXPECT_EQ(info->fields[3], nullptr);
  EXPECT_EQ(*static_cast<double*>(info->fields[4]), 2.5);
  auto* children = static_cast<MSRPBRepeatedField*>(info->fields[5]);
  ASSERT_EQ(children->count, 2u);
  for (std::uint32_t i = 0; i < 2; ++i) {
    auto* child = static_cast<MessageInfo*>(children->elements[i]);
    EXPECT_STREQ(child->name, "EventParam");
    EXPECT_EQ(*static_cast<std::int64_t*>(child->fields[2]), -7);
  }
}

TEST_F(MSRPBCodecsTest, EmptyInputGivesEmptyMessages) {
  for (const MSRPBMessageType* type : MSRPBAllMessageTypes()) {
    OwnedInfo info = newInfo(*type);
    ASSERT_EQ(MSRPBMessageDecode(*type, nullptr, 0, info.get()), 1) << type->name;
    for (std::uint32_t i = 0; i < type->fieldCount; ++i) {
      if (type->flags[i] & MSRPBFieldRepeated) {
        auto* holder = static_cast<MSRPBRepeatedField*>(info->fields[i]);
        ASSERT_NE(holder, nullptr);
        EXPECT_EQ(holder->count, 0u);
        EXPECT_EQ(holder->elements, nullptr);
      } else {
        EXPECT_EQ(info->fields[i], nullptr) << type->name << " slot " << i;
      }
    }
    bool ok = false;
    EXPECT_TRUE(encode(*type, info.get(), &ok).empty());
    EXPECT_TRUE(ok) << "nothing set still gives a buffer";
  }
}

TEST_F(MSRPBCodecsTest, MeasurementBundleWritesTagsInTagOrderFromItsOwnSlotOrder) {
  const MSRPBMessageType& type = typeNamed("MeasurementBundle");
  struct Row {
    std::uint32_t slot;
    std::uint32_t tag;
  };
  for (Row row : {Row{6, 26}, Row{20, 27}, Row{24, 23}, Row{35, 39}, Row{0, 1}}) {
    OwnedInfo info = newInfo(type);
    if (type.flags[row.slot] & MSRPBFieldString) {
      MSRPBSetString(&info->fields[row.slot], "x", 1);
    } else {
      MSRPBSetUInt64(&info->fields[row.slot], 3);
    }
    const Wire bytes = encode(type, info.get());
    ASSERT_FALSE(bytes.empty());
    Wire expectedTag;
    tag(expectedTag, row.tag, (type.flags[row.slot] & MSRPBFieldString) ? 2 : 0);
    EXPECT_TRUE(std::equal(expectedTag.begin(), expectedTag.end(), bytes.begin()))
        << "slot " << row.slot;
  }
  // Slot 45 holds the hashed user data, tag 59.
  OwnedInfo info = newInfo(type);
  auto* hashed = static_cast<MessageInfo*>(std::calloc(1, sizeof(MessageInfo)));
  MSRPBHashedUserDataInit(hashed);
  MSRPBSetString(&hashed->fields[0], "h", 1);
  info->fields[45] = hashed;
  Wire expected;
  Wire inner;
  stringField(inner, 1, "h");
  bytesField(expected, 59, inner);
  EXPECT_EQ(encode(type, info.get()), expected);

  // Slots 3 and 18 go out as tag 4 before tag 18.
  OwnedInfo both = newInfo(type);
  MSRPBSetUInt64(&both->fields[18], 9);
  MSRPBSetUInt64(&both->fields[3], 8);
  Wire ordered;
  varintField(ordered, 4, 8);
  varintField(ordered, 18, 9);
  EXPECT_EQ(encode(type, both.get()), ordered);

  // Tag 27 comes back into slot 20.
  Wire input;
  stringField(input, 27, "vendor");
  OwnedInfo decoded = newInfo(type);
  ASSERT_EQ(MSRPBMessageDecode(type, input.data(), input.size(), decoded.get()), 1);
  ASSERT_NE(decoded->fields[20], nullptr);
  EXPECT_EQ(static_cast<MSRPBStringField*>(decoded->fields[20])->length, 6u);
}

TEST_F(MSRPBCodecsTest, RepeatedIntegersDecodePackedOrUnpackedAndEncodeUnpacked) {
  const MSRPBMessageType& type = typeNamed("MeasurementBundle");
  Wire unpacked;
  for (std::uint64_t v : {1u, 300u, 4000000000u}) varintField(unpacked, 45, v);
  Wire packedPayload;
  for (std::uint64_t v : {1u, 300u, 4000000000u}) varint(packedPayload, v);
  Wire packed;
  bytesField(packed, 45, packedPayload);

  for (const Wire* input : {&unpacked, &packed}) {
    OwnedInfo info = newInfo(type);
    ASSERT_EQ(MSRPBMessageDecode(type, input->data(), input->size(), info.get()), 1);
    auto* holder = static_cast<MSRPBRepeatedField*>(info->fields[37]);
    ASSERT_EQ(holder->count, 3u);
    EXPECT_EQ(*static_cast<std::uint64_t*>(holder->elements[1]), 300u);
    EXPECT_EQ(encode(type, info.get()), unpacked);
  }
  // An empty packed run is no elements, not an error.
  Wire emptyRun;
  bytesField(emptyRun, 45, {});
  OwnedInfo info = newInfo(type);
  EXPECT_EQ(MSRPBMessageDecode(type, emptyRun.data(), emptyRun.size(), info.get()), 1);
  EXPECT_EQ(static_cast<MSRPBRepeatedField*>(info->fields[37])->count, 0u);
}

TEST_F(MSRPBCodecsTest, NegativeRepeatedInt64TakesTenBytes) {
  const MSRPBMessageType& type = typeNamed("SequenceFilterResultTimestamp");
  OwnedInfo info = newInfo(type);
  auto* holder = static_cast<MSRPBRepeatedField*>(info->fields[1]);
  holder->count = 1;
  holder->elements = static_cast<void**>(std::calloc(1, sizeof(void*)));
  MSRPBSetUInt64(&holder->elements[0], static_cast<std::uint64_t>(-1LL));
  const Wire bytes = encode(type, info.get());
  EXPECT_EQ(bytes.size(), 11u);
  OwnedInfo decoded = newInfo(type);
  ASSERT_EQ(MSRPBMessageDecode(type, bytes.data(), bytes.size(), decoded.get()), 1);
  auto* back = static_cast<MSRPBRepeatedField*>(decoded->fields[1]);
  ASSERT_EQ(back->count, 1u);
  EXPECT_EQ(*static_cast<std::int64_t*>(back->elements[0]), -1);
}

TEST_F(MSRPBCodecsTest, FirstOccurrenceOfAStringWinsAndEmptyStringsArePresent) {
  const MSRPBMessageType& type = typeNamed("Setting");
  Wire wire;
  stringField(wire, 1, "first");
  stringField(wire, 2, "");
  stringField(wire, 1, "second");
  OwnedInfo info = newInfo(type);
  ASSERT_EQ(MSRPBMessageDecode(type, wire.data(), wire.size(), info.get()), 1);
  auto* name = static_cast<MSRPBStringField*>(info->fields[0]);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(name->bytes), name->length), "first");
  auto* value = static_cast<MSRPBStringField*>(info->fields[1]);
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(value->length, 0u);
  EXPECT_NE(value->bytes, nullptr);
}

TEST_F(MSRPBCodecsTest, StringsUpToOneMebibyteDecodeAndLongerOnesFail) {
  const MSRPBMessageType& type = typeNamed("Setting");
  for (std::size_t length : {kMSRPBMaxStringLength, kMSRPBMaxStringLength + 1}) {
    Wire wire;
    stringField(wire, 2, std::string(length, 'a'));
    OwnedInfo info = newInfo(type);
    testing::internal::CaptureStdout();
    const int result = MSRPBMessageDecode(type, wire.data(), wire.size(), info.get());
    const std::string out = testing::internal::GetCapturedStdout();
    if (length == kMSRPBMaxStringLength) {
      EXPECT_EQ(result, 1);
      EXPECT_EQ(static_cast<MSRPBStringField*>(info->fields[1])->length, length);
    } else {
      EXPECT_EQ(result, 0);
      EXPECT_NE(out.find("Unable to process proto stream. Buffer is too big. 1048577 > 1048576"),
                std::string::npos)
          << out;
      EXPECT_NE(out.find("<ERROR> Setting decoder failed: "), std::string::npos) << out;
    }
  }
}

TEST_F(MSRPBCodecsTest, AbsentSingularSubMessagesLeaveTheirSlotNull) {
  const MSRPBMessageType& type = typeNamed("HashedUserData");
  Wire wire;
  stringField(wire, 1, "only");
  OwnedInfo info = newInfo(type);
  ASSERT_EQ(MSRPBMessageDecode(type, wire.data(), wire.size(), info.get()), 1);
  EXPECT_EQ(info->fields[2], nullptr);

  // Present: the sub-message's strings are decoded through the parent's single pass.
  Wire address;
  stringField(address, 7, "street");
  bytesField(wire, 3, address);
  OwnedInfo withAddress = newInfo(type);
  ASSERT_EQ(MSRPBMessageDecode(type, wire.data(), wire.size(), withAddress.get()), 1);
  auto* sub = static_cast<MessageInfo*>(withAddress->fields[2]);
  ASSERT_NE(sub, nullptr);
  EXPECT_EQ(static_cast<MSRPBStringField*>(sub->fields[6])->length, 6u);

  // A sub-message with repeated fields of its own (ResultData in AudienceLeafFilterResult).
  const MSRPBMessageType& leaf = typeNamed("AudienceLeafFilterResult");
  Wire data;
  varintField(data, 1, 5);
  varintField(data, 1, 6);
  Wire leafWire;
  bytesField(leafWire, 3, data);
  OwnedInfo leafInfo = newInfo(leaf);
  ASSERT_EQ(MSRPBMessageDecode(leaf, leafWire.data(), leafWire.size(), leafInfo.get()), 1);
  EXPECT_EQ(leafInfo->fields[1], nullptr);
  auto* previous = static_cast<MessageInfo*>(leafInfo->fields[2]);
  ASSERT_NE(previous, nullptr);
  EXPECT_EQ(static_cast<MSRPBRepeatedField*>(previous->fields[0])->count, 2u);
  EXPECT_EQ(encode(leaf, leafInfo.get()), leafWire);
}

TEST_F(MSRPBCodecsTest, UnknownFieldsAreSkipped) {
  const MSRPBMessageType& type = typeNamed("Setting");
  Wire wire;
  varintField(wire, 15, 99);
  stringField(wire, 1, "n");
  tag(wire, 16, 5);
  wire.insert(wire.end(), {1, 2, 3, 4});
  stringField(wire, 300, "ignored");
  OwnedInfo info = newInfo(type);
  ASSERT_EQ(MSRPBMessageDecode(type, wire.data(), wire.size(), info.get()), 1);
  Wire expected;
  stringField(expected, 1, "n");
  EXPECT_EQ(encode(type, info.get()), expected);
}

TEST_F(MSRPBCodecsTest, AFailingElementFailsItsParentWithBothTexts) {
  const MSRPBMessageType& type = typeNamed("Event");
  Wire badParam;
  tag(badParam, 1, 2);
  varint(badParam, 50);  // a length past the end
  Wire wire;
  bytesField(wire, 1, badParam);
  OwnedInfo info = newInfo(type);
  testing::internal::CaptureStdout();
  EXPECT_EQ(MSRPBMessageDecode(type, wire.data(), wire.size(), info.get()), 0);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("<ERROR> EventParam decoder failed: Unable to decode repeated EventParam\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("<ERROR> Event decoder failed: "), std::string::npos) << out;
}

TEST_F(MSRPBCodecsTest, NullArgumentsAndUnknownSlotsAreRefused) {
  const MSRPBMessageType& type = typeNamed("Flag");
  testing::internal::CaptureStdout();
  EXPECT_EQ(MSRPBFlagDecode(nullptr, 0, nullptr), 0);
  OwnedInfo info = newInfo(type);
  EXPECT_EQ(MSRPBFlagFreeField(info.get(), 5), 0);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("<ERROR> Flag decoder failed: message_info is NULL\n"), std::string::npos);
  EXPECT_NE(out.find("<ERROR> Flag: Cannot deallocate field 5: Unknown field\n"),
            std::string::npos);
  EXPECT_EQ(MSRPBFlagEncode(info.get(), nullptr), -1);
  EXPECT_EQ(MSRPBFlagInit(nullptr), 0);
  EXPECT_EQ(MSRPBFlagDeallocate(nullptr), 0);
  EXPECT_EQ(MSRPBFlagCopy(nullptr, info.get()), 0);
  MessageInfo* same = info.get();
  EXPECT_EQ(MSRPBFlagCopy(&same, info.get()), 0) << "copying onto the source is refused";
}

TEST_F(MSRPBCodecsTest, FreeingARepeatedFieldKeepsAHolderThatCanBeFilledAgain) {
  const MSRPBMessageType& type = typeNamed("Event");
  OwnedInfo info = newInfo(type);
  fillMessage(type, info.get(), 2);
  auto* holder = static_cast<MSRPBRepeatedField*>(info->fields[0]);
  ASSERT_EQ(holder->count, 2u);
  EXPECT_EQ(MSRPBEventFreeField(info.get(), 0), 1);
  EXPECT_EQ(info->fields[0], holder);
  EXPECT_EQ(holder->count, 0u);
  EXPECT_EQ(holder->elements, nullptr);
  fillMessage(type, info.get(), 1);
  EXPECT_EQ(holder->count, 2u);
  EXPECT_EQ(MSRPBEventFreeField(info.get(), 1), 1);
  EXPECT_EQ(info->fields[1], nullptr);
}

TEST_F(MSRPBCodecsTest, SelfNestedMessagesDecodeToAnyReasonableDepthAndRefuseDeeper) {
  const MSRPBMessageType& type = typeNamed("RuntimeEntity");
  auto nested = [](int depth) {
    Wire wire;
    varintField(wire, 1, 3);
    for (int i = 0; i < depth; ++i) {
      Wire outer;
      varintField(outer, 1, static_cast<std::uint64_t>(i));
      bytesField(outer, 2, wire);
      wire = outer;
    }
    return wire;
  };
  const Wire ok = nested(kMSRPBMaxDecodeDepth - 1);
  OwnedInfo info = newInfo(type);
  ASSERT_EQ(MSRPBMessageDecode(type, ok.data(), ok.size(), info.get()), 1);
  EXPECT_EQ(encode(type, info.get()), ok);

  const Wire tooDeep = nested(kMSRPBMaxDecodeDepth + 5);
  OwnedInfo refused = newInfo(type);
  testing::internal::CaptureStdout();
  EXPECT_EQ(MSRPBMessageDecode(type, tooDeep.data(), tooDeep.size(), refused.get()), 0);
  testing::internal::GetCapturedStdout();
}

TEST_F(MSRPBCodecsTest, RandomAndMutatedInputIsRefusedOrDecodedWithoutHarm) {
  std::mt19937 random(20261207);
  testing::internal::CaptureStdout();
  int decodedCount = 0;
  for (const MSRPBMessageType* type : MSRPBAllMessageTypes()) {
    OwnedInfo filled = newInfo(*type);
    fillMessage(*type, filled.get(), 2);
    const Wire valid = encode(*type, filled.get());
    for (int round = 0; round < 120; ++round) {
      Wire input;
      if (round % 2 == 0) {
        input.resize(random() % 48);
        for (auto& byte : input) byte = static_cast<std::uint8_t>(random());
      } else {
        input = valid;
        for (int flips = 1 + random() % 4; flips > 0 && !input.empty(); --flips) {
          input[random() % input.size()] = static_cast<std::uint8_t>(random());
        }
        if (random() % 3 == 0 && !input.empty()) input.resize(random() % input.size());
      }
      OwnedInfo info = newInfo(*type);
      if (MSRPBMessageDecode(*type, input.data(), input.size(), info.get())) {
        ++decodedCount;
        // Whatever decoded must encode again and survive a copy.
        bool ok = false;
        const Wire again = encode(*type, info.get(), &ok);
        EXPECT_TRUE(ok) << type->name;
        MessageInfo* copy = nullptr;
        EXPECT_EQ(MSRPBMessageCopy(*type, &copy, info.get()), 1);
        OwnedInfo ownedCopy(copy, InfoDeleter{type});
        EXPECT_EQ(encode(*type, copy), again);
      }
    }
  }
  testing::internal::GetCapturedStdout();
  EXPECT_GT(decodedCount, 0);
}

}  // namespace
