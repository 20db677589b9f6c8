// The engine's in-memory analytics event: origin, internal or public name, times and sanitised
// parameters (name -> MSRValue object). Every event passes the designated initializer, which
// checks origin and name, sanitises the parameters and stamps the origin as "_o". Flags
// (conversion "_c", realtime "_r", debug "_dbg"), errors and screen context are reserved
// parameters. Changed only on the engine's worker queue; no lock.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "measurement/foundation/MSRParameterSanitizer.h"
#include "measurement/script/MSRPEvent.h"
#include "platform/base/Value.h"

class MSREvent;
class MSRPBEvent;
using MSREventPtr = std::shared_ptr<MSREvent>;

class MSREvent : public platform::Object {
 public:
  // Null when the origin or the name fails its rules (the validator logs why).
  static MSREventPtr initWithOrigin(const std::string& origin, bool isPublic,
                                    const std::string& name, double timestamp,
                                    double previousTimestamp, const MSRParameters* parameters);
  // The same event, logging the same lines, from a dictionary the caller hands over: entries
  // that pass as they are move into the event instead of being copied. For callers that build
  // the dictionary only to make the event (events read back from storage).
  static MSREventPtr initWithOriginTakingParameters(const std::string& origin, bool isPublic,
                                                    const std::string& name, double timestamp,
                                                    double previousTimestamp,
                                                    MSRParameters parameters);

  const std::string& origin() const { return origin_; }
  const std::string& name() const { return name_; }
  double timestamp() const { return timestamp_; }
  double previousTimestamp() const { return previousTimestamp_; }
  const MSRParameters& parameters() const { return parameters_; }

  // The stored and uploaded form. Array parameters do not survive the way back (logged 15002).
  static MSREventPtr initWithEventProto(const std::shared_ptr<MSRPBEvent>& proto);
  std::shared_ptr<MSRPBEvent> protoEvent() const;

  // Copies are rebuilt through the designated initializer as non-public events.
  MSREventPtr copy() const;
  MSREventPtr copyWithPreviousTimestamp(double previousTimestamp) const;
  MSREventPtr copyWithParameters(const MSRParameters* parameters) const;

  bool shouldValidateParams() const;
  bool isConversion() const;
  bool isRealtime() const;  // a non-int64 "_r" is logged (16006) and answers no
  bool isDebug() const;
  void setConversion(bool conversion);
  void setRealtime(bool realtime);
  void setDebug(bool debug);

  // Default parameters, sanitised as public ones; the event's own keys win.
  void applyParameters(const MSRParameters& defaults);
  // Screen context ("_si" required, "_sc" and "_sn" optional), added once.
  bool addScreenParameters(const MSRParameters& screen);

  // Event editing: a script event becomes an internal event (public names mapped to internal ones,
  // origin from its "_o" or "app"), and back with public names and plain parameters.
  static MSREventPtr eventFromEditEvent(const MSRPEvent& editEvent);
  std::shared_ptr<MSRPEvent> editEvent() const;

  std::string className() const override { return "MSREvent"; }
  std::string description() const override;

 private:
  // Only the initializers make events; the key lets them use make_shared (the event and its
  // reference counts in one allocation) while nobody else can construct one.
  struct ConstructionKey {
    explicit ConstructionKey() = default;
  };

 public:
  explicit MSREvent(ConstructionKey) {}

 private:
  // Origin and name passed their rules; stamps the origin and applies the value rule.
  static MSREventPtr assemble(const std::string& origin, const std::string& name, double timestamp,
                              double previousTimestamp, MSRParameters sanitized);
  std::string origin_;
  std::string name_;
  double timestamp_ = 0;
  double previousTimestamp_ = 0;
  MSRParameters parameters_;
};

bool MSRIsErrorEvent(const MSREvent& event);
bool MSRIsSubscriptionEvent(const MSREvent& event);
std::int32_t MSREventItemsCount(const MSREvent* event);
// An array of MSRPBEventParam objects; values that are not MSRValues (16005) and arrays inside
// array elements (16007) are logged and left out.
platform::Value MSREventParamsFromParameters(const MSRParameters& parameters,
                                             const std::string& eventName, bool nested);
// Plain numbers, strings and (when not nested) arrays of plain element dictionaries.
platform::Value::Dictionary MSRPlainParametersFromValues(const MSRParameters& parameters,
                                                         bool nested);
