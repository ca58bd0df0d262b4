// PCaptureSessionDelegate: what a PCaptureSession tells its host. Every method has an empty
// default; the QR output is sent only when respondsToQROutput() says so.
//
// Thread-safety: torch-enabled and QR output arrive on the session's capture queue,
// failed-with-error on the main queue.
#pragma once

#include <string>

#include "platform/foundation/Error.hpp"

namespace pindle::legacy {

class PCaptureSession;

class PCaptureSessionDelegate {
  public:
    virtual ~PCaptureSessionDelegate() = default;
    virtual void captureSessionTorchEnabled(PCaptureSession& session, bool enabled) {
        (void)session, (void)enabled;
    }
    virtual void captureSessionFailedWithError(PCaptureSession& session,
                                               const platform::Error& error) {
        (void)session, (void)error;
    }
    virtual bool respondsToQROutput() const { return false; }
    virtual void captureSessionQROutput(PCaptureSession& session, const std::string& text) {
        (void)session, (void)text;
    }
};

}  // namespace pindle::legacy
