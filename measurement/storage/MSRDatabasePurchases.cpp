// The measurement database's purchase fingerprints and subscription identifiers.
#include "measurement/storage/MSRDatabase.h"
#include "measurement/storage/MSRStorageConstants.h"

using platform::ErrorPtr;
using platform::Value;

namespace {

constexpr int kMaxPurchaseRows = 1000;

// Yes when newly recorded, no for a duplicate; nil when the database failed, whether or not the
// caller gave an error slot, so that a purchase the store never took is not taken for recorded.
Value insertIfNotDuplicate(MSRSqliteStore& store, const char* table, const char* column,
                           const std::string& text, bool trim, ErrorPtr* error) {
  if (text.empty()) return Value(false);
  const Value exists = store.numberForQuery(
      std::string("SELECT EXISTS (SELECT 1 FROM ") + table + " WHERE " + column + " = ? LIMIT 1)",
      {Value(text)}, error);
  if (!exists.isNumber()) return Value();
  if (exists.boolValue()) return Value(false);
  if (!store.upsertRecord({{column, Value(text)}}, table, error)) return Value();
  if (trim) {
    const auto deleted =
        store.deleteRecordsFromTableWithName(table,
                                             std::string("rowid IN (SELECT rowid FROM ") + table +
                                                 " ORDER BY rowid DESC LIMIT -1 OFFSET ?)",
                                             {Value(kMaxPurchaseRows)}, error);
    if (!deleted) return Value();
  }
  return Value(true);
}

}  // namespace

Value MSRDatabase::insertIfNotDuplicatePurchaseFingerprint(const std::string& fingerprint,
                                                           ErrorPtr* error) {
  return insertIfNotDuplicate(*sqliteStore_, kMSRTablePurchaseTransactions, "fingerprint",
                              fingerprint, true, error);
}

Value MSRDatabase::insertIfNotDuplicateSubscriptionID(const std::string& subscriptionID,
                                                      ErrorPtr* error) {
  return insertIfNotDuplicate(*sqliteStore_, kMSRTableSubscriptions, "subscription_id",
                              subscriptionID, false, error);
}

Value MSRDatabase::deleteSubscriptionsOverLimit(ErrorPtr* error) {
  const auto deleted = sqliteStore_->deleteRecordsFromTableWithName(
      kMSRTableSubscriptions,
      "rowid IN (SELECT rowid FROM subscriptions ORDER BY rowid DESC LIMIT -1 OFFSET ?)",
      {Value(kMaxPurchaseRows)}, error);
  return deleted ? Value(static_cast<long long>(*deleted)) : Value();
}
