#include "measurement/messages/MSRPBOgtActivities.h"

#include "measurement/messages/MSRPBCodecs.h"

const MSRPBCodecFunctions& MSRPBOgtActivities::codec() {
  static constexpr MSRPBCodecFunctions kCodec{
      "OgtActivities",         MSRPBOgtActivitiesInit,       MSRPBOgtActivitiesFreeField,
      MSRPBOgtActivitiesCopy,  MSRPBOgtActivitiesDeallocate, MSRPBOgtActivitiesDecode,
      MSRPBOgtActivitiesEncode};
  return kCodec;
}
