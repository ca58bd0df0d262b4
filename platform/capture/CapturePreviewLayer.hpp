// CapturePreviewLayer: what a capture session's camera sees, as a layer. It adds a video data
// output of its own to the session and keeps the latest picture; on a desktop window the
// screen draws that picture at each refresh (without converting its colours on the CPU for an
// NV12 picture), fitted by aspect, as it draws a player layer's video. A snapshot draws it
// too. Removing the layer's output from the session is the destructor's job.
//
// Thread-safety: as every layer, mutated on the main thread; pictures arrive on a queue of
// the layer's own and are read under a lock of its own.
#pragma once

#include <memory>
#include <mutex>

#include "platform/capture/CaptureConnection.hpp"
#include "platform/capture/CaptureSession.hpp"
#include "platform/ui/Layer.hpp"

namespace pindle::platform {

class CapturePreviewLayer : public ui::Layer {
  public:
    static std::shared_ptr<CapturePreviewLayer> make(const CaptureSessionPtr& session);
    ~CapturePreviewLayer() override;

    // The latest picture; null before the first.
    VideoFramePtr currentFrame() const;
    // The orientation pictures come in for the preview, as for a recording's output on the
    // same session (landscape until set), so that the preview shows the recording's shape.
    void setVideoOrientation(CaptureConnection::VideoOrientation orientation);

    bool drawsVideo() const override { return true; }
    VideoContent videoContent(double hostTime) const override;

    struct Receiver;
    CapturePreviewLayer(std::weak_ptr<CaptureSession> session,
                        std::shared_ptr<CaptureVideoDataOutput> output,
                        std::shared_ptr<Receiver> receiver);

  protected:
    void drawContents(GraphicsContext& context, const ui::Rect& bounds) const override;

  private:
    const std::weak_ptr<CaptureSession> session_;
    const std::shared_ptr<CaptureVideoDataOutput> output_;
    const std::shared_ptr<Receiver> receiver_;
};

}  // namespace pindle::platform
