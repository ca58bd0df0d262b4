// PSDAVAssetExportSessionDelegate: lets a host draw each exported frame itself. The session
// holds its delegate weakly; a delegate that does not implement the frame operation leaves
// the pictures as the video composition draws them.
//
// Thread-safety: called only on the session's serial queue "VideoEncoderInputQueue".
#pragma once

#include "platform/foundation/MediaTime.hpp"
#include "platform/media/PixelBuffer.hpp"

namespace pindle::legacy {

class PSDAVAssetExportSession;

class PSDAVAssetExportSessionDelegate {
  public:
    virtual ~PSDAVAssetExportSessionDelegate() = default;

    // Whether exportSessionRenderFrame is implemented; read once when an export starts.
    virtual bool implementsRenderFrame() const { return false; }

    // Draws the frame shown at `presentationTime` (output time) into `destination`, a BGRA
    // buffer of the composition's render size that already holds the composed picture;
    // `source` is the decoded source frame, BGRA, as stored. What is left in `destination`
    // is written.
    virtual void exportSessionRenderFrame(PSDAVAssetExportSession& session,
                                          const platform::PixelBuffer& source,
                                          platform::MediaTime presentationTime,
                                          platform::PixelBuffer& destination) {
        (void)session;
        (void)source;
        (void)presentationTime;
        (void)destination;
    }
};

}  // namespace pindle::legacy
