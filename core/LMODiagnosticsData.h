// The bag of values the core diagnostics connector hands to the sender ("LMOCDxxx" keys). Fills
// the apps count, the data-collection switch and the user agent when read without them.
// Not synchronised: filled on one thread, then handed over.
#pragma once

#include <string>

#include "platform/base/Value.h"
#include "platform/runtime/Runtime.h"

class LMODiagnosticsData : public platform::runtime::RootObject {
 public:
  // No key: nothing; a nil value removes the key.
  void insertValue(const platform::Value& value, const std::string& key);
  // The bag with its three defaults filled in.
  const platform::Value::Dictionary& diagnosticObjects();
  // Not allowed: fails an assertion ("Please use -insertValue:forKey:").
  void setDiagnosticObjects(const platform::Value::Dictionary& objects);

  std::string className() const override { return "LMODiagnosticsData"; }

 private:
  platform::Value::Dictionary objects_;
};
