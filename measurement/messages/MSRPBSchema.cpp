// The schema tables of the 33 measurement messages, in slot order.
// Written from measurement.proto; MeasurementBundle keeps its own slot order.
#include "measurement/messages/MSRPBSchema.h"

#include <array>
#include <unordered_map>

#include "measurement.pb.h"

extern const MSRPBMessageType kMSRPBAddressType;
extern const MSRPBMessageType kMSRPBAppPropertyType;
extern const MSRPBMessageType kMSRPBAudienceType;
extern const MSRPBMessageType kMSRPBAudienceLeafFilterResultType;
extern const MSRPBMessageType kMSRPBClientPropertyType;
extern const MSRPBMessageType kMSRPBCustomPropertyType;
extern const MSRPBMessageType kMSRPBDynamicFilterResultTimestampType;
extern const MSRPBMessageType kMSRPBEventType;
extern const MSRPBMessageType kMSRPBEventConfigType;
extern const MSRPBMessageType kMSRPBEventFilterType;
extern const MSRPBMessageType kMSRPBEventParamType;
extern const MSRPBMessageType kMSRPBExperimentType;
extern const MSRPBMessageType kMSRPBExperimentRequestType;
extern const MSRPBMessageType kMSRPBExperimentResponseType;
extern const MSRPBMessageType kMSRPBFilterType;
extern const MSRPBMessageType kMSRPBFlagType;
extern const MSRPBMessageType kMSRPBHashedUserDataType;
extern const MSRPBMessageType kMSRPBMeasurementBatchType;
extern const MSRPBMessageType kMSRPBMeasurementBundleType;
extern const MSRPBMessageType kMSRPBMeasurementConfigType;
extern const MSRPBMessageType kMSRPBNumberFilterType;
extern const MSRPBMessageType kMSRPBOgtActivitiesType;
extern const MSRPBMessageType kMSRPBOgtActivityType;
extern const MSRPBMessageType kMSRPBProgramType;
extern const MSRPBMessageType kMSRPBPropertyFilterType;
extern const MSRPBMessageType kMSRPBResultDataType;
extern const MSRPBMessageType kMSRPBRuntimeEntityType;
extern const MSRPBMessageType kMSRPBSdkResponseType;
extern const MSRPBMessageType kMSRPBSequenceFilterResultTimestampType;
extern const MSRPBMessageType kMSRPBSettingType;
extern const MSRPBMessageType kMSRPBSnapshotType;
extern const MSRPBMessageType kMSRPBStringFilterType;
extern const MSRPBMessageType kMSRPBUserAttributeType;

namespace {

template <std::size_t N>
constexpr std::array<std::uint32_t, N> flagsOf(const MSRPBFieldInfo (&fields)[N]) {
  std::array<std::uint32_t, N> flags{};
  for (std::size_t i = 0; i < N; ++i) flags[i] = fields[i].flags;
  return flags;
}

constexpr MSRPBFieldInfo kAddressFields[] = {
    {1, "field_1", MSRPBFieldString | MSRPBFieldOptional, nullptr},
    {2, "field_2", MSRPBFieldString | MSRPBFieldOptional, nullptr},
    {3, "field_3", MSRPBFieldString | MSRPBFieldOptional, nullptr},
    {4, "field_4", MSRPBFieldString | MSRPBFieldOptional, nullptr},
    {5, "field_5", MSRPBFieldString | MSRPBFieldOptional, nullptr},
    {6, "field_6", MSRPBFieldString | MSRPBFieldOptional, nullptr},
    {7, "field_7", MSRPBFieldString | MSRPBFieldOptional, nullptr},
};
constexpr auto kAddressFlags = flagsOf(kAddressFields);

constexpr MSRPBFieldInfo kAppPropertyFields[] = {
    {1, "platform", MSRPBFieldString | MSRPBFieldOptional, nullptr},
    {2, "os_version", MSRPBFieldString | MSRPBFieldOptional, nullptr},
    {3, "device_model", MSRPBFieldString | MSRPBFieldOptional, nullptr},
    {4, "language", MSRPBFieldString | MSRPBFieldOptional, nullptr},
    {5, "bundle_identifier", MSRPBFieldString | MSRPBFieldOptional, nullptr},
    {6, "is_from_app_store", MSRPBFieldBool | MSRPBFieldOptional, nullptr},
    {7, "version", MSRPBFieldInt64 | MSRPBFieldOptional, nullptr},
};
constexpr auto kAppPropertyFlags = flagsOf(kAppPropertyFields);

constexpr MSRPBFieldInfo kAudienceFields[] = {
    {1, "audience_id", MSRPBFieldInt32 | MSRPBFieldOptional, nullptr},
    {2, "property_filters", MSRPBFieldMessage | MSRPBFieldRepeated, &kMSRPBPropertyFilterType},
    {3, "event_filters", MSRPBFieldMessage | MSRPBFieldRepeated, &kMSRPBEventFilterType},
    {4, "field_4", MSRPBFieldBool | MSRPBFieldOptional, nullptr},
    {5, "field_5", MSRPBFieldBool | MSRPBFieldOptional, nullptr},
};
constexpr auto kAudienceFlags = flagsOf(kAudienceFields);

constexpr MSRPBFieldInfo kAudienceLeafFilterResultFields[] = {
    {1, "audience_id", MSRPBFieldInt32 | MSRPBFieldOptional, nullptr},
    {2, "current_data", MSRPBFieldMessage | MSRPBFieldOptional, &kMSRPBResultDataType},
    {3, "previous_data", MSRPBFieldMessage | MSRPBFieldOptional, &kMSRPBResultDataType},
    {4, "field_4", MSRPBFieldBool | MSRPBFieldOptional, nullptr},
};
constexpr auto kAudienceLeafFilterResultFlags = flagsOf(kAudienceLeafFilterResultFields);

constexpr MSRPBFieldInfo kClientPropertyFields[] = {
    {1, "name", MSRPBFieldString | MSRPBFieldOptional, nullptr},
    {2, "diversion_key", MSRPBFieldString | MSRPBFieldOptional, nullptr},
    {3, "version", MSRPBFieldInt64 | MSRPBFieldOptional, nullptr},
    {4, "app_id", MSRPBFieldString | MSRPBFieldOptional, nullptr},
    {5, "custom_properties", MSRPBFieldMessage | MSRPBFieldRepeated, &kMSRPBCustomPropertyType},
};
constexpr auto kClientPropertyFlags = flagsOf(kClientPropertyFields);

constexpr MSRPBFieldInfo kCustomPropertyFields[] = {
    {1, "key", MSRPBFieldString | MSRPBFieldOptional, nullptr},
    {2, "value", MSRPBFieldString | MSRPBFieldOptional, nullptr},
};
constexpr auto kCustomPropertyFlags = flagsOf(kCustomPropertyFields);

constexpr MSRPBFieldInfo kDynamicFilterResultTimestampFields[] = {
    {1, "filter_id", MSRPBFieldInt32 | MSRPBFieldOptional, nullptr},
    {2, "timestamp", MSRPBFieldInt64 | MSRPBFieldOptional, nullptr},
};
constexpr auto kDynamicFilterResultTimestampFlags = flagsOf(kDynamicFilterResultTimestampFields);

constexpr MSRPBFieldInfo kEventFields[] = {
    {1, "params", MSRPBFieldMessage | MSRPBFieldRepeated, &kMSRPBEventParamType},
    {2, "name", MSRPBFieldString | MSRPBFieldOptional, nullptr},
    {3, "timestamp_millis", MSRPBFieldInt64 | MSRPBFieldOptional, nullptr},
    {4, "previous_timestamp_millis", MSRPBFieldInt64 | MSRPBFieldOptional, nullptr},
    {5, "field_5", MSRPBFieldInt32 | MSRPBFieldOptional, nullptr},
};
constexpr auto kEventFlags = flagsOf(kEventFields);

constexpr MSRPBFieldInfo kEventConfigFields[] = {
    {1, "name", MSRPBFieldString | MSRPBFieldOptional, nullptr},
    {2, "blocklisted", MSRPBFieldBool | MSRPBFieldOptional, nullptr},
    {3, "custom_conversion", MSRPBFieldBool | MSRPBFieldOptional, nullptr},
    {4, "sampling_rate", MSRPBFieldInt32 | MSRPBFieldOptional, nullptr},
};
constexpr auto kEventConfigFlags = flagsOf(kEventConfigFields);

constexpr MSRPBFieldInfo kEventFilterFields[] = {
    {1, "filter_id", MSRPBFieldInt32 | MSRPBFieldOptional, nullptr},
    {2, "event_name", MSRPBFieldString | MSRPBFieldOptional, nullptr},
    {3, "filters", MSRPBFieldMessage | MSRPBFieldRepeated, &kMSRPBFilterType},
    {4, "field_4", MSRPBFieldBool | MSRPBFieldOptional, nullptr},
    {5, "event_count_filter", MSRPBFieldMessage | MSRPBFieldOptional, &kMSRPBNumberFilterType},
    {6, "dynamic", MSRPBFieldBool | MSRPBFieldOptional, nullptr},
    {7, "sequence", MSRPBFieldBool | MSRPBFieldOptional, nullptr},
    {8, "session_scoped", MSRPBFieldBool | MSRPBFieldOptional, nullptr},
};
constexpr auto kEventFilterFlags = flagsOf(kEventFilterFields);

constexpr MSRPBFieldInfo kEventParamFields[] = {
    {1, "name", MSRPBFieldString | MSRPBFieldOptional, nullptr},
    {2, "string_value", MSRPBFieldString | MSRPBFieldOptional, nullptr},
    {3, "int_value", MSRPBFieldInt64 | MSRPBFieldOptional, nullptr},
    {4, "float_value", MSRPBFieldFloat | MSRPBFieldOptional, nullptr},
    {5, "double_value", MSRPBFieldDouble | MSRPBFieldOptional, nullptr},
    {6, "param_value", MSRPBFieldMessage | MSRPBFieldRepeated, &kMSRPBEventParamType},
};
constexpr auto kEventParamFlags = flagsOf(kEventParamFields);

constexpr MSRPBFieldInfo kExperimentFields[] = {
    {1, "experiment_id", MSRPBFieldInt32 | MSRPBFieldOptional, nullptr},
    {2, "flags", MSRPBFieldMessage | MSRPBFieldRepeated, &kMSRPBFlagType},
};
constexpr auto kExperimentFlags = flagsOf(kExperimentFields);

constexpr MSRPBFieldInfo kExperimentRequestFields[] = {
    {1, "app_property", MSRPBFieldMessage | MSRPBFieldOptional, &kMSRPBAppPropertyType},
    {2, "client_properties", MSRPBFieldMessage | MSRPBFieldRepeated, &kMSRPBClientPropertyType},
};
constexpr auto kExperimentRequestFlags = flagsOf(kExperimentRequestFields);

constexpr MSRPBFieldInfo kExperimentResponseFields[] = {
    {1, "snapshots", MSRPBFieldMessage | MSRPBFieldRepeated, &kMSRPBSnapshotType},
    {2, "sdk_responses", MSRPBFieldMessage | MSRPBFieldRepeated, &kMSRPBSdkResponseType},
};
constexpr auto kExperimentResponseFlags = flagsOf(kExperimentResponseFields);

constexpr MSRPBFieldInfo kFilterFields[] = {
    {1, "string_filter", MSRPBFieldMessage | MSRPBFieldOptional, &kMSRPBStringFilterType},
    {2, "number_filter", MSRPBFieldMessage | MSRPBFieldOptional, &kMSRPBNumberFilterType},
    {3, "field_3", MSRPBFieldBool | MSRPBFieldOptional, nullptr},
    {4, "param_name", MSRPBFieldString | MSRPBFieldOptional, nullptr},
};
constexpr auto kFilterFlags = flagsOf(kFilterFields);

constexpr MSRPBFieldInfo kFlagFields[] = {
    {1, "name", MSRPBFieldString | MSRPBFieldOptional, nullptr},
    {2, "int_value", MSRPBFieldInt64 | MSRPBFieldOptional, nullptr},
    {3, "string_value", MSRPBFieldString | MSRPBFieldOptional, nullptr},
    {4, "double_value", MSRPBFieldDouble | MSRPBFieldOptional, nullptr},
    {5, "bool_value", MSRPBFieldBool | MSRPBFieldOptional, nullptr},
};
constexpr auto kFlagFlags = flagsOf(kFlagFields);

constexpr MSRPBFieldInfo kHashedUserDataFields[] = {
    {1, "field_1", MSRPBFieldString | MSRPBFieldOptional, nullptr},
    {2, "field_2", MSRPBFieldString | MSRPBFieldOptional, nullptr},
    {3, "address", MSRPBFieldMessage | MSRPBFieldOptional, &kMSRPBAddressType},
};
constexpr auto kHashedUserDataFlags = flagsOf(kHashedUserDataFields);

constexpr MSRPBFieldInfo kMeasurementBatchFields[] = {
    {1, "bundles", MSRPBFieldMessage | MSRPBFieldRepeated, &kMSRPBMeasurementBundleType},
};
constexpr auto kMeasurementBatchFlags = flagsOf(kMeasurementBatchFields);

constexpr MSRPBFieldInfo kMeasurementBundleFields[] = {
    {1, "field_1", MSRPBFieldInt32 | MSRPBFieldOptional, nullptr},
    {2, "events", MSRPBFieldMessage | MSRPBFieldRepeated, &kMSRPBEventType},
    {3, "user_attributes", MSRPBFieldMessage | MSRPBFieldRepeated, &kMSRPBUserAttributeType},
    {4, "upload_timestamp_millis", MSRPBFieldInt64 | MSRPBFieldOptional, nullptr},
    {5, "start_timestamp_millis", MSRPBFieldInt64 | MSRPBFieldOptional, nullptr},
    {6, "end_timestamp_millis", MSRPBFieldInt64 | MSRPBFieldOptional, nullptr},
    {26, "previous_bundle_start_timestamp_millis", MSRPBFieldInt64 | MSRPBFieldOptional, nullptr},
    {7, "previous_bundle_end_timestamp_millis", MSRPBFieldInt64 | MSRPBFieldOptional, nullptr},
    {8, "platform", MSRPBFieldString | MSRPBFieldOptional, nullptr},
    {9, "os_version", MSRPBFieldString | MSRPBFieldOptional, nullptr},
    {10, "device_model", MSRPBFieldString | MSRPBFieldOptional, nullptr},
    {11, "user_default_language", MSRPBFieldString | MSRPBFieldOptional, nullptr},
    {12, "time_zone_offset_minutes", MSRPBFieldInt32 | MSRPBFieldOptional, nullptr},
    {13, "install_source", MSRPBFieldString | MSRPBFieldOptional, nullptr},
    {14, "app_id", MSRPBFieldString | MSRPBFieldOptional, nullptr},
    {15, "field_15", MSRPBFieldInt64 | MSRPBFieldOptional, nullptr},
    {16, "app_version", MSRPBFieldString | MSRPBFieldOptional, nullptr},
    {17, "library_version", MSRPBFieldInt64 | MSRPBFieldOptional, nullptr},
    {18, "upload_library_version", MSRPBFieldInt64 | MSRPBFieldOptional, nullptr},
    {19, "resettable_device_id", MSRPBFieldString | MSRPBFieldOptional, nullptr},
    {27, "identifier_for_vendor", MSRPBFieldString | MSRPBFieldOptional, nullptr},
    {20, "limited_ad_tracking", MSRPBFieldBool | MSRPBFieldOptional, nullptr},
    {21, "app_instance_id", MSRPBFieldString | MSRPBFieldOptional, nullptr},
    {22, "field_22", MSRPBFieldInt64 | MSRPBFieldOptional, nullptr},
    {23, "bundle_index", MSRPBFieldInt32 | MSRPBFieldOptional, nullptr},
    {24, "monitoring_data", MSRPBFieldString | MSRPBFieldOptional, nullptr},
    {25, "vmp_app_id", MSRPBFieldString | MSRPBFieldOptional, nullptr},
    {28, "field_28", MSRPBFieldBool | MSRPBFieldOptional, nullptr},
    {29, "audience_evaluation_results", MSRPBFieldMessage | MSRPBFieldRepeated,
     &kMSRPBAudienceLeafFilterResultType},
    {30, "lumo_installation_id", MSRPBFieldString | MSRPBFieldOptional, nullptr},
    {31, "app_version_major", MSRPBFieldInt32 | MSRPBFieldOptional, nullptr},
    {32, "app_version_minor", MSRPBFieldInt32 | MSRPBFieldOptional, nullptr},
    {33, "app_version_release", MSRPBFieldInt32 | MSRPBFieldOptional, nullptr},
    {34, "field_34", MSRPBFieldString | MSRPBFieldOptional, nullptr},
    {35, "config_version", MSRPBFieldInt64 | MSRPBFieldOptional, nullptr},
    {39, "retry_count", MSRPBFieldInt32 | MSRPBFieldOptional, nullptr},
    {41, "advista_app_id", MSRPBFieldString | MSRPBFieldOptional, nullptr},
    {45, "experiment_ids", MSRPBFieldUInt32 | MSRPBFieldRepeated, nullptr},
    {47, "checksum", MSRPBFieldInt64 | MSRPBFieldOptional, nullptr},
    {50, "field_50", MSRPBFieldString | MSRPBFieldOptional, nullptr},
    {52, "consent_signals", MSRPBFieldString | MSRPBFieldOptional, nullptr},
    {53, "apple_consent_status", MSRPBFieldEnum | MSRPBFieldOptional, nullptr},
    {55, "field_55", MSRPBFieldBool | MSRPBFieldOptional, nullptr},
    {57, "field_57", MSRPBFieldString | MSRPBFieldOptional, nullptr},
    {58, "field_58", MSRPBFieldBool | MSRPBFieldOptional, nullptr},
    {59, "hashed_user_data", MSRPBFieldMessage | MSRPBFieldOptional, &kMSRPBHashedUserDataType},
};
constexpr auto kMeasurementBundleFlags = flagsOf(kMeasurementBundleFields);

constexpr MSRPBFieldInfo kMeasurementConfigFields[] = {
    {1, "version", MSRPBFieldInt64 | MSRPBFieldOptional, nullptr},
    {2, "vmp_app_id", MSRPBFieldString | MSRPBFieldOptional, nullptr},
    {3, "field_3", MSRPBFieldInt32 | MSRPBFieldOptional, nullptr},
    {4, "settings", MSRPBFieldMessage | MSRPBFieldRepeated, &kMSRPBSettingType},
    {5, "event_config", MSRPBFieldMessage | MSRPBFieldRepeated, &kMSRPBEventConfigType},
    {6, "audiences", MSRPBFieldMessage | MSRPBFieldRepeated, &kMSRPBAudienceType},
    {7, "advista_app_id", MSRPBFieldString | MSRPBFieldOptional, nullptr},
    {8, "field_8", MSRPBFieldBool | MSRPBFieldOptional, nullptr},
    {9, "dynamic_event_editing", MSRPBFieldMessage | MSRPBFieldRepeated, &kMSRPBProgramType},
};
constexpr auto kMeasurementConfigFlags = flagsOf(kMeasurementConfigFields);

constexpr MSRPBFieldInfo kNumberFilterFields[] = {
    {1, "comparison_type", MSRPBFieldEnum | MSRPBFieldOptional, nullptr},
    {2, "match_as_float", MSRPBFieldBool | MSRPBFieldOptional, nullptr},
    {3, "comparison_value", MSRPBFieldString | MSRPBFieldOptional, nullptr},
    {4, "min_comparison_value", MSRPBFieldString | MSRPBFieldOptional, nullptr},
    {5, "max_comparison_value", MSRPBFieldString | MSRPBFieldOptional, nullptr},
};
constexpr auto kNumberFilterFlags = flagsOf(kNumberFilterFields);

constexpr MSRPBFieldInfo kOgtActivitiesFields[] = {
    {1, "activities", MSRPBFieldMessage | MSRPBFieldRepeated, &kMSRPBOgtActivityType},
};
constexpr auto kOgtActivitiesFlags = flagsOf(kOgtActivitiesFields);

constexpr MSRPBFieldInfo kOgtActivityFields[] = {
    {1, "name", MSRPBFieldString | MSRPBFieldOptional, nullptr},
    {2, "data", MSRPBFieldMessage | MSRPBFieldRepeated, &kMSRPBRuntimeEntityType},
};
constexpr auto kOgtActivityFlags = flagsOf(kOgtActivityFields);

constexpr MSRPBFieldInfo kProgramFields[] = {
    {1, "instructions", MSRPBFieldMessage | MSRPBFieldRepeated, &kMSRPBRuntimeEntityType},
    {2, "ogt_activities", MSRPBFieldMessage | MSRPBFieldOptional, &kMSRPBOgtActivitiesType},
};
constexpr auto kProgramFlags = flagsOf(kProgramFields);

constexpr MSRPBFieldInfo kPropertyFilterFields[] = {
    {1, "filter_id", MSRPBFieldInt32 | MSRPBFieldOptional, nullptr},
    {2, "property_name", MSRPBFieldString | MSRPBFieldOptional, nullptr},
    {3, "filter", MSRPBFieldMessage | MSRPBFieldOptional, &kMSRPBFilterType},
    {4, "dynamic", MSRPBFieldBool | MSRPBFieldOptional, nullptr},
    {5, "sequence", MSRPBFieldBool | MSRPBFieldOptional, nullptr},
    {6, "session_scoped", MSRPBFieldBool | MSRPBFieldOptional, nullptr},
};
constexpr auto kPropertyFilterFlags = flagsOf(kPropertyFilterFields);

constexpr MSRPBFieldInfo kResultDataFields[] = {
    {1, "status", MSRPBFieldUInt64 | MSRPBFieldRepeated, nullptr},
    {2, "results", MSRPBFieldUInt64 | MSRPBFieldRepeated, nullptr},
    {3, "dynamic_filter_timestamps", MSRPBFieldMessage | MSRPBFieldRepeated,
     &kMSRPBDynamicFilterResultTimestampType},
    {4, "sequence_filter_timestamps", MSRPBFieldMessage | MSRPBFieldRepeated,
     &kMSRPBSequenceFilterResultTimestampType},
};
constexpr auto kResultDataFlags = flagsOf(kResultDataFields);

constexpr MSRPBFieldInfo kRuntimeEntityFields[] = {
    {1, "type", MSRPBFieldEnum | MSRPBFieldOptional, nullptr},
    {2, "value", MSRPBFieldMessage | MSRPBFieldRepeated, &kMSRPBRuntimeEntityType},
    {3, "statement", MSRPBFieldString | MSRPBFieldOptional, nullptr},
    {4, "string_value", MSRPBFieldString | MSRPBFieldOptional, nullptr},
    {5, "boolean_value", MSRPBFieldBool | MSRPBFieldOptional, nullptr},
    {6, "number_value", MSRPBFieldDouble | MSRPBFieldOptional, nullptr},
};
constexpr auto kRuntimeEntityFlags = flagsOf(kRuntimeEntityFields);

constexpr MSRPBFieldInfo kSdkResponseFields[] = {
    {1, "name", MSRPBFieldString | MSRPBFieldOptional, nullptr},
    {2, "error_code", MSRPBFieldEnum | MSRPBFieldOptional, nullptr},
    {3, "snapshot", MSRPBFieldMessage | MSRPBFieldOptional, &kMSRPBSnapshotType},
};
constexpr auto kSdkResponseFlags = flagsOf(kSdkResponseFields);

constexpr MSRPBFieldInfo kSequenceFilterResultTimestampFields[] = {
    {1, "filter_id", MSRPBFieldInt32 | MSRPBFieldOptional, nullptr},
    {2, "eval_timestamps", MSRPBFieldInt64 | MSRPBFieldRepeated, nullptr},
};
constexpr auto kSequenceFilterResultTimestampFlags = flagsOf(kSequenceFilterResultTimestampFields);

constexpr MSRPBFieldInfo kSettingFields[] = {
    {1, "name", MSRPBFieldString | MSRPBFieldOptional, nullptr},
    {2, "value", MSRPBFieldString | MSRPBFieldOptional, nullptr},
};
constexpr auto kSettingFlags = flagsOf(kSettingFields);

constexpr MSRPBFieldInfo kSnapshotFields[] = {
    {1, "name", MSRPBFieldString | MSRPBFieldOptional, nullptr},
    {2, "experiments", MSRPBFieldMessage | MSRPBFieldRepeated, &kMSRPBExperimentType},
};
constexpr auto kSnapshotFlags = flagsOf(kSnapshotFields);

constexpr MSRPBFieldInfo kStringFilterFields[] = {
    {1, "match_type", MSRPBFieldEnum | MSRPBFieldOptional, nullptr},
    {2, "expression", MSRPBFieldString | MSRPBFieldOptional, nullptr},
    {3, "case_sensitive", MSRPBFieldBool | MSRPBFieldOptional, nullptr},
    {4, "expression_list", MSRPBFieldString | MSRPBFieldRepeated, nullptr},
};
constexpr auto kStringFilterFlags = flagsOf(kStringFilterFields);

constexpr MSRPBFieldInfo kUserAttributeFields[] = {
    {1, "set_timestamp_millis", MSRPBFieldInt64 | MSRPBFieldOptional, nullptr},
    {2, "name", MSRPBFieldString | MSRPBFieldOptional, nullptr},
    {3, "string_value", MSRPBFieldString | MSRPBFieldOptional, nullptr},
    {4, "int_value", MSRPBFieldInt64 | MSRPBFieldOptional, nullptr},
    {5, "float_value", MSRPBFieldFloat | MSRPBFieldOptional, nullptr},
    {6, "double_value", MSRPBFieldDouble | MSRPBFieldOptional, nullptr},
};
constexpr auto kUserAttributeFlags = flagsOf(kUserAttributeFields);

}  // namespace

const MSRPBMessageType kMSRPBAddressType = {
    "Address", 7, kAddressFields, kAddressFlags.data(), &msrpb_Address_msg, sizeof(msrpb_Address)};
const MSRPBMessageType kMSRPBAppPropertyType = {"AppProperty",          7,
                                                kAppPropertyFields,     kAppPropertyFlags.data(),
                                                &msrpb_AppProperty_msg, sizeof(msrpb_AppProperty)};
const MSRPBMessageType kMSRPBAudienceType = {"Audience",          5,
                                             kAudienceFields,     kAudienceFlags.data(),
                                             &msrpb_Audience_msg, sizeof(msrpb_Audience)};
const MSRPBMessageType kMSRPBAudienceLeafFilterResultType = {
    "AudienceLeafFilterResult",          4,
    kAudienceLeafFilterResultFields,     kAudienceLeafFilterResultFlags.data(),
    &msrpb_AudienceLeafFilterResult_msg, sizeof(msrpb_AudienceLeafFilterResult)};
const MSRPBMessageType kMSRPBClientPropertyType = {
    "ClientProperty",          5,
    kClientPropertyFields,     kClientPropertyFlags.data(),
    &msrpb_ClientProperty_msg, sizeof(msrpb_ClientProperty)};
const MSRPBMessageType kMSRPBCustomPropertyType = {
    "CustomProperty",          2,
    kCustomPropertyFields,     kCustomPropertyFlags.data(),
    &msrpb_CustomProperty_msg, sizeof(msrpb_CustomProperty)};
const MSRPBMessageType kMSRPBDynamicFilterResultTimestampType = {
    "DynamicFilterResultTimestamp",          2,
    kDynamicFilterResultTimestampFields,     kDynamicFilterResultTimestampFlags.data(),
    &msrpb_DynamicFilterResultTimestamp_msg, sizeof(msrpb_DynamicFilterResultTimestamp)};
const MSRPBMessageType kMSRPBEventType = {
    "Event", 5, kEventFields, kEventFlags.data(), &msrpb_Event_msg, sizeof(msrpb_Event)};
const MSRPBMessageType kMSRPBEventConfigType = {"EventConfig",          4,
                                                kEventConfigFields,     kEventConfigFlags.data(),
                                                &msrpb_EventConfig_msg, sizeof(msrpb_EventConfig)};
const MSRPBMessageType kMSRPBEventFilterType = {"EventFilter",          8,
                                                kEventFilterFields,     kEventFilterFlags.data(),
                                                &msrpb_EventFilter_msg, sizeof(msrpb_EventFilter)};
const MSRPBMessageType kMSRPBEventParamType = {"EventParam",          6,
                                               kEventParamFields,     kEventParamFlags.data(),
                                               &msrpb_EventParam_msg, sizeof(msrpb_EventParam)};
const MSRPBMessageType kMSRPBExperimentType = {"Experiment",          2,
                                               kExperimentFields,     kExperimentFlags.data(),
                                               &msrpb_Experiment_msg, sizeof(msrpb_Experiment)};
const MSRPBMessageType kMSRPBExperimentRequestType = {
    "ExperimentRequest",          2,
    kExperimentRequestFields,     kExperimentRequestFlags.data(),
    &msrpb_ExperimentRequest_msg, sizeof(msrpb_ExperimentRequest)};
const MSRPBMessageType kMSRPBExperimentResponseType = {
    "ExperimentResponse",          2,
    kExperimentResponseFields,     kExperimentResponseFlags.data(),
    &msrpb_ExperimentResponse_msg, sizeof(msrpb_ExperimentResponse)};
const MSRPBMessageType kMSRPBFilterType = {
    "Filter", 4, kFilterFields, kFilterFlags.data(), &msrpb_Filter_msg, sizeof(msrpb_Filter)};
const MSRPBMessageType kMSRPBFlagType = {
    "Flag", 5, kFlagFields, kFlagFlags.data(), &msrpb_Flag_msg, sizeof(msrpb_Flag)};
const MSRPBMessageType kMSRPBHashedUserDataType = {
    "HashedUserData",          3,
    kHashedUserDataFields,     kHashedUserDataFlags.data(),
    &msrpb_HashedUserData_msg, sizeof(msrpb_HashedUserData)};
const MSRPBMessageType kMSRPBMeasurementBatchType = {
    "MeasurementBatch",          1,
    kMeasurementBatchFields,     kMeasurementBatchFlags.data(),
    &msrpb_MeasurementBatch_msg, sizeof(msrpb_MeasurementBatch)};
const MSRPBMessageType kMSRPBMeasurementBundleType = {
    "MeasurementBundle",          46,
    kMeasurementBundleFields,     kMeasurementBundleFlags.data(),
    &msrpb_MeasurementBundle_msg, sizeof(msrpb_MeasurementBundle)};
const MSRPBMessageType kMSRPBMeasurementConfigType = {
    "MeasurementConfig",          9,
    kMeasurementConfigFields,     kMeasurementConfigFlags.data(),
    &msrpb_MeasurementConfig_msg, sizeof(msrpb_MeasurementConfig)};
const MSRPBMessageType kMSRPBNumberFilterType = {
    "NumberFilter",          5,
    kNumberFilterFields,     kNumberFilterFlags.data(),
    &msrpb_NumberFilter_msg, sizeof(msrpb_NumberFilter)};
const MSRPBMessageType kMSRPBOgtActivitiesType = {
    "OgtActivities",          1,
    kOgtActivitiesFields,     kOgtActivitiesFlags.data(),
    &msrpb_OgtActivities_msg, sizeof(msrpb_OgtActivities)};
const MSRPBMessageType kMSRPBOgtActivityType = {"OgtActivity",          2,
                                                kOgtActivityFields,     kOgtActivityFlags.data(),
                                                &msrpb_OgtActivity_msg, sizeof(msrpb_OgtActivity)};
const MSRPBMessageType kMSRPBProgramType = {
    "Program", 2, kProgramFields, kProgramFlags.data(), &msrpb_Program_msg, sizeof(msrpb_Program)};
const MSRPBMessageType kMSRPBPropertyFilterType = {
    "PropertyFilter",          6,
    kPropertyFilterFields,     kPropertyFilterFlags.data(),
    &msrpb_PropertyFilter_msg, sizeof(msrpb_PropertyFilter)};
const MSRPBMessageType kMSRPBResultDataType = {"ResultData",          4,
                                               kResultDataFields,     kResultDataFlags.data(),
                                               &msrpb_ResultData_msg, sizeof(msrpb_ResultData)};
const MSRPBMessageType kMSRPBRuntimeEntityType = {
    "RuntimeEntity",          6,
    kRuntimeEntityFields,     kRuntimeEntityFlags.data(),
    &msrpb_RuntimeEntity_msg, sizeof(msrpb_RuntimeEntity)};
const MSRPBMessageType kMSRPBSdkResponseType = {"SdkResponse",          3,
                                                kSdkResponseFields,     kSdkResponseFlags.data(),
                                                &msrpb_SdkResponse_msg, sizeof(msrpb_SdkResponse)};
const MSRPBMessageType kMSRPBSequenceFilterResultTimestampType = {
    "SequenceFilterResultTimestamp",          2,
    kSequenceFilterResultTimestampFields,     kSequenceFilterResultTimestampFlags.data(),
    &msrpb_SequenceFilterResultTimestamp_msg, sizeof(msrpb_SequenceFilterResultTimestamp)};
const MSRPBMessageType kMSRPBSettingType = {
    "Setting", 2, kSettingFields, kSettingFlags.data(), &msrpb_Setting_msg, sizeof(msrpb_Setting)};
const MSRPBMessageType kMSRPBSnapshotType = {"Snapshot",          2,
                                             kSnapshotFields,     kSnapshotFlags.data(),
                                             &msrpb_Snapshot_msg, sizeof(msrpb_Snapshot)};
const MSRPBMessageType kMSRPBStringFilterType = {
    "StringFilter",          4,
    kStringFilterFields,     kStringFilterFlags.data(),
    &msrpb_StringFilter_msg, sizeof(msrpb_StringFilter)};
const MSRPBMessageType kMSRPBUserAttributeType = {
    "UserAttribute",          6,
    kUserAttributeFields,     kUserAttributeFlags.data(),
    &msrpb_UserAttribute_msg, sizeof(msrpb_UserAttribute)};

const std::vector<const MSRPBMessageType*>& MSRPBAllMessageTypes() {
  static const auto* types = new std::vector<const MSRPBMessageType*>{
      &kMSRPBAddressType,
      &kMSRPBAppPropertyType,
      &kMSRPBAudienceType,
      &kMSRPBAudienceLeafFilterResultType,
      &kMSRPBClientPropertyType,
      &kMSRPBCustomPropertyType,
      &kMSRPBDynamicFilterResultTimestampType,
      &kMSRPBEventType,
      &kMSRPBEventConfigType,
      &kMSRPBEventFilterType,
      &kMSRPBEventParamType,
      &kMSRPBExperimentType,
      &kMSRPBExperimentRequestType,
      &kMSRPBExperimentResponseType,
      &kMSRPBFilterType,
      &kMSRPBFlagType,
      &kMSRPBHashedUserDataType,
      &kMSRPBMeasurementBatchType,
      &kMSRPBMeasurementBundleType,
      &kMSRPBMeasurementConfigType,
      &kMSRPBNumberFilterType,
      &kMSRPBOgtActivitiesType,
      &kMSRPBOgtActivityType,
      &kMSRPBProgramType,
      &kMSRPBPropertyFilterType,
      &kMSRPBResultDataType,
      &kMSRPBRuntimeEntityType,
      &kMSRPBSdkResponseType,
      &kMSRPBSequenceFilterResultTimestampType,
      &kMSRPBSettingType,
      &kMSRPBSnapshotType,
      &kMSRPBStringFilterType,
      &kMSRPBUserAttributeType,
  };
  return *types;
}

const MSRPBMessageType* MSRPBMessageTypeNamed(std::string_view name) {
  // Asked for on every checked field access, so looked up by hash rather than by a walk.
  static const auto* const byName = [] {
    auto* table = new std::unordered_map<std::string_view, const MSRPBMessageType*>();
    for (const MSRPBMessageType* type : MSRPBAllMessageTypes()) table->emplace(type->name, type);
    return table;
  }();
  const auto found = byName->find(name);
  return found == byName->end() ? nullptr : found->second;
}
