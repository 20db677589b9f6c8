#include "measurement/audiences/MSREventFilter.h"

MSREventFilter::MSREventFilter(std::int32_t audienceID, std::int32_t filterID,
                               std::string eventName, platform::Bytes data, bool sessionScoped,
                               bool dynamic, bool sequence)
    : audienceID_(audienceID),
      filterID_(filterID),
      eventName_(std::move(eventName)),
      data_(std::move(data)),
      sessionScoped_(sessionScoped),
      dynamic_(dynamic),
      sequence_(sequence) {}
