// The event payload of the core diagnostics: owns one built configuration message and encodes
// it with nanopb when the transport asks. Frees the message's buffers when it goes. Not
// synchronised: built and encoded on the diagnostics queue.
#pragma once

#include <optional>

#include "VDTCORLibrary/VDTCOREventDataObject.h"
#include "lmo_core_diagnostics.pb.h"

using LMOCoreConfiguration = logs_proto_mobilesdk_ios_ICoreConfiguration;

class LMOCoreDiagnosticsLog : public VDTCOREventDataObject {
 public:
  // Takes ownership of the message's buffers.
  explicit LMOCoreDiagnosticsLog(const LMOCoreConfiguration& config);
  ~LMOCoreDiagnosticsLog() override;
  LMOCoreDiagnosticsLog(const LMOCoreDiagnosticsLog&) = delete;
  LMOCoreDiagnosticsLog& operator=(const LMOCoreDiagnosticsLog&) = delete;

  const LMOCoreConfiguration& config() const { return config_; }
  // Frees the held message and takes ownership of this one (which must not share buffers with
  // the held one).
  void setConfig(const LMOCoreConfiguration& config);

  // The encoded message. A failure is logged (code 1005) and gives no bytes: a cut message
  // would be taken for a whole one by whoever decodes it.
  std::optional<platform::Bytes> transportBytes() override;

  // Test seam: the most bytes the encoder may write (0: no limit), so that tests can see an
  // encoding fail.
  static void setOutputLimitForTesting(std::size_t limit);

 private:
  LMOCoreConfiguration config_;
};
