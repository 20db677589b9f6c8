#include "measurement/messages/MSRPBEventFilter.h"

#include "measurement/messages/MSRPBCodecs.h"

const MSRPBCodecFunctions& MSRPBEventFilter::codec() {
  static constexpr MSRPBCodecFunctions kCodec{
      "EventFilter",         MSRPBEventFilterInit,       MSRPBEventFilterFreeField,
      MSRPBEventFilterCopy,  MSRPBEventFilterDeallocate, MSRPBEventFilterDecode,
      MSRPBEventFilterEncode};
  return kCodec;
}
