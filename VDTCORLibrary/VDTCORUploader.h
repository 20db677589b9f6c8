// What an uploader is to the transport: it uploads one target under a set of upload-condition
// bits (1 no network, 2 cellular, 4 Wi-Fi, 16 forced). Called on the upload coordinator's queue.
#pragma once

#include <memory>

#include "VDTCORLibrary/VDTCORLifecycle.h"

enum VDTCORUploadConditions : long {
  VDTCORUploadConditionNoNetwork = 1,
  VDTCORUploadConditionMobileData = 2,
  VDTCORUploadConditionWifiData = 4,
  VDTCORUploadConditionHighPriority = 16,
};

class VDTCORUploader : public virtual VDTCORLifecycleProtocol {
 public:
  virtual void uploadTarget(long target, long conditions) = 0;
};
using VDTCORUploaderPtr = std::shared_ptr<VDTCORUploader>;
