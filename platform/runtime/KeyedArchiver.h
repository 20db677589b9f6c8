// Keyed archives: the one binary archive format of the system (secure coding, heartbeat files,
// keychain items, installation records, transport events). An archive is a magic, a version, the
// payload length and its CRC-32, then tagged values; objects are stored by class name with keyed
// fields. Decoding checks every object against an allow-list and refuses truncated, corrupt,
// foreign or disallowed input with an error value. An archiver or unarchiver belongs to one
// thread at a time; the decoder registry is thread-safe.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/Error.h"
#include "platform/base/Value.h"

namespace platform {

class KeyedArchiver;
class KeyedUnarchiver;

// Errors of archiving and unarchiving (domain kFileErrorDomain, "NSCocoaErrorDomain").
inline constexpr long kCoderReadCorruptError = 4864;    // truncated, corrupt, foreign, disallowed
inline constexpr long kCoderValueNotFoundError = 4865;  // the root key is missing
inline constexpr long kCoderInvalidValueError = 4866;   // an object that cannot be archived
// The key under which the top-level object of an archive is stored.
inline constexpr const char* kKeyedArchiveRootObjectKey = "root";

// Class names under which the value kinds are stored and allowed.
inline constexpr const char* kStringClassName = "NSString";
inline constexpr const char* kNumberClassName = "NSNumber";
inline constexpr const char* kDataClassName = "NSData";
inline constexpr const char* kDateClassName = "NSDate";
inline constexpr const char* kArrayClassName = "NSArray";
inline constexpr const char* kDictionaryClassName = "NSDictionary";
inline constexpr const char* kSetClassName = "NSSet";
inline constexpr const char* kNullClassName = "NSNull";
inline constexpr const char* kErrorClassName = "NSError";

// Limits that keep a hostile archive from exhausting the stack or the memory.
inline constexpr int kMaxArchiveDepth = 64;
inline constexpr std::size_t kMaxArchiveSize = 256u * 1024 * 1024;

// Implemented by objects that archive themselves. The object is stored under its className(); a
// decoder for that name must be registered (KeyedUnarchiver::registerDecoder) to read it back.
class SecureCoding {
 public:
  virtual ~SecureCoding() = default;
  virtual void encodeWithCoder(KeyedArchiver& coder) const = 0;
};

using ClassSet = std::set<std::string, std::less<>>;

class KeyedArchiver {
 public:
  KeyedArchiver() = default;

  // The archive whose root object (under kKeyedArchiveRootObjectKey) is `root`. Objects in the
  // graph must implement SecureCoding (platform::Error is built in); otherwise null and an error
  // of kCoderInvalidValueError. Values of every other kind archive as they are.
  static std::optional<Bytes> archivedDataWithRootObject(const Value& root,
                                                         ErrorPtr* error = nullptr);

  // Encoding by key at the current level (the top level, or the object being encoded).
  void encodeObject(const Value& value, std::string_view key);  // nil is stored as nil
  void encodeString(std::string_view value, std::string_view key);
  void encodeInt64(std::int64_t value, std::string_view key);
  void encodeInteger(long value, std::string_view key) { encodeInt64(value, key); }
  void encodeBool(bool value, std::string_view key);
  void encodeDouble(double value, std::string_view key);
  void encodeDate(double secondsSince1970, std::string_view key);
  void encodeData(const Bytes& bytes, std::string_view key);

  // Stops the archive; archivedData then fails with this error. The first failure wins.
  void failWithError(ErrorPtr error);
  const ErrorPtr& error() const { return error_; }
  // The finished archive (null and *error after a failure). Ends encoding.
  std::optional<Bytes> encodedData(ErrorPtr* error = nullptr);

 private:
  struct Frame {
    std::string out;
    std::uint32_t count = 0;
  };
  void putKey(std::string_view key);
  void putValue(const Value& value, int depth);
  std::vector<Frame> frames_{Frame{}};
  int depth_ = 0;  // nesting of the object whose fields are being encoded
  ErrorPtr error_;
  bool finished_ = false;
};

class KeyedUnarchiver {
 public:
  // Reads an object's fields and makes the object; null means "no object" (the coder's error, if
  // set, fails the whole archive).
  using Decoder = std::function<ObjectPtr(KeyedUnarchiver& coder)>;

  // Registers how objects stored under `className` are made. Thread-safe; a later registration
  // of the same name replaces the earlier.
  static void registerDecoder(std::string className, Decoder decoder);
  static bool hasDecoder(std::string_view className);
  // Process-wide: objects stored as `storedName` decode as `className` (its decoder and its
  // allow-list check). An empty className removes the mapping.
  static void setGlobalClassName(std::string storedName, std::string className);

  // The root object, decoded with every object (at any depth) checked against `allowedClasses`
  // (a class is allowed when it or one of its runtime superclasses is listed; listing the root
  // class "NSObject" allows everything). Value kinds are checked by their class names
  // (kStringClassName, ...); dictionary keys count as strings. Nil and an error
  // of kCoderReadCorruptError on any failure, kCoderValueNotFoundError when there is no root.
  static Value unarchivedObjectOfClasses(const ClassSet& allowedClasses, const Bytes& data,
                                         ErrorPtr* error = nullptr);
  static Value unarchivedObjectOfClass(std::string_view allowedClass, const Bytes& data,
                                       ErrorPtr* error = nullptr);

  // An unarchiver over the data; check error() before use (a bad header sets it).
  explicit KeyedUnarchiver(const Bytes& data);
  ~KeyedUnarchiver();
  KeyedUnarchiver(const KeyedUnarchiver&) = delete;
  KeyedUnarchiver& operator=(const KeyedUnarchiver&) = delete;

  // The default allow-list of decodeObject (set from the static entry points).
  void setAllowedClasses(ClassSet classes);
  const ClassSet& allowedClasses() const { return allowed_; }
  // For this unarchiver only; wins over the global mapping.
  void setClassName(std::string storedName, std::string className);

  // Decoding by key at the current level. A missing key gives nil / 0 / false; a value of the
  // wrong kind or a disallowed class fails the archive (error() set) and gives nil / 0 / false.
  bool containsValueForKey(std::string_view key) const;
  Value decodeObjectOfClasses(const ClassSet& classes, std::string_view key);
  Value decodeObjectOfClass(std::string_view cls, std::string_view key);
  Value decodeObject(std::string_view key);  // checked against allowedClasses()
  std::optional<std::string> decodeString(std::string_view key);
  std::int64_t decodeInt64(std::string_view key);
  long decodeInteger(std::string_view key) { return static_cast<long>(decodeInt64(key)); }
  bool decodeBool(std::string_view key);
  double decodeDouble(std::string_view key);
  std::optional<double> decodeDate(std::string_view key);
  std::optional<Bytes> decodeData(std::string_view key);

  // The stored class name of the object being decoded (empty at the top level).
  const std::string& storedClassName() const;
  void failWithError(ErrorPtr error);
  const ErrorPtr& error() const { return error_; }

 private:
  struct Node;
  struct Frame;
  struct Parser;
  Frame frameOf(const Node& object) const;
  const std::uint8_t* findValue(std::string_view key) const;
  std::optional<Node> find(std::string_view key) const;
  Value decodeAt(const std::uint8_t*& at, const ClassSet& classes, int depth);
  bool allowed(std::string_view className, const ClassSet& classes) const;
  std::string resolveClassName(const std::string& stored) const;
  void fail(std::string reason);

  Bytes payload_;  // checked whole by the constructor, then read in place
  std::vector<Frame> frames_;
  ClassSet allowed_;
  std::map<std::string, std::string, std::less<>> classNames_;
  ErrorPtr error_;
};

// Registers a decoder at class-load time (namespace scope); only registers.
class ArchiveDecoderRegistrar {
 public:
  ArchiveDecoderRegistrar(const char* className, KeyedUnarchiver::Decoder decoder);
};

}  // namespace platform
