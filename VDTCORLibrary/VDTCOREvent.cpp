#include "VDTCORLibrary/VDTCOREvent.h"

#include <algorithm>
#include <cctype>

#include "VDTCORLibrary/VDTCORConsoleLogger.h"
#include "VDTCORLibrary/VDTCORConstants.h"
#include "platform/base/Format.h"
#include "platform/dispatch/Clock.h"
#include "platform/runtime/Crypto.h"

namespace {

platform::ArchiveDecoderRegistrar eventDecoder(kVDTCOREventClassName,
                                               [](platform::KeyedUnarchiver& coder) {
                                                 return std::static_pointer_cast<platform::Object>(
                                                     VDTCOREvent::initWithCoder(coder));
                                               });

platform::Value bytesValue(const std::optional<platform::Bytes>& bytes) {
  return bytes ? platform::Value::data(*bytes) : platform::Value();
}

}  // namespace

std::string VDTCOREvent::nextEventID() {
  std::string id = platform::crypto::uuidString();
  id.erase(std::remove(id.begin(), id.end(), '-'), id.end());
  std::transform(id.begin(), id.end(), id.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return id;
}

std::shared_ptr<VDTCOREvent> VDTCOREvent::initWithMappingID(
    const std::optional<std::string>& mappingID, long target) {
  bool valid = VDTCORAssert(mappingID && !mappingID->empty(), "Please give a valid mapping ID");
  valid = VDTCORAssert(target > 0, "A target cannot be negative or 0") && valid;
  if (!valid) return nullptr;
  auto event = std::make_shared<VDTCOREvent>();
  event->eventID_ = nextEventID();
  event->mappingID_ = *mappingID;
  event->target_ = target;
  event->qosTier_ = VDTCOREventQosDefault;
  event->expirationDate_ = platform::Clock::current().now() + kVDTCOREventDefaultLifetimeSeconds;
  VDTCORLogDebug("Event %@ created. ID:%@ mappingID: %@ target:%ld", event, event->eventID_,
                 event->mappingID_, target);
  return event;
}

std::shared_ptr<VDTCOREvent> VDTCOREvent::copy() const {
  auto copy = initWithMappingID(mappingID_, target_);
  if (!copy) return nullptr;
  copy->eventID_ = eventID_;
  // A decoded event has its payload only as bytes; those travel with the copy.
  if (dataObject_) {
    copy->setDataObject(dataObject_);
  } else {
    copy->serializedDataObjectBytes_ = serializedDataObjectBytes_;
  }
  copy->qosTier_ = qosTier_;
  copy->clockSnapshot_ = clockSnapshot_;
  copy->customBytes_ = customBytes_;
  VDTCORLogDebug("Copying event %@ to event %@", description(), copy);
  return copy;
}

void VDTCOREvent::setDataObject(std::shared_ptr<VDTCOREventDataObject> dataObject) {
  dataObject_ = std::move(dataObject);
  serializedDataObjectBytes_ = dataObject_ ? dataObject_->transportBytes() : std::nullopt;
}

void VDTCOREvent::encodeWithCoder(platform::KeyedArchiver& coder) const {
  coder.encodeString(eventID_, kVDTCOREventEventIDKey);
  coder.encodeString(mappingID_, kVDTCOREventMappingIDKey);
  coder.encodeInteger(target_, kVDTCOREventTargetKey);
  coder.encodeInteger(qosTier_, kVDTCOREventQoSTierKey);
  coder.encodeObject(clockSnapshot_ ? platform::Value(clockSnapshot_) : platform::Value(),
                     kVDTCOREventClockSnapshotKey);
  coder.encodeObject(bytesValue(customBytes_), kVDTCOREventCustomDataKey);
  coder.encodeObject(expirationDate_ ? platform::Value::date(*expirationDate_) : platform::Value(),
                     kVDTCOREventExpirationDateKey);
  coder.encodeObject(bytesValue(serializedDataObjectBytes_),
                     kVDTCOREventSerializedDataObjectBytesKey);
}

std::shared_ptr<VDTCOREvent> VDTCOREvent::initWithCoder(platform::KeyedUnarchiver& coder) {
  auto event = std::make_shared<VDTCOREvent>();
  event->mappingID_ = coder.decodeString(kVDTCOREventMappingIDKey).value_or("");
  event->target_ = coder.decodeInteger(kVDTCOREventTargetKey);
  auto eventID = coder.decodeString(kVDTCOREventEventIDKey);
  event->eventID_ = eventID ? *eventID : nextEventID();
  event->qosTier_ = coder.decodeInteger(kVDTCOREventQoSTierKey);
  event->clockSnapshot_ =
      coder.decodeObjectOfClass(kVDTCORClockClassName, kVDTCOREventClockSnapshotKey)
          .objectAs<VDTCORClock>();
  event->customBytes_ = coder.decodeData(kVDTCOREventCustomDataKey);
  event->expirationDate_ = coder.decodeDate(kVDTCOREventExpirationDateKey);
  event->serializedDataObjectBytes_ = coder.decodeData(kVDTCOREventSerializedDataObjectBytesKey);
  if (!event->serializedDataObjectBytes_) return nullptr;
  return event;
}

std::string VDTCOREvent::description() const {
  return platform::format("<VDTCOREvent: %@ mappingID:%@ target:%ld qos:%ld>", eventID_, mappingID_,
                          target_, qosTier_);
}

std::size_t VDTCOREvent::hash() const {
  std::size_t h = platform::Value(eventID_).hash() ^ platform::Value(mappingID_).hash();
  h ^= clockSnapshot_ ? clockSnapshot_->hash() : 0;
  h ^= serializedDataObjectBytes_ ? platform::Value::data(*serializedDataObjectBytes_).hash() : 0;
  return h ^ static_cast<std::size_t>(target_) ^ static_cast<std::size_t>(qosTier_);
}

bool VDTCOREvent::isEqual(const platform::Object& other) const {
  return dynamic_cast<const VDTCOREvent*>(&other) && hash() == other.hash();
}
