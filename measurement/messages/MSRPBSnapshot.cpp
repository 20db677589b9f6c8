#include "measurement/messages/MSRPBSnapshot.h"

#include "measurement/messages/MSRPBCodecs.h"

const MSRPBCodecFunctions& MSRPBSnapshot::codec() {
  static constexpr MSRPBCodecFunctions kCodec{
      "Snapshot",         MSRPBSnapshotInit,       MSRPBSnapshotFreeField,
      MSRPBSnapshotCopy,  MSRPBSnapshotDeallocate, MSRPBSnapshotDecode,
      MSRPBSnapshotEncode};
  return kCodec;
}
