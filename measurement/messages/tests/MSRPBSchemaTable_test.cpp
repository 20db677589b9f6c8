// Every field of the 33 measurement messages as the schema gives it: tag, slot, name, label and
// type (a sub-message by its type's name), against the message types the codecs run on.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "measurement/messages/MSRPBMessageInfo.h"
#include "measurement/messages/MSRPBSchema.h"

namespace {

struct Field {
  std::uint32_t tag;
  std::uint32_t slot;
  const char* name;
  std::uint32_t label;      // MSRPBFieldOptional or MSRPBFieldRepeated
  std::uint32_t type;       // the type bit
  const char* messageType;  // the sub-message's type, or null
};

struct Message {
  const char* name;
  std::uint32_t fieldCount;
  std::vector<Field> fields;
};

constexpr std::uint32_t O = MSRPBFieldOptional;
constexpr std::uint32_t R = MSRPBFieldRepeated;

const std::vector<Message>& schema() {
  static const std::vector<Message> messages = {
      {"MeasurementBatch", 1, {{1, 0, "bundles", R, MSRPBFieldMessage, "MeasurementBundle"}}},
      {"MeasurementBundle",
       46,
       {{1, 0, "field_1", O, MSRPBFieldInt32, nullptr},
        {2, 1, "events", R, MSRPBFieldMessage, "Event"},
        {3, 2, "user_attributes", R, MSRPBFieldMessage, "UserAttribute"},
        {4, 3, "upload_timestamp_millis", O, MSRPBFieldInt64, nullptr},
        {5, 4, "start_timestamp_millis", O, MSRPBFieldInt64, nullptr},
        {6, 5, "end_timestamp_millis", O, MSRPBFieldInt64, nullptr},
        {7, 7, "previous_bundle_end_timestamp_millis", O, MSRPBFieldInt64, nullptr},
        {8, 8, "platform", O, MSRPBFieldString, nullptr},
        {9, 9, "os_version", O, MSRPBFieldString, nullptr},
        {10, 10, "device_model", O, MSRPBFieldString, nullptr},
        {11, 11, "user_default_language", O, MSRPBFieldString, nullptr},
        {12, 12, "time_zone_offset_minutes", O, MSRPBFieldInt32, nullptr},
        {13, 13, "install_source", O, MSRPBFieldString, nullptr},
        {14, 14, "app_id", O, MSRPBFieldString, nullptr},
        {15, 15, "field_15", O, MSRPBFieldInt64, nullptr},
        {16, 16, "app_version", O, MSRPBFieldString, nullptr},
        {17, 17, "library_version", O, MSRPBFieldInt64, nullptr},
        {18, 18, "upload_library_version", O, MSRPBFieldInt64, nullptr},
        {19, 19, "resettable_device_id", O, MSRPBFieldString, nullptr},
        {20, 21, "limited_ad_tracking", O, MSRPBFieldBool, nullptr},
        {21, 22, "app_instance_id", O, MSRPBFieldString, nullptr},
        {22, 23, "field_22", O, MSRPBFieldInt64, nullptr},
        {23, 24, "bundle_index", O, MSRPBFieldInt32, nullptr},
        {24, 25, "monitoring_data", O, MSRPBFieldString, nullptr},
        {25, 26, "vmp_app_id", O, MSRPBFieldString, nullptr},
        {26, 6, "previous_bundle_start_timestamp_millis", O, MSRPBFieldInt64, nullptr},
        {27, 20, "identifier_for_vendor", O, MSRPBFieldString, nullptr},
        {28, 27, "field_28", O, MSRPBFieldBool, nullptr},
        {29, 28, "audience_evaluation_results", R, MSRPBFieldMessage, "AudienceLeafFilterResult"},
        {30, 29, "lumo_installation_id", O, MSRPBFieldString, nullptr},
        {31, 30, "app_version_major", O, MSRPBFieldInt32, nullptr},
        {32, 31, "app_version_minor", O, MSRPBFieldInt32, nullptr},
        {33, 32, "app_version_release", O, MSRPBFieldInt32, nullptr},
        {34, 33, "field_34", O, MSRPBFieldString, nullptr},
        {35, 34, "config_version", O, MSRPBFieldInt64, nullptr},
        {39, 35, "retry_count", O, MSRPBFieldInt32, nullptr},
        {41, 36, "advista_app_id", O, MSRPBFieldString, nullptr},
        {45, 37, "experiment_ids", R, MSRPBFieldUInt32, nullptr},
        {47, 38, "checksum", O, MSRPBFieldInt64, nullptr},
        {50, 39, "field_50", O, MSRPBFieldString, nullptr},
        {52, 40, "consent_signals", O, MSRPBFieldString, nullptr},
        {53, 41, "apple_consent_status", O, MSRPBFieldEnum, nullptr},
        {55, 42, "field_55", O, MSRPBFieldBool, nullptr},
        {57, 43, "field_57", O, MSRPBFieldString, nullptr},
        {58, 44, "field_58", O, MSRPBFieldBool, nullptr},
        {59, 45, "hashed_user_data", O, MSRPBFieldMessage, "HashedUserData"}}},
      {"Event",
       5,
       {{1, 0, "params", R, MSRPBFieldMessage, "EventParam"},
        {2, 1, "name", O, MSRPBFieldString, nullptr},
        {3, 2, "timestamp_millis", O, MSRPBFieldInt64, nullptr},
        {4, 3, "previous_timestamp_millis", O, MSRPBFieldInt64, nullptr},
        {5, 4, "field_5", O, MSRPBFieldInt32, nullptr}}},
      {"EventParam",
       6,
       {{1, 0, "name", O, MSRPBFieldString, nullptr},
        {2, 1, "string_value", O, MSRPBFieldString, nullptr},
        {3, 2, "int_value", O, MSRPBFieldInt64, nullptr},
        {4, 3, "float_value", O, MSRPBFieldFloat, nullptr},
        {5, 4, "double_value", O, MSRPBFieldDouble, nullptr},
        {6, 5, "param_value", R, MSRPBFieldMessage, "EventParam"}}},
      {"UserAttribute",
       6,
       {{1, 0, "set_timestamp_millis", O, MSRPBFieldInt64, nullptr},
        {2, 1, "name", O, MSRPBFieldString, nullptr},
        {3, 2, "string_value", O, MSRPBFieldString, nullptr},
        {4, 3, "int_value", O, MSRPBFieldInt64, nullptr},
        {5, 4, "float_value", O, MSRPBFieldFloat, nullptr},
        {6, 5, "double_value", O, MSRPBFieldDouble, nullptr}}},
      {"AudienceLeafFilterResult",
       4,
       {{1, 0, "audience_id", O, MSRPBFieldInt32, nullptr},
        {2, 1, "current_data", O, MSRPBFieldMessage, "ResultData"},
        {3, 2, "previous_data", O, MSRPBFieldMessage, "ResultData"},
        {4, 3, "field_4", O, MSRPBFieldBool, nullptr}}},
      {"ResultData",
       4,
       {{1, 0, "status", R, MSRPBFieldUInt64, nullptr},
        {2, 1, "results", R, MSRPBFieldUInt64, nullptr},
        {3, 2, "dynamic_filter_timestamps", R, MSRPBFieldMessage, "DynamicFilterResultTimestamp"},
        {4, 3, "sequence_filter_timestamps", R, MSRPBFieldMessage,
         "SequenceFilterResultTimestamp"}}},
      {"DynamicFilterResultTimestamp",
       2,
       {{1, 0, "filter_id", O, MSRPBFieldInt32, nullptr},
        {2, 1, "timestamp", O, MSRPBFieldInt64, nullptr}}},
      {"SequenceFilterResultTimestamp",
       2,
       {{1, 0, "filter_id", O, MSRPBFieldInt32, nullptr},
        {2, 1, "eval_timestamps", R, MSRPBFieldInt64, nullptr}}},
      {"HashedUserData",
       3,
       {{1, 0, "field_1", O, MSRPBFieldString, nullptr},
        {2, 1, "field_2", O, MSRPBFieldString, nullptr},
        {3, 2, "address", O, MSRPBFieldMessage, "Address"}}},
      {"Address",
       7,
       {{1, 0, "field_1", O, MSRPBFieldString, nullptr},
        {2, 1, "field_2", O, MSRPBFieldString, nullptr},
        {3, 2, "field_3", O, MSRPBFieldString, nullptr},
        {4, 3, "field_4", O, MSRPBFieldString, nullptr},
        {5, 4, "field_5", O, MSRPBFieldString, nullptr},
        {6, 5, "field_6", O, MSRPBFieldString, nullptr},
        {7, 6, "field_7", O, MSRPBFieldString, nullptr}}},
      {"MeasurementConfig",
       9,
       {{1, 0, "version", O, MSRPBFieldInt64, nullptr},
        {2, 1, "vmp_app_id", O, MSRPBFieldString, nullptr},
        {3, 2, "field_3", O, MSRPBFieldInt32, nullptr},
        {4, 3, "settings", R, MSRPBFieldMessage, "Setting"},
        {5, 4, "event_config", R, MSRPBFieldMessage, "EventConfig"},
        {6, 5, "audiences", R, MSRPBFieldMessage, "Audience"},
        {7, 6, "advista_app_id", O, MSRPBFieldString, nullptr},
        {8, 7, "field_8", O, MSRPBFieldBool, nullptr},
        {9, 8, "dynamic_event_editing", R, MSRPBFieldMessage, "Program"}}},
      {"Setting",
       2,
       {{1, 0, "name", O, MSRPBFieldString, nullptr},
        {2, 1, "value", O, MSRPBFieldString, nullptr}}},
      {"EventConfig",
       4,
       {{1, 0, "name", O, MSRPBFieldString, nullptr},
        {2, 1, "blocklisted", O, MSRPBFieldBool, nullptr},
        {3, 2, "custom_conversion", O, MSRPBFieldBool, nullptr},
        {4, 3, "sampling_rate", O, MSRPBFieldInt32, nullptr}}},
      {"Audience",
       5,
       {{1, 0, "audience_id", O, MSRPBFieldInt32, nullptr},
        {2, 1, "property_filters", R, MSRPBFieldMessage, "PropertyFilter"},
        {3, 2, "event_filters", R, MSRPBFieldMessage, "EventFilter"},
        {4, 3, "field_4", O, MSRPBFieldBool, nullptr},
        {5, 4, "field_5", O, MSRPBFieldBool, nullptr}}},
      {"EventFilter",
       8,
       {{1, 0, "filter_id", O, MSRPBFieldInt32, nullptr},
        {2, 1, "event_name", O, MSRPBFieldString, nullptr},
        {3, 2, "filters", R, MSRPBFieldMessage, "Filter"},
        {4, 3, "field_4", O, MSRPBFieldBool, nullptr},
        {5, 4, "event_count_filter", O, MSRPBFieldMessage, "NumberFilter"},
        {6, 5, "dynamic", O, MSRPBFieldBool, nullptr},
        {7, 6, "sequence", O, MSRPBFieldBool, nullptr},
        {8, 7, "session_scoped", O, MSRPBFieldBool, nullptr}}},
      {"PropertyFilter",
       6,
       {{1, 0, "filter_id", O, MSRPBFieldInt32, nullptr},
        {2, 1, "property_name", O, MSRPBFieldString, nullptr},
        {3, 2, "filter", O, MSRPBFieldMessage, "Filter"},
        {4, 3, "dynamic", O, MSRPBFieldBool, nullptr},
        {5, 4, "sequence", O, MSRPBFieldBool, nullptr},
        {6, 5, "session_scoped", O, MSRPBFieldBool, nullptr}}},
      {"Filter",
       4,
       {{1, 0, "string_filter", O, MSRPBFieldMessage, "StringFilter"},
        {2, 1, "number_filter", O, MSRPBFieldMessage, "NumberFilter"},
        {3, 2, "field_3", O, MSRPBFieldBool, nullptr},
        {4, 3, "param_name", O, MSRPBFieldString, nullptr}}},
      {"StringFilter",
       4,
       {{1, 0, "match_type", O, MSRPBFieldEnum, nullptr},
        {2, 1, "expression", O, MSRPBFieldString, nullptr},
        {3, 2, "case_sensitive", O, MSRPBFieldBool, nullptr},
        {4, 3, "expression_list", R, MSRPBFieldString, nullptr}}},
      {"NumberFilter",
       5,
       {{1, 0, "comparison_type", O, MSRPBFieldEnum, nullptr},
        {2, 1, "match_as_float", O, MSRPBFieldBool, nullptr},
        {3, 2, "comparison_value", O, MSRPBFieldString, nullptr},
        {4, 3, "min_comparison_value", O, MSRPBFieldString, nullptr},
        {5, 4, "max_comparison_value", O, MSRPBFieldString, nullptr}}},
      {"Program",
       2,
       {{1, 0, "instructions", R, MSRPBFieldMessage, "RuntimeEntity"},
        {2, 1, "ogt_activities", O, MSRPBFieldMessage, "OgtActivities"}}},
      {"OgtActivities", 1, {{1, 0, "activities", R, MSRPBFieldMessage, "OgtActivity"}}},
      {"OgtActivity",
       2,
       {{1, 0, "name", O, MSRPBFieldString, nullptr},
        {2, 1, "data", R, MSRPBFieldMessage, "RuntimeEntity"}}},
      {"RuntimeEntity",
       6,
       {{1, 0, "type", O, MSRPBFieldEnum, nullptr},
        {2, 1, "value", R, MSRPBFieldMessage, "RuntimeEntity"},
        {3, 2, "statement", O, MSRPBFieldString, nullptr},
        {4, 3, "string_value", O, MSRPBFieldString, nullptr},
        {5, 4, "boolean_value", O, MSRPBFieldBool, nullptr},
        {6, 5, "number_value", O, MSRPBFieldDouble, nullptr}}},
      {"ExperimentRequest",
       2,
       {{1, 0, "app_property", O, MSRPBFieldMessage, "AppProperty"},
        {2, 1, "client_properties", R, MSRPBFieldMessage, "ClientProperty"}}},
      {"ExperimentResponse",
       2,
       {{1, 0, "snapshots", R, MSRPBFieldMessage, "Snapshot"},
        {2, 1, "sdk_responses", R, MSRPBFieldMessage, "SdkResponse"}}},
      {"AppProperty",
       7,
       {{1, 0, "platform", O, MSRPBFieldString, nullptr},
        {2, 1, "os_version", O, MSRPBFieldString, nullptr},
        {3, 2, "device_model", O, MSRPBFieldString, nullptr},
        {4, 3, "language", O, MSRPBFieldString, nullptr},
        {5, 4, "bundle_identifier", O, MSRPBFieldString, nullptr},
        {6, 5, "is_from_app_store", O, MSRPBFieldBool, nullptr},
        {7, 6, "version", O, MSRPBFieldInt64, nullptr}}},
      {"ClientProperty",
       5,
       {{1, 0, "name", O, MSRPBFieldString, nullptr},
        {2, 1, "diversion_key", O, MSRPBFieldString, nullptr},
        {3, 2, "version", O, MSRPBFieldInt64, nullptr},
        {4, 3, "app_id", O, MSRPBFieldString, nullptr},
        {5, 4, "custom_properties", R, MSRPBFieldMessage, "CustomProperty"}}},
      {"CustomProperty",
       2,
       {{1, 0, "key", O, MSRPBFieldString, nullptr},
        {2, 1, "value", O, MSRPBFieldString, nullptr}}},
      {"SdkResponse",
       3,
       {{1, 0, "name", O, MSRPBFieldString, nullptr},
        {2, 1, "error_code", O, MSRPBFieldEnum, nullptr},
        {3, 2, "snapshot", O, MSRPBFieldMessage, "Snapshot"}}},
      {"Snapshot",
       2,
       {{1, 0, "name", O, MSRPBFieldString, nullptr},
        {2, 1, "experiments", R, MSRPBFieldMessage, "Experiment"}}},
      {"Experiment",
       2,
       {{1, 0, "experiment_id", O, MSRPBFieldInt32, nullptr},
        {2, 1, "flags", R, MSRPBFieldMessage, "Flag"}}},
      {"Flag",
       5,
       {{1, 0, "name", O, MSRPBFieldString, nullptr},
        {2, 1, "int_value", O, MSRPBFieldInt64, nullptr},
        {3, 2, "string_value", O, MSRPBFieldString, nullptr},
        {4, 3, "double_value", O, MSRPBFieldDouble, nullptr},
        {5, 4, "bool_value", O, MSRPBFieldBool, nullptr}}},
  };
  return messages;
}

TEST(MSRPBSchemaTableTest, EveryMessageHasExactlyTheSchemasFields) {
  ASSERT_EQ(schema().size(), 33u);
  std::set<std::string> names;
  for (const MSRPBMessageType* type : MSRPBAllMessageTypes()) names.insert(type->name);
  ASSERT_EQ(names.size(), 33u);
  for (const Message& message : schema()) {
    SCOPED_TRACE(message.name);
    EXPECT_TRUE(names.count(message.name));
    const MSRPBMessageType* type = MSRPBMessageTypeNamed(message.name);
    ASSERT_NE(type, nullptr);
    ASSERT_EQ(type->fieldCount, message.fieldCount);
    ASSERT_EQ(message.fields.size(), message.fieldCount);
    std::set<std::uint32_t> slots;
    for (const Field& field : message.fields) {
      SCOPED_TRACE(field.name);
      ASSERT_LT(field.slot, type->fieldCount);
      EXPECT_TRUE(slots.insert(field.slot).second) << "slot given twice";
      const MSRPBFieldInfo& info = type->fields[field.slot];
      EXPECT_EQ(info.tag, field.tag);
      EXPECT_STREQ(info.name, field.name);
      EXPECT_EQ(type->flags[field.slot], field.label | field.type);
      EXPECT_EQ(info.flags, field.label | field.type);
      if (field.messageType) {
        ASSERT_NE(info.messageType, nullptr);
        EXPECT_STREQ(info.messageType->name, field.messageType);
      } else {
        EXPECT_EQ(info.messageType, nullptr);
      }
    }
  }
}

}  // namespace
