// An audience's property filter as the database stores it: IDs, the property name, the encoded
// filter and three flags. The audiences' record; deliberately minimal (records only). Immutable;
// any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/base/Value.h"

class MSRPropertyFilter : public platform::Object {
 public:
  MSRPropertyFilter(std::int32_t audienceID, std::int32_t filterID, std::string propertyName,
                    platform::Bytes data, bool sessionScoped, bool dynamic, bool sequence);

  std::string className() const override { return "MSRPropertyFilter"; }

  std::int32_t audienceID() const { return audienceID_; }
  std::int32_t filterID() const { return filterID_; }
  const std::string& propertyName() const { return propertyName_; }
  const platform::Bytes& data() const { return data_; }
  bool isSessionScoped() const { return sessionScoped_; }
  bool isDynamic() const { return dynamic_; }
  bool isSequence() const { return sequence_; }

 private:
  std::int32_t audienceID_;
  std::int32_t filterID_;
  std::string propertyName_;
  platform::Bytes data_;
  bool sessionScoped_, dynamic_, sequence_;
};
