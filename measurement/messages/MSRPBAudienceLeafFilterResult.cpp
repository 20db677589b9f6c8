#include "measurement/messages/MSRPBAudienceLeafFilterResult.h"

#include "measurement/messages/MSRPBCodecs.h"

const MSRPBCodecFunctions& MSRPBAudienceLeafFilterResult::codec() {
  static constexpr MSRPBCodecFunctions kCodec{"AudienceLeafFilterResult",
                                              MSRPBAudienceLeafFilterResultInit,
                                              MSRPBAudienceLeafFilterResultFreeField,
                                              MSRPBAudienceLeafFilterResultCopy,
                                              MSRPBAudienceLeafFilterResultDeallocate,
                                              MSRPBAudienceLeafFilterResultDecode,
                                              MSRPBAudienceLeafFilterResultEncode};
  return kCodec;
}
