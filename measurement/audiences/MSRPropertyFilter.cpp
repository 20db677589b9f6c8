#include "measurement/audiences/MSRPropertyFilter.h"

MSRPropertyFilter::MSRPropertyFilter(std::int32_t audienceID, std::int32_t filterID,
                                     std::string propertyName, platform::Bytes data,
                                     bool sessionScoped, bool dynamic, bool sequence)
    : audienceID_(audienceID),
      filterID_(filterID),
      propertyName_(std::move(propertyName)),
      data_(std::move(data)),
      sessionScoped_(sessionScoped),
      dynamic_(dynamic),
      sequence_(sequence) {}
