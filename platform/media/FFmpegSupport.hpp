// FFmpegSupport: the media layer's private seam to FFmpeg: owning handles for its
// structures, opening inputs by URL or from memory, and frame pixel conversion. Nothing
// outside platform/media includes this header.
//
// Thread-safety: the functions may be called from any thread; each handle belongs to one
// thread at a time.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
}

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Data.hpp"
#include "platform/foundation/Error.hpp"
#include "platform/foundation/URL.hpp"

namespace pindle::platform::ffmpeg {

struct FrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketDeleter {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct CodecContextDeleter {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;

FramePtr makeFrame();
PacketPtr makePacket();

// An opened input: the demuxer context and, when read from memory, the I/O context and the
// bytes it reads. Closing frees all of it.
class Input {
  public:
    Input() = default;
    ~Input();
    Input(const Input&) = delete;
    Input& operator=(const Input&) = delete;

    AVFormatContext* context() const { return context_; }

    // Where reading from memory stands.
    struct MemoryReader {
        const Data* data = nullptr;
        std::int64_t position = 0;
    };

  private:
    friend std::unique_ptr<Input> openURL(const URL&, Error*);
    friend std::unique_ptr<Input> openMemory(const Data&);

    AVFormatContext* context_ = nullptr;
    AVIOContext* io_ = nullptr;
    MemoryReader reader_;
};

// Sets FFmpeg's own logging to fatal errors only, once per process: the layer reports
// failures as Errors and probing arbitrary bytes would otherwise fill standard error.
void quietLogging();

// FFmpeg's still-image demuxers: the "<format>_pipe" family, "image2" and GIF's own.
bool isStillImageFormat(const AVInputFormat& format);

// Opens a local file URL, or an http(s) URL through FFmpeg's own I/O, and reads the stream
// information. Other schemes fail with MediaError::operationNotSupportedForAsset (custom
// schemes will be served by a resource loader in front of FFmpeg's I/O). Still images and
// text (which FFmpeg would read as a picture) are no timed media and fail with
// MediaError::fileFormatNotRecognized.
std::unique_ptr<Input> openURL(const URL& url, Error* error);
// Opens bytes held by the caller, which must outlive the input. Null when no demuxer
// recognises them.
std::unique_ptr<Input> openMemory(const Data& data);

// A decoder opened for one stream of `input`; with maxPixels, it refuses frames larger
// than that many pixels.
CodecContextPtr openDecoder(const AVStream& stream, std::int64_t maxPixels = 0);

// Decodes the stream's frames in order, handing each to `accept` until it returns false.
// Returns false when nothing could be read or decoded at all.
bool decodeFrames(Input& input, int streamIndex, AVCodecContext& decoder,
                  const std::function<bool(const AVFrame&)>& accept);

// The frame's pixels as tightly packed RGBA8 rows; nothing when the format cannot be
// converted.
std::optional<std::vector<std::uint8_t>> toRGBA(const AVFrame& frame);

// Scales tightly packed RGBA8 pixels to a new size.
// REQUIRES: all sizes positive; pixels.size() == width * height * 4.
std::optional<std::vector<std::uint8_t>> scaleRGBA(const std::vector<std::uint8_t>& pixels,
                                                   int width, int height, int newWidth,
                                                   int newHeight);

// Clockwise rotation in degrees that the stream asks for on display: from its display
// matrix, else from a "rotate" tag; 0 when it has neither.
double clockwiseRotationDegrees(const AVStream& stream);

}  // namespace pindle::platform::ffmpeg
