#include "measurement/foundation/MSRNaming.h"

#include <algorithm>
#include <set>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "measurement/engine/MSRMeasurement.h"
#include "measurement/foundation/MSRMonitor.h"
#include "measurement/foundation/MSRValue.h"
#include "platform/base/Format.h"
#include "platform/base/Strings.h"
#include "platform/runtime/Runtime.h"

namespace {

using StringSet = std::set<std::string, std::less<>>;

const StringSet& ecommerceEventNames() {
  static const StringSet* names = new StringSet{
      "add_payment_info", "add_shipping_info", "add_to_cart",       "add_to_wishlist",
      "begin_checkout",   "purchase",          "refund",            "remove_from_cart",
      "select_item",      "select_promotion",  "view_cart",         "view_item",
      "view_item_list",   "view_promotion",    "ecommerce_purchase", "checkout_progress",
      "purchase_refund",  "select_content",    "set_checkout_option", "view_search_results"};
  return *names;
}

// Asked for every key of every items element: a hashed set.
const std::unordered_set<std::string_view>& itemParameterNames() {
  static const auto* names = new std::unordered_set<std::string_view>{
      "affiliation",    "coupon",         "creative_name",  "creative_slot",   "currency",
      "discount",       "index",          "item_id",        "item_brand",      "item_category",
      "item_category2", "item_category3", "item_category4", "item_category5",  "item_list_name",
      "item_list_id",   "item_name",      "item_variant",   "location_id",     "payment_type",
      "price",          "promotion_id",   "promotion_name", "quantity",        "shipping",
      "shipping_tier",  "tax",            "transaction_id", "value",           "checkout_step",
      "checkout_option", "item_list",     "item_location_id"};
  return *names;
}

const StringSet& revenueEventNames() {
  static const StringSet* names =
      new StringSet{"ecommerce_purchase", "_f", "_iap", "purchase", "refund"};
  return *names;
}

bool isDebugMode() { return MSRMeasurement::monitor()->isDebugModeEnabled(); }

bool facadePresent() { return platform::runtime::classNamed("LMOAnalytics") != nullptr; }

}  // namespace

const MSRNameTable& MSRInternalEventNamesByPublicName() {
  static const MSRNameTable* table = new MSRNameTable{
      {"adunit_exposure", "_xu"},
      {"ad_activeview", "_aa"},
      {"ad_click", "_ac"},
      {"ad_exposure", "_xa"},
      {"ad_impression", "_ai"},
      {"ad_query", "_aq"},
      {"ad_reward", "_ar"},
      {"app_background", "_ab"},
      {"app_clear_data", "_cd"},
      {"app_exception", "_ae"},
      {"app_remove", "_ui"},
      {"app_store_refund", "_asr"},
      {"app_store_subscription_cancel", "_asse"},
      {"app_store_subscription_convert", "_assc"},
      {"app_store_subscription_renew", "_assr"},
      {"app_update", "_au"},
      {"app_upgrade", "_ug"},
      {"error", "_err"},
      {"lumo_campaign", "_cmp"},
      {"first_open", "_f"},
      {"first_visit", "_v"},
      {"la_campaign", "_cmp"},
      {"la_extra_parameter", "_ep"},
      {"in_app_purchase", "_iap"},
      {"notification_dismiss", "_nd"},
      {"notification_foreground", "_nf"},
      {"notification_open", "_no"},
      {"notification_receive", "_nr"},
      {"os_update", "_ou"},
      {"screen_view", "_vs"},
      {"session_start", "_s"},
      {"session_start_with_rollout", "_ssr"},
      {"user_engagement", "_e"},
  };
  return *table;
}

const MSRNameTable& MSRPublicEventNamesByInternalName() {
  static const MSRNameTable* table = [] {
    auto* reverse = new MSRNameTable;
    for (const auto& [publicName, internalName] : MSRInternalEventNamesByPublicName()) {
      (*reverse)[internalName] = publicName;
    }
    return reverse;
  }();
  return *table;
}

const MSRNameTable& MSRAdEventNamesByPublicName() {
  static const MSRNameTable* table = new MSRNameTable{{"ad_impression", "_ai"}};
  return *table;
}

const MSRNameTable& MSRPublicToInternalParameterNames() {
  static const MSRNameTable* table = new MSRNameTable{
      {"ad_event_id", "_aeid"},
      {"ad_unit_id", "_ai"},
      {"app_in_background", "_aib"},
      {"deferred_analytics_collection", "_dac"},
      {"engagement_time_msec", "_et"},
      {"exposure_time", "_xt"},
      {"lumo_conversion", "_c"},
      {"lumo_debug", "_dbg"},
      {"lumo_error", "_err"},
      {"lumo_error_length", "_el"},
      {"lumo_error_value", "_ev"},
      {"lumo_event_origin", "_o"},
      {"lumo_feature_rollouts", "_ffr"},
      {"lumo_previous_class", "_pc"},
      {"lumo_previous_id", "_pi"},
      {"lumo_previous_screen", "_pn"},
      {"lumo_realtime", "_r"},
      {"lumo_screen", "_sn"},
      {"lumo_screen_class", "_sc"},
      {"lumo_screen_id", "_si"},
      {"la_conversion", "_c"},
      {"la_debug", "_dbg"},
      {"la_dedupe_id", "_did"},
      {"la_error", "_err"},
      {"la_error_length", "_el"},
      {"la_error_value", "_ev"},
      {"la_event_id", "_eid"},
      {"la_event_name", "_en"},
      {"la_event_origin", "_o"},
      {"la_extra_params_ct", "_epc"},
      {"la_group_name", "_gn"},
      {"la_index", "_i"},
      {"la_list_length", "_ll"},
      {"la_previous_class", "_pc"},
      {"la_previous_id", "_pi"},
      {"la_previous_screen", "_pn"},
      {"la_realtime", "_r"},
      {"la_screen", "_sn"},
      {"la_screen_class", "_sc"},
      {"la_screen_id", "_si"},
      {"message_id", "_nmid"},
      {"message_name", "_nmn"},
      {"message_time", "_nmt"},
      {"message_tracking_id", "_nmtid"},
      {"message_type", "_nmc"},
      {"message_device_time", "_ndt"},
      {"previous_app_version", "_pv"},
      {"previous_first_open_count", "_pfo"},
      {"previous_vmp_app_id", "_pvmp"},
      {"previous_os_version", "_po"},
      {"session_id", "_sid"},
      {"session_number", "_sno"},
      {"topic", "_nt"},
      {"update_with_analytics", "_uwa"},
  };
  return *table;
}

const MSRNameTable& MSRReservedUserPropertyNames() {
  static const MSRNameTable* table = new MSRNameTable{
      {"lumo_last_notification", "_ln"}, {"first_open_after_install", "_fi"},
      {"first_open_time", "_fot"},         {"la_session_id", "_sid"},
      {"la_session_number", "_sno"},       {"last_advertising_id_reset", "_lair"},
      {"last_deep_link_referrer", "_ldl"}, {"lifetime_user_engagement", "_lte"},
      {"session_user_engagement", "_se"},  {"user_id", "_id"},
  };
  return *table;
}

const std::map<std::int64_t, std::string>& MSRErrorCodeNames() {
  static const auto* table = new std::map<std::int64_t, std::string>{
      {0, "NoError"},
      {1, "InvalidVMPAppID"},
      {2, "InvalidEventName"},
      {3, "InvalidParameterName"},
      {4, "InvalidParameterValue"},
      {5, "ParameterLimitReached"},
      {6, "InvalidUserPropertyName"},
      {7, "UserPropertyValueTooLong"},
      {8, "EventLimitReached"},
      {9, "UserPropertyLimitReached"},
      {10, "ConversionEventLimitReached"},
      {11, "EventIsBlocked"},
      {12, "UserPropertyIsBlocked"},
      {13, "EventNameIsReserved"},
      {14, "ParameterNameIsReserved"},
      {15, "UserPropertyNameIsReserved"},
      {16, "PublicEventLimitReached"},
      {17, "TooManyExtraParamEvents"},
      {18, "ValueIsNotNumeric"},
      {19, "CurrencyCodeIsMissingOrInvalid"},
      {20, "InvalidArrayParamName"},
      {21, "InvalidArrayParamEventName"},
      {22, "InvalidArrayParamNesting"},
      {23, "CustomParamsInArrayElement"},
  };
  return *table;
}

bool MSRIsPublicName(const platform::Value& name) {
  const std::string* s = name.string();
  if (!s) {
    MSRMeasurement::monitor()->logWithLevel(2, 18002,
                                            "Cannot check the name. Name is not a string");
    return false;
  }
  if (s->empty()) {
    MSRMeasurement::monitor()->logWithLevel(2, 18003, "Cannot check the name. Name is empty");
    return false;
  }
  return (*s)[0] != '_';
}

bool MSRIsNotErrorEventName(const std::string& name) { return name != "_err"; }

bool MSRIsEcommerceEventName(const std::string& name) {
  return ecommerceEventNames().count(name) != 0;
}

bool MSRIsItemParameterName(const std::string& name) {
  return itemParameterNames().count(name) != 0;
}

bool MSRIsRevenueEventName(const std::string& name) { return revenueEventNames().count(name) != 0; }

bool MSRHasScreenParameters(const platform::Value::Dictionary& parameters) {
  return parameters.count("_si") || parameters.count("_sc") || parameters.count("_sn");
}

platform::Value::Dictionary MSRScreenParametersFromParameters(
    const platform::Value::Dictionary& parameters) {
  platform::Value::Dictionary out;
  for (const char* key : {"_sn", "_sc", "_si"}) {
    auto it = parameters.find(key);
    if (it != parameters.end()) out[key] = it->second;
  }
  return out;
}

std::string MSRNameDescription(const platform::Value& name, const MSRNameTable& table) {
  const std::string* s = name.string();
  if (!s) return name.description();
  if (s->empty() || (*s)[0] != '_' || table.empty() || !isDebugMode() || !facadePresent()) {
    return *s;
  }
  const std::string* match = nullptr;
  for (const auto& [publicName, internalName] : table) {
    if (internalName != *s) continue;
    match = &publicName;
    if (!platform::hasPrefix(publicName, "lumo_")) break;
  }
  if (!match) return *s;
  return platform::format("%@ (%@)", *match, *s);
}

std::string MSREventNameDescription(const platform::Value& name) {
  return MSRNameDescription(name, MSRInternalEventNamesByPublicName());
}

std::string MSRParameterNameDescription(const platform::Value& name) {
  return MSRNameDescription(name, MSRPublicToInternalParameterNames());
}

std::string MSRUserPropertyNameDescription(const platform::Value& name) {
  const std::string* s = name.string();
  if (s && platform::hasPrefix(*s, "_exp_")) {
    return platform::format("%@ (%@)", "experiment_id", *s);
  }
  return MSRNameDescription(name, MSRReservedUserPropertyNames());
}

std::string MSRParametersDescription(const platform::Value& parameters) {
  const auto* dictionary = parameters.dictionary();
  if (!dictionary || !isDebugMode()) return parameters.description();
  std::vector<std::string> lines;
  for (const auto& [key, value] : *dictionary) {
    std::string valueText = value.description();
    if (key == "_err") {
      const MSRValue* msrValue = value.objectPointer<MSRValue>();
      if (msrValue && msrValue->isInt64()) {
        const std::int64_t code = msrValue->int64Value();
        auto it = MSRErrorCodeNames().find(code);
        valueText = it != MSRErrorCodeNames().end()
                        ? platform::format("%@ (%lld)", it->second, static_cast<long long>(code))
                        : platform::format("%lld", static_cast<long long>(code));
      }
    }
    lines.push_back(platform::format("    %@ = %@;\n", MSRParameterNameDescription(platform::Value(key)),
                                     valueText));
  }
  std::stable_sort(lines.begin(), lines.end(), [](const std::string& a, const std::string& b) {
    return platform::caseInsensitiveCompare(a, b) < 0;
  });
  std::string out = "{\n";
  for (const auto& line : lines) out += line;
  return out + "}";
}
