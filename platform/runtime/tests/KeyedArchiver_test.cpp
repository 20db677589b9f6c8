#include "platform/runtime/KeyedArchiver.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include <sys/resource.h>

#include "platform/runtime/Runtime.h"
#include "platform/testing/PlatformTest.h"

namespace platform {
namespace {

class KeyedArchiverTest : public platform::testing::PlatformTest {};

// An object with one field of every kind, nested objects included.
class Record : public runtime::RootObject, public SecureCoding {
 public:
  std::string className() const override { return "ARRecord"; }
  void encodeWithCoder(KeyedArchiver& coder) const override {
    coder.encodeString(title, "title");
    coder.encodeInt64(count, "count");
    coder.encodeBool(flag, "flag");
    coder.encodeDouble(ratio, "ratio");
    coder.encodeDate(when, "when");
    coder.encodeData(blob, "blob");
    coder.encodeObject(child ? Value(child) : Value(), "child");
    coder.encodeObject(Value(list), "list");
    coder.encodeObject(Value(map), "map");
  }
  static ObjectPtr decode(KeyedUnarchiver& coder) {
    auto r = std::make_shared<Record>();
    r->title = coder.decodeString("title").value_or("");
    r->count = coder.decodeInt64("count");
    r->flag = coder.decodeBool("flag");
    r->ratio = coder.decodeDouble("ratio");
    r->when = coder.decodeDate("when").value_or(0);
    r->blob = coder.decodeData("blob").value_or(Bytes{});
    r->child = coder.decodeObjectOfClass("ARRecord", "child").objectAs<Record>();
    ClassSet plain = {kArrayClassName, kDictionaryClassName, kStringClassName, kNumberClassName,
                      kDateClassName,  kDataClassName,       kNullClassName,   kSetClassName};
    if (auto v = coder.decodeObjectOfClasses(plain, "list"); v.array()) r->list = *v.array();
    if (auto v = coder.decodeObjectOfClasses(plain, "map"); v.dictionary())
      r->map = *v.dictionary();
    return r;
  }
  bool same(const Record& o) const {
    bool children = (!child && !o.child) || (child && o.child && child->same(*o.child));
    return title == o.title && count == o.count && flag == o.flag && ratio == o.ratio &&
           when == o.when && blob == o.blob && children && Value(list) == Value(o.list) &&
           Value(map) == Value(o.map);
  }

  std::string title;
  std::int64_t count = 0;
  bool flag = false;
  double ratio = 0;
  double when = 0;
  Bytes blob;
  std::shared_ptr<Record> child;
  Value::Array list;
  Value::Dictionary map;
};

// A runtime subclass of Record, so that allowing "ARRecord" allows it too.
class SpecialRecord : public Record {
 public:
  std::string className() const override { return "ARSpecialRecord"; }
};

// An object that can be archived but whose decoder yields no object.
class Empty : public runtime::RootObject, public SecureCoding {
 public:
  std::string className() const override { return "AREmpty"; }
  void encodeWithCoder(KeyedArchiver&) const override {}
};

// An object whose encoding contains itself.
class Loop : public runtime::RootObject, public SecureCoding {
 public:
  std::string className() const override { return "ARLoop"; }
  void encodeWithCoder(KeyedArchiver& coder) const override {
    coder.encodeObject(Value(std::const_pointer_cast<Object>(shared_from_this())), "self");
  }
};

const ArchiveDecoderRegistrar kRecordDecoder("ARRecord", &Record::decode);
const ArchiveDecoderRegistrar kSpecialDecoder("ARSpecialRecord", [](KeyedUnarchiver& coder) {
  auto base = std::static_pointer_cast<Record>(Record::decode(coder));
  auto special = std::make_shared<SpecialRecord>();
  special->title = base->title;
  return ObjectPtr(special);
});
const ArchiveDecoderRegistrar kEmptyDecoder("AREmpty",
                                            [](KeyedUnarchiver&) { return ObjectPtr(); });
const runtime::ClassRegistrar kRecordClass("ARRecord", runtime::kRootClassName, sizeof(Record),
                                           nullptr);
const runtime::ClassRegistrar kSpecialClass("ARSpecialRecord", "ARRecord", sizeof(SpecialRecord),
                                            nullptr);

std::shared_ptr<Record> sampleRecord() {
  auto r = std::make_shared<Record>();
  r->title = "héllo";
  r->count = -42;
  r->flag = true;
  r->ratio = 0.1;
  r->when = 1767225600.5;
  r->blob = {0, 1, 2, 255};
  r->child = std::make_shared<Record>();
  r->child->title = "inner";
  r->child->list = {Value(1), Value("two")};
  r->list = {Value(1),
             Value(2.5),
             Value("three"),
             Value::null(),
             Value::data(Bytes{9}),
             Value::date(5),
             Value(Value::Array{Value(true)}),
             Value::set({Value(1), Value(2)})};
  r->map = {{"a", Value(1)}, {"b", Value(Value::Dictionary{{"c", Value("d")}})}};
  return r;
}

std::uint32_t crc32(const std::uint8_t* data, std::size_t size) {
  std::uint32_t c = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < size; ++i) {
    c ^= data[i];
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
  }
  return c ^ 0xFFFFFFFFu;
}

// An archive around an arbitrary payload, with a correct header, so that the payload parser
// (not the checksum) is what meets the bytes.
Bytes withHeader(const Bytes& payload) {
  Bytes out = {'T', 'V', 'S', 'A', 1, 0, 0, 0};
  auto put32 = [&](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  put32(static_cast<std::uint32_t>(payload.size()));
  put32(crc32(payload.data(), payload.size()));
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}

const ClassSet kEverything = {
    "ARRecord",     kArrayClassName, kDictionaryClassName, kStringClassName, kNumberClassName,
    kDateClassName, kDataClassName,  kNullClassName,       kSetClassName,    kErrorClassName};

TEST_F(KeyedArchiverTest, NestedObjectsRoundTrip) {
  auto original = sampleRecord();
  ErrorPtr error;
  auto data = KeyedArchiver::archivedDataWithRootObject(Value(original), &error);
  ASSERT_TRUE(data) << error->description();
  EXPECT_EQ(error, nullptr);
  Value decoded = KeyedUnarchiver::unarchivedObjectOfClass("ARRecord", *data, &error);
  ASSERT_EQ(error, nullptr) << error->description();
  auto record = decoded.objectAs<Record>();
  ASSERT_NE(record, nullptr);
  EXPECT_TRUE(record->same(*original));
  EXPECT_EQ(record->child->list.at(1), Value("two"));
}

TEST_F(KeyedArchiverTest, EveryValueKindRoundTripsWithItsKind) {
  const Value cases[] = {
      Value(),
      Value::null(),
      Value(true),
      Value(false),
      Value(std::numeric_limits<long long>::min()),
      Value(std::numeric_limits<unsigned long long>::max()),
      Value(-0.0),
      Value(1e308),
      Value(std::numeric_limits<double>::infinity()),
      Value(""),
      Value("日本語 text"),
      Value::data(Bytes{}),
      Value::data(Bytes(1000, 7)),
      Value::date(-1.25),
      Value(Value::Array{}),
      Value::set({Value("x"), Value(1)}),
      Value(Value::Dictionary{}),
      Value(Value::Dictionary{{"", Value(1)}, {"k", Value(Value::Array{Value::null()})}}),
      Value(Error::make("com.example", -7, {{"why", Value("because")}})),
  };
  for (const Value& v : cases) {
    SCOPED_TRACE(v.description());
    ErrorPtr error;
    auto data = KeyedArchiver::archivedDataWithRootObject(v, &error);
    ASSERT_TRUE(data);
    Value back = KeyedUnarchiver::unarchivedObjectOfClasses(kEverything, *data, &error);
    ASSERT_EQ(error, nullptr) << error->description();
    EXPECT_EQ(back, v);
    EXPECT_EQ(back.kind(), v.kind());
    if (v.isNumber()) {
      EXPECT_EQ(back.numberKind(), v.numberKind());
      if (v.isFloatingPoint()) {
        EXPECT_EQ(std::signbit(back.doubleValue()), std::signbit(v.doubleValue()));
      }
    }
  }
}

TEST_F(KeyedArchiverTest, AllowListIsCheckedForEveryNestedValue) {
  auto data =
      *KeyedArchiver::archivedDataWithRootObject(Value(Value::Dictionary{{"tag", Value::date(1)}}));
  struct Case {
    ClassSet allowed;
    bool ok;
  };
  const Case cases[] = {
      {{kDictionaryClassName, kDateClassName, kStringClassName}, true},
      {{kDictionaryClassName, kStringClassName}, false},  // the date inside is not allowed
      {{kDictionaryClassName, kDateClassName}, false},    // nor are string keys
      {{kDateClassName, kStringClassName}, false},        // nor the dictionary itself
      {{runtime::kRootClassName}, true},                  // the root class allows everything
  };
  for (const Case& c : cases) {
    ErrorPtr error;
    Value v = KeyedUnarchiver::unarchivedObjectOfClasses(c.allowed, data, &error);
    EXPECT_EQ(!v.isNil(), c.ok);
    EXPECT_EQ(error == nullptr, c.ok);
    if (error) {
      EXPECT_EQ(error->domain(), kFileErrorDomain);
      EXPECT_EQ(error->code(), kCoderReadCorruptError);
    }
  }

  // A nested object that its parent's decoder does not allow fails the whole archive.
  auto outer = sampleRecord();
  outer->list = {Value(std::make_shared<Record>())};
  data = *KeyedArchiver::archivedDataWithRootObject(Value(outer));
  ErrorPtr error;
  EXPECT_TRUE(KeyedUnarchiver::unarchivedObjectOfClass("ARRecord", data, &error).isNil());
  ASSERT_NE(error, nullptr);
  EXPECT_NE(error->userInfo().at("NSDebugDescription").string()->find("ARRecord"),
            std::string::npos);
}

TEST_F(KeyedArchiverTest, SubclassOfAnAllowedRuntimeClassIsAllowed) {
  auto special = std::make_shared<SpecialRecord>();
  special->title = "special";
  auto data = *KeyedArchiver::archivedDataWithRootObject(Value(special));
  ErrorPtr error;
  auto back =
      KeyedUnarchiver::unarchivedObjectOfClass("ARRecord", data, &error).objectAs<SpecialRecord>();
  ASSERT_NE(back, nullptr) << error->description();
  EXPECT_EQ(back->title, "special");
  EXPECT_TRUE(KeyedUnarchiver::unarchivedObjectOfClass(
                  "ARSpecialRecord",
                  *KeyedArchiver::archivedDataWithRootObject(Value(std::make_shared<Record>())),
                  &error)
                  .isNil());
}

TEST_F(KeyedArchiverTest, StoredClassNameCanDecodeAsAnotherClass) {
  class OldName : public Record {
   public:
    std::string className() const override { return "AROldRecord"; }
  };
  auto old = std::make_shared<OldName>();
  old->title = "legacy";
  auto data = *KeyedArchiver::archivedDataWithRootObject(Value(old));

  ErrorPtr error;
  EXPECT_TRUE(KeyedUnarchiver::unarchivedObjectOfClass("ARRecord", data, &error).isNil());
  EXPECT_NE(error, nullptr);

  {
    KeyedUnarchiver coder(data);
    coder.setClassName("AROldRecord", "ARRecord");
    auto r = coder.decodeObjectOfClass("ARRecord", kKeyedArchiveRootObjectKey).objectAs<Record>();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->title, "legacy");
  }

  KeyedUnarchiver::setGlobalClassName("AROldRecord", "ARRecord");
  auto r = KeyedUnarchiver::unarchivedObjectOfClass("ARRecord", data, &error).objectAs<Record>();
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->title, "legacy");
  KeyedUnarchiver::setGlobalClassName("AROldRecord", "");
  EXPECT_TRUE(KeyedUnarchiver::unarchivedObjectOfClass("ARRecord", data, &error).isNil());
}

TEST_F(KeyedArchiverTest, TruncatedCorruptAndForeignInputIsRefused) {
  auto data = *KeyedArchiver::archivedDataWithRootObject(Value(sampleRecord()));
  ErrorPtr error;
  for (std::size_t n = 0; n < data.size(); ++n) {
    Bytes prefix(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(n));
    error = nullptr;
    EXPECT_TRUE(KeyedUnarchiver::unarchivedObjectOfClasses(kEverything, prefix, &error).isNil());
    ASSERT_NE(error, nullptr) << "prefix of " << n << " bytes";
    EXPECT_EQ(error->code(), kCoderReadCorruptError);
  }
  // Every single-bit flip is caught (header fields or the checksum).
  for (std::size_t i = 0; i < data.size(); i += 7) {
    Bytes flipped = data;
    flipped[i] ^= 0x10;
    error = nullptr;
    EXPECT_TRUE(KeyedUnarchiver::unarchivedObjectOfClasses(kEverything, flipped, &error).isNil());
    EXPECT_NE(error, nullptr) << "flip at " << i;
  }
  // Trailing bytes, another format, a newer version.
  Bytes longer = data;
  longer.push_back(0);
  const std::string plist = "<?xml version=\"1.0\"?><plist><dict/></plist>";
  Bytes newer = data;
  newer[4] = 2;
  for (const Bytes& bad : {longer, Bytes(plist.begin(), plist.end()), newer}) {
    error = nullptr;
    EXPECT_TRUE(KeyedUnarchiver::unarchivedObjectOfClasses(kEverything, bad, &error).isNil());
    EXPECT_NE(error, nullptr);
  }
}

TEST_F(KeyedArchiverTest, RandomInputNeverCrashes) {
  std::mt19937_64 rng(20261207);
  auto valid = *KeyedArchiver::archivedDataWithRootObject(Value(sampleRecord()));
  Bytes validPayload(valid.begin() + 16, valid.end());
  int decodedSomething = 0;
  for (int round = 0; round < 4000; ++round) {
    Bytes input;
    switch (round % 3) {
      case 0: {  // raw noise
        input.resize(rng() % 200);
        for (auto& b : input) b = static_cast<std::uint8_t>(rng());
        break;
      }
      case 1: {  // noise behind a correct header, so the parser sees it
        Bytes payload(rng() % 200);
        for (auto& b : payload) b = static_cast<std::uint8_t>(rng() % 16);  // mostly tags
        input = withHeader(payload);
        break;
      }
      default: {  // a real archive with a few bytes changed, header repaired
        Bytes payload = validPayload;
        for (int k = 0; k < 3; ++k)
          payload[rng() % payload.size()] = static_cast<std::uint8_t>(rng());
        input = withHeader(payload);
        break;
      }
    }
    ErrorPtr error;
    Value v = KeyedUnarchiver::unarchivedObjectOfClasses(kEverything, input, &error);
    // Either a value or an error, never both and never neither (nil roots aside).
    if (error) {
      EXPECT_TRUE(v.isNil());
    } else if (!v.isNil()) {
      ++decodedSomething;
    }
  }
  EXPECT_GT(decodedSomething, 0);  // the mutation rounds do reach the decoders
}

TEST_F(KeyedArchiverTest, NestingAndSizesAreBounded) {
  // The archiver refuses a graph deeper than the limit, and an object that contains itself.
  Value deep = Value(1);
  for (int i = 0; i < kMaxArchiveDepth + 5; ++i) deep = Value(Value::Array{deep});
  ErrorPtr error;
  EXPECT_FALSE(KeyedArchiver::archivedDataWithRootObject(deep, &error));
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->code(), kCoderInvalidValueError);
  error = nullptr;
  EXPECT_FALSE(KeyedArchiver::archivedDataWithRootObject(Value(std::make_shared<Loop>()), &error));
  EXPECT_NE(error, nullptr);

  // Depth counts through objects too: whatever the archiver writes, the unarchiver reads back.
  auto nested = std::make_shared<Record>();
  Value inner = Value(1);
  for (int i = 0; i < kMaxArchiveDepth / 2 + 2; ++i) inner = Value(Value::Array{inner});
  nested->list = {inner};
  auto outer = std::make_shared<Record>();
  Value wrapped = Value(nested);
  for (int i = 0; i < kMaxArchiveDepth / 2 + 2; ++i) wrapped = Value(Value::Array{wrapped});
  outer->list = {wrapped};
  error = nullptr;
  EXPECT_FALSE(KeyedArchiver::archivedDataWithRootObject(Value(outer), &error));
  EXPECT_NE(error, nullptr);

  // A hand-made payload nested far deeper than the limit: one field "root", then arrays.
  Bytes payload = {1, 4, 'r', 'o', 'o', 't'};
  for (int i = 0; i < 10000; ++i) {
    payload.push_back(0x0A);
    payload.push_back(1);
  }
  payload.push_back(0x00);
  error = nullptr;
  EXPECT_TRUE(
      KeyedUnarchiver::unarchivedObjectOfClasses(kEverything, withHeader(payload), &error).isNil());
  EXPECT_NE(error, nullptr);

  // Counts and lengths larger than what is left are refused before anything is allocated.
  const Bytes lies[] = {
      {1, 4, 'r', 'o', 'o', 't', 0x0A, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F},  // array of 2^32 items
      {1, 4, 'r', 'o', 'o', 't', 0x07, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F},  // string of 4 GiB
      {1, 4, 'r', 'o', 'o', 't', 0x07, 2, 0xC3, 0x28},                 // invalid UTF-8
      {2, 4, 'r', 'o', 'o', 't', 0x00, 4, 'r', 'o', 'o', 't', 0x00},   // a key twice
      {1, 4, 'r', 'o', 'o', 't', 0x0D, 0, 0},                          // object without class
      {1, 4, 'r', 'o', 'o', 't', 0x42},                                // unknown tag
  };
  for (const Bytes& lie : lies) {
    error = nullptr;
    EXPECT_TRUE(
        KeyedUnarchiver::unarchivedObjectOfClasses(kEverything, withHeader(lie), &error).isNil());
    EXPECT_NE(error, nullptr);
  }
}

void putVarint(Bytes& out, std::uint64_t v) {
  while (v >= 0x80) {
    out.push_back(static_cast<std::uint8_t>((v & 0x7F) | 0x80));
    v >>= 7;
  }
  out.push_back(static_cast<std::uint8_t>(v));
}

// The largest resident size this process has had, in bytes.
long peakResidentBytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss * 1024L;
}

TEST_F(KeyedArchiverTest, ManyKeysAreCheckedForDuplicatesInOnePass) {
  // One root dictionary of 100,000 keys; once compared pairwise (five billion comparisons).
  constexpr int kKeys = 100000;
  Bytes payload = {1, 4, 'r', 'o', 'o', 't', 0x0C};
  putVarint(payload, kKeys);
  auto keyOf = [](int k) { return "key" + std::to_string(k); };
  for (int k = 0; k < kKeys; ++k) {
    std::string key = keyOf(k);
    putVarint(payload, key.size());
    payload.insert(payload.end(), key.begin(), key.end());
    payload.push_back(0x03);  // true
  }
  ErrorPtr error;
  Value v = KeyedUnarchiver::unarchivedObjectOfClasses(kEverything, withHeader(payload), &error);
  ASSERT_EQ(error, nullptr) << error->localizedDescription();
  ASSERT_TRUE(v.dictionary());
  EXPECT_EQ(v.dictionary()->size(), std::size_t{kKeys});
  EXPECT_EQ(v[keyOf(kKeys - 1)], Value(true));

  // The same with the first key stored again as the last.
  Bytes twice = payload;
  twice[7] = 0;  // the count grows by one: rewrite it
  twice.resize(7);
  putVarint(twice, kKeys + 1);
  twice.insert(twice.end(), payload.begin() + 7 + 3, payload.end());  // 100,000 needs 3 bytes
  std::string first = keyOf(0);
  putVarint(twice, first.size());
  twice.insert(twice.end(), first.begin(), first.end());
  twice.push_back(0x02);
  error = nullptr;
  EXPECT_TRUE(
      KeyedUnarchiver::unarchivedObjectOfClasses(kEverything, withHeader(twice), &error).isNil());
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->code(), kCoderReadCorruptError);
}

TEST_F(KeyedArchiverTest, DecodingNeedsLittleMoreMemoryThanTheValuesItMakes) {
  // Four million nils in one array: once a parse tree of about a hundred bytes per nil.
  constexpr std::uint64_t kNils = 4u << 20;
  Bytes payload = {1, 4, 'r', 'o', 'o', 't', 0x0A};
  putVarint(payload, kNils);
  payload.resize(payload.size() + kNils, 0x00);
  Bytes archive = withHeader(payload);
  payload = Bytes();
  long before = peakResidentBytes();
  ErrorPtr error;
  Value v = KeyedUnarchiver::unarchivedObjectOfClasses({kArrayClassName}, archive, &error);
  long grown = peakResidentBytes() - before;
  ASSERT_EQ(error, nullptr) << error->localizedDescription();
  ASSERT_TRUE(v.array());
  EXPECT_EQ(v.array()->size(), kNils);
  // The values themselves take sizeof(Value) per nil; reading adds a copy of the archive.
  EXPECT_LT(grown, static_cast<long>(kNils * (sizeof(Value) + 16)))
      << grown / static_cast<long>(kNils) << " bytes per nil";
}

TEST_F(KeyedArchiverTest, ObjectsWithoutSecureCodingAreNotArchived) {
  ErrorPtr error;
  auto plain = std::make_shared<runtime::RootObject>();
  EXPECT_FALSE(KeyedArchiver::archivedDataWithRootObject(
      Value(Value::Array{Value(1), Value(plain)}), &error));
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->code(), kCoderInvalidValueError);
}

TEST_F(KeyedArchiverTest, MissingRootUnknownClassAndEmptyDecodeAreErrors) {
  ErrorPtr error;
  KeyedArchiver archiver;
  archiver.encodeInt64(5, "notRoot");
  auto noRoot = *archiver.encodedData();
  EXPECT_TRUE(KeyedUnarchiver::unarchivedObjectOfClasses(kEverything, noRoot, &error).isNil());
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->code(), kCoderValueNotFoundError);

  // A nil root is a nil answer without an error.
  auto nilRoot = *KeyedArchiver::archivedDataWithRootObject(Value());
  error = nullptr;
  EXPECT_TRUE(KeyedUnarchiver::unarchivedObjectOfClasses(kEverything, nilRoot, &error).isNil());
  EXPECT_EQ(error, nullptr);

  // A root whose decoder gives no object is reported, not taken for a stored nil.
  auto empty = *KeyedArchiver::archivedDataWithRootObject(Value(std::make_shared<Empty>()));
  EXPECT_TRUE(KeyedUnarchiver::unarchivedObjectOfClass("AREmpty", empty, &error).isNil());
  EXPECT_NE(error, nullptr);

  // A class with no decoder.
  KeyedUnarchiver::registerDecoder("AREmpty", nullptr);
  EXPECT_FALSE(KeyedUnarchiver::hasDecoder("AREmpty"));
  error = nullptr;
  EXPECT_TRUE(KeyedUnarchiver::unarchivedObjectOfClass("AREmpty", empty, &error).isNil());
  EXPECT_NE(error, nullptr);
}

TEST_F(KeyedArchiverTest, KeyedReadsOfTheWrongKindFailTheArchive) {
  KeyedArchiver archiver;
  archiver.encodeString("text", "s");
  archiver.encodeInt64(7, "i");
  archiver.encodeDouble(2.75, "d");
  auto data = *archiver.encodedData();

  struct Case {
    std::function<void(KeyedUnarchiver&)> read;
    bool fails;
  };
  const Case cases[] = {
      {[](KeyedUnarchiver& c) { EXPECT_EQ(c.decodeInt64("i"), 7); }, false},
      {[](KeyedUnarchiver& c) { EXPECT_EQ(c.decodeInt64("d"), 2); }, false},
      {[](KeyedUnarchiver& c) { EXPECT_EQ(c.decodeDouble("i"), 7.0); }, false},
      {[](KeyedUnarchiver& c) { EXPECT_EQ(c.decodeInt64("missing"), 0); }, false},
      {[](KeyedUnarchiver& c) { EXPECT_EQ(c.decodeString("missing"), std::nullopt); }, false},
      {[](KeyedUnarchiver& c) { EXPECT_EQ(c.decodeInt64("s"), 0); }, true},
      {[](KeyedUnarchiver& c) { EXPECT_EQ(c.decodeString("i"), std::nullopt); }, true},
      {[](KeyedUnarchiver& c) { EXPECT_FALSE(c.decodeDate("s")); }, true},
      {[](KeyedUnarchiver& c) { EXPECT_FALSE(c.decodeData("s")); }, true},
      {[](KeyedUnarchiver& c) {
         EXPECT_TRUE(c.decodeObjectOfClass(kNumberClassName, "s").isNil());
       },
       true},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    KeyedUnarchiver coder(data);
    ASSERT_EQ(coder.error(), nullptr);
    cases[i].read(coder);
    EXPECT_EQ(coder.error() != nullptr, cases[i].fails);
    EXPECT_TRUE(coder.containsValueForKey("s"));
    EXPECT_FALSE(coder.containsValueForKey("missing"));
  }
}

}  // namespace
}  // namespace platform
