// The keychain: generic-password and key items, each a set of attributes plus value data, kept in
// one 0600 file in the sandbox home ("Library/Keychains/keychain-items.archive") rewritten
// atomically on every change, so items outlive the process. A change re-reads the file and writes
// it under an inter-process lock (flock on a lock file beside it), so the changes of two
// processes all survive. A file that cannot be read now fails the call (errSecIO) and is left as
// it is; a damaged one is read again under the lock and only then moved aside as ".corrupt"
// (logged), and the keychain starts empty. Calls answer with the platform's status codes.
// Thread-safe: one lock serialises every call of every Keychain in the process.
#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/base/Value.h"

namespace platform {

using OSStatus = std::int32_t;

// Status codes.
inline constexpr OSStatus errSecSuccess = 0;
inline constexpr OSStatus errSecUnimplemented = -4;
inline constexpr OSStatus errSecIO = -36;
inline constexpr OSStatus errSecParam = -50;
inline constexpr OSStatus errSecAllocate = -108;
inline constexpr OSStatus errSecDuplicateItem = -25299;
inline constexpr OSStatus errSecItemNotFound = -25300;
inline constexpr OSStatus errSecInteractionNotAllowed = -25308;
inline constexpr OSStatus errSecDecode = -26275;
inline constexpr OSStatus errSecMissingEntitlement = -34018;

// Attribute keys and values of queries and items (a query is a Value::Dictionary).
inline constexpr const char* kSecClass = "class";
inline constexpr const char* kSecClassGenericPassword = "genp";
inline constexpr const char* kSecClassKey = "keys";
inline constexpr const char* kSecAttrService = "svce";
inline constexpr const char* kSecAttrAccount = "acct";
inline constexpr const char* kSecAttrAccessGroup = "agrp";
inline constexpr const char* kSecAttrGeneric = "gena";
inline constexpr const char* kSecAttrAccessible = "pdmn";
inline constexpr const char* kSecAttrAccessibleWhenUnlocked = "ak";
inline constexpr const char* kSecAttrAccessibleAfterFirstUnlock = "ck";
inline constexpr const char* kSecAttrAccessibleAlways = "dk";
inline constexpr const char* kSecAttrAccessibleWhenUnlockedThisDeviceOnly = "aku";
inline constexpr const char* kSecAttrAccessibleAfterFirstUnlockThisDeviceOnly = "cku";
inline constexpr const char* kSecAttrAccessibleAlwaysThisDeviceOnly = "dku";
inline constexpr const char* kSecAttrApplicationTag = "atag";
inline constexpr const char* kSecAttrApplicationLabel = "klbl";
inline constexpr const char* kSecAttrKeyType = "type";
inline constexpr const char* kSecAttrKeyTypeRSA = "42";
inline constexpr const char* kSecAttrKeyTypeECSECPrimeRandom = "73";
inline constexpr const char* kSecAttrKeyClass = "kcls";
inline constexpr const char* kSecAttrLabel = "labl";
inline constexpr const char* kSecValueData = "v_Data";
inline constexpr const char* kSecReturnData = "r_Data";
inline constexpr const char* kSecReturnAttributes = "r_Attributes";
inline constexpr const char* kSecMatchLimit = "m_Limit";
inline constexpr const char* kSecMatchLimitOne = "m_LimitOne";
inline constexpr const char* kSecMatchLimitAll = "m_LimitAll";

// The file of the items, relative to the sandbox home.
inline constexpr const char* kKeychainRelativePath = "Library/Keychains/keychain-items.archive";

// What a call was asked, for tests.
struct KeychainCall {
  std::string function;  // "SecItemCopyMatching", "SecItemAdd", "SecItemUpdate", "SecItemDelete"
  Value::Dictionary query;
  Value::Dictionary attributes;  // the attributes to update (update only)
  OSStatus status = errSecSuccess;
};

class Keychain {
 public:
  static constexpr std::size_t kMaxRecordedCalls = 1024;

  // The process's keychain.
  static Keychain& shared();

  // Items matching every attribute of the query (class required). With kSecReturnData and/or
  // kSecReturnAttributes, *result receives the data, the attribute dictionary (with the data
  // under kSecValueData when both are asked), or an array of them with kSecMatchLimitAll.
  // Without a return key the status alone answers. errSecItemNotFound when nothing matches.
  OSStatus copyMatching(const Value::Dictionary& query, Value* result = nullptr);
  // Adds an item: class generic password or key, value data (if any) bytes. errSecDuplicateItem
  // when an item of the same primary key exists (generic password: service, account, access
  // group; key: application label, application tag, key type, access group). An absent
  // accessibility is stored as kSecAttrAccessibleWhenUnlocked. Return keys work as in
  // copyMatching.
  OSStatus add(const Value::Dictionary& attributes, Value* result = nullptr);
  // Sets the attributes on every item matching the query (the class cannot change).
  OSStatus update(const Value::Dictionary& query, const Value::Dictionary& attributesToUpdate);
  // Deletes every item matching the query.
  OSStatus deleteItems(const Value::Dictionary& query);

  // Test seams. The injected statuses answer the next calls (one each, in order) without
  // touching the items. Calls are recorded, the most recent kMaxRecordedCalls of them.
  void injectStatusForNextCall(OSStatus status);
  // Called with every call before it touches the items, on the calling thread and outside the
  // keychain's lock, so a test can hold a call back (a slow keychain). Empty: none.
  using CallHook = std::function<void(const KeychainCall& call)>;
  void setCallHookForTesting(CallHook hook);
  std::vector<KeychainCall> recordedCalls() const;
  void clearRecordedCalls();
  // The file of the items (under the current sandbox home).
  static std::filesystem::path storagePath();

 private:
  // Records the call; an injected status, if one is queued, answers it.
  std::optional<OSStatus> begin(const char* function, const Value::Dictionary& query,
                                const Value::Dictionary& attributes, std::size_t* callIndex);
  void finish(std::size_t callIndex, OSStatus status);

  mutable std::mutex mutex_;
  CallHook hook_;
  std::deque<OSStatus> injected_;
  std::deque<KeychainCall> calls_;
  std::size_t droppedCalls_ = 0;  // calls recorded before calls_.front()
};

}  // namespace platform
