// The measurement database's purchase fingerprints and subscription identifiers.
#include "measurement/storage/MSRDatabase.h"
#include "measurement/storage/MSRStorageConstants.h"

using platform::ErrorPtr;
using platform::Value;

namespace {

constexpr int kMaxPurchaseRows = 1000;

// Yes when newly recorded. Without an error slot a failed step counts as success, so a purchase
// is never held back by a database hiccup.
Value insertIfNotDuplicate(MSRSqliteStore& store, const char* table, const char* column,
                           const std::string& text, bool trim, ErrorPtr* error) {
  if (text.empty()) return Value(false);
  ErrorPtr local;
  const Value exists = store.numberForQuery(
      std::string("SELECT EXISTS (SELECT 1 FROM ") + table + " WHERE " + column + " = ? LIMIT 1)",
      {Value(text)}, &local);
  if (exists.isNil() && local && error) {
    *error = local;
    return Value();
  }
  if (exists.isNumber() && exists.boolValue()) return Value(false);
  local.reset();
  if (!store.upsertRecord({{column, Value(text)}}, table, &local) && error) {
    *error = local;
    return Value();
  }
  if (trim) {
    local.reset();
    const auto deleted =
        store.deleteRecordsFromTableWithName(table,
                                             std::string("rowid IN (SELECT rowid FROM ") + table +
                                                 " ORDER BY rowid DESC LIMIT -1 OFFSET ?)",
                                             {Value(kMaxPurchaseRows)}, &local);
    if (!deleted && error) {
      *error = local;
      return Value();
    }
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
