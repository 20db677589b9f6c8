#include "measurement/messages/MSRPBEvent.h"

#include "measurement/messages/MSRPBCodecs.h"

const MSRPBCodecFunctions& MSRPBEvent::codec() {
  static constexpr MSRPBCodecFunctions kCodec{
      "Event",          MSRPBEventInit,  MSRPBEventFreeField, MSRPBEventCopy, MSRPBEventDeallocate,
      MSRPBEventDecode, MSRPBEventEncode};
  return kCodec;
}
