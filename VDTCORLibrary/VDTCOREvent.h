// One telemetry record of the event transport: the client's payload (as bytes) plus its routing
// facts (mapping ID, target), quality-of-service tier, expiry and time snapshot. An event carries
// no lock: it is filled in by one thread and copied before the transport hands it on.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "VDTCORLibrary/VDTCORClock.h"
#include "VDTCORLibrary/VDTCOREventDataObject.h"
#include "platform/base/Value.h"
#include "platform/runtime/KeyedArchiver.h"

// Quality-of-service tiers.
enum VDTCOREventQoS : long {
  VDTCOREventQoSUnknown = 0,
  VDTCOREventQoSTelemetry = 1,
  VDTCOREventQoSDaily = 2,
  VDTCOREventQosDefault = 3,
  VDTCOREventQoSFast = 4,
  VDTCOREventQoSWifiOnly = 5,
};

// Upload targets.
enum VDTCORTarget : long {
  kVDTCORTargetTest = 999,
  kVDTCORTargetCCT = 1000,
  kVDTCORTargetFLL = 1001,
  kVDTCORTargetCSH = 1002,
  kVDTCORTargetINT = 1003,
};

class VDTCOREvent : public platform::Object, public platform::SecureCoding {
 public:
  // 32 upper-case hexadecimal characters of a fresh random UUID.
  static std::string nextEventID();

  // Null (after an assertion report) for a missing or empty mapping ID or a target below 1.
  static std::shared_ptr<VDTCOREvent> initWithMappingID(const std::optional<std::string>& mappingID,
                                                        long target);
  // A new event of the same mapping ID and target with this event's ID, payload object, tier,
  // snapshot and custom bytes; the expiry is the copy's own default.
  std::shared_ptr<VDTCOREvent> copy() const;

  const std::string& eventID() const { return eventID_; }
  void setEventID(std::string eventID) { eventID_ = std::move(eventID); }
  const std::string& mappingID() const { return mappingID_; }
  long target() const { return target_; }

  const std::shared_ptr<VDTCOREventDataObject>& dataObject() const { return dataObject_; }
  // Keeps the object and asks it for its bytes at once, on the caller's thread.
  void setDataObject(std::shared_ptr<VDTCOREventDataObject> dataObject);
  const std::optional<platform::Bytes>& serializedDataObjectBytes() const {
    return serializedDataObjectBytes_;
  }

  long qosTier() const { return qosTier_; }
  void setQosTier(long tier) { qosTier_ = tier; }
  const VDTCORClockPtr& clockSnapshot() const { return clockSnapshot_; }
  void setClockSnapshot(VDTCORClockPtr clock) { clockSnapshot_ = std::move(clock); }
  // Seconds since 1970; nullopt only for a decoded event whose archive held none.
  std::optional<double> expirationDate() const { return expirationDate_; }
  void setExpirationDate(std::optional<double> date) { expirationDate_ = date; }
  const std::optional<platform::Bytes>& customBytes() const { return customBytes_; }
  void setCustomBytes(std::optional<platform::Bytes> bytes) { customBytes_ = std::move(bytes); }

  static bool supportsSecureCoding() { return true; }
  void encodeWithCoder(platform::KeyedArchiver& coder) const override;
  // Null when the archive holds no payload bytes. The payload object is never restored.
  static std::shared_ptr<VDTCOREvent> initWithCoder(platform::KeyedUnarchiver& coder);

  std::string className() const override { return "VDTCOREvent"; }
  std::string description() const override;
  std::size_t hash() const override;
  // True exactly when the hashes are equal.
  bool isEqual(const platform::Object& other) const override;

  VDTCOREvent() = default;  // bare; use initWithMappingID

 private:
  std::string eventID_;
  std::string mappingID_;
  long target_ = 0;
  std::shared_ptr<VDTCOREventDataObject> dataObject_;
  std::optional<platform::Bytes> serializedDataObjectBytes_;
  long qosTier_ = 0;
  VDTCORClockPtr clockSnapshot_;
  std::optional<double> expirationDate_;
  std::optional<platform::Bytes> customBytes_;
};
using VDTCOREventPtr = std::shared_ptr<VDTCOREvent>;
