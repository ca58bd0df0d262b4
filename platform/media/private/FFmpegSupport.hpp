// FFmpegSupport: the media layer's one private seam to FFmpeg: owning handles for its
// structures, inputs opened from a path, a URL, bytes in memory or a custom reader, one
// mapping of its failures to platform errors, frame pixel conversion, and the display
// rotation of a stream. Nothing outside platform/media includes this header.
//
// Thread-safety: the functions may be called from any thread; each handle belongs to one
// thread at a time.
#pragma once

#include "platform/media/private/FFmpegLibrary.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/foundation/Data.hpp"
#include "platform/foundation/Error.hpp"
#include "platform/foundation/MediaTime.hpp"
#include "platform/foundation/URL.hpp"
#include "platform/media/AssetTrack.hpp"
#include "platform/media/PixelBuffer.hpp"

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
struct ScaleDeleter {
    void operator()(SwsContext* context) const { sws_freeContext(context); }
};
struct ResampleDeleter {
    void operator()(SwrContext* context) const { swr_free(&context); }
};
struct FifoDeleter {
    void operator()(AVAudioFifo* fifo) const { av_audio_fifo_free(fifo); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using ScalePtr = std::unique_ptr<SwsContext, ScaleDeleter>;
using ResamplePtr = std::unique_ptr<SwrContext, ResampleDeleter>;
using FifoPtr = std::unique_ptr<AVAudioFifo, FifoDeleter>;

// Null when FFmpeg cannot be opened or memory runs out.
FramePtr makeFrame();
PacketPtr makePacket();

// Custom input I/O: what FFmpeg reads through when the bytes are not in a file FFmpeg can
// open itself. Called only from the thread that uses the Input.
class Reader {
  public:
    virtual ~Reader() = default;
    // Copies up to `size` bytes at the current position; the count, AVERROR_EOF at the end,
    // or another AVERROR.
    virtual int read(std::uint8_t* buffer, int size) = 0;
    // As lseek, plus AVSEEK_SIZE (the total size, or a negative value when unknown).
    virtual std::int64_t seek(std::int64_t offset, int whence) = 0;
    // True to have FFmpeg read exactly what the demuxer asks for, with no read-ahead.
    virtual bool direct() const { return false; }
};

// Where an input's bytes come from.
class Source {
  public:
    // A local file.
    static Source fromPath(std::string path);
    // A file URL (its path) or an http(s) URL (FFmpeg's own I/O); any other scheme gives a
    // source that fails to open with MediaError::operationNotSupportedForAsset.
    static Source fromURL(const URL& url);
    // Bytes held by the caller, which must outlive the input.
    static Source fromData(const Data& data);
    static Source fromReader(std::shared_ptr<Reader> reader, std::string description);

    // How the source is named in error messages.
    const std::string& description() const { return description_; }

  private:
    friend class Input;
    std::string location_;  // for FFmpeg's own I/O; empty with a reader
    std::string description_;
    std::shared_ptr<Reader> reader_;
    bool unsupported_ = false;
};

struct OpenOptions {
    // Reads packets to fill in stream parameters the header leaves out.
    bool findStreamInfo = true;
    // Refuses still images and text (which FFmpeg would read as a picture).
    bool timedMediaOnly = true;
    // Names the demuxer instead of probing; null to probe.
    const AVInputFormat* format = nullptr;
};

// An opened input: the demuxer context and, with a custom reader, the I/O context and the
// reader. Closing frees all of it.
class Input {
  public:
    // Null on failure, with `error` (when given) from makeError: a missing or unreadable
    // file keeps its errno; bytes no demuxer takes (or, with timedMediaOnly, still images
    // and text) are MediaError::fileFormatNotRecognized.
    static std::unique_ptr<Input> open(const Source& source, Error* error = nullptr,
                                       const OpenOptions& options = {});

    // A capture device at `path` read by the demuxer `format` with its private options (a
    // camera's picture size, pixel format, rate). Reads that would wait answer AVERROR(EAGAIN)
    // instead, so that the reader can stop. Null on failure, with `error` keeping the errno
    // (EACCES, EBUSY, ENOENT).
    static std::unique_ptr<Input> openDevice(
        const std::string& path, const AVInputFormat& format,
        const std::vector<std::pair<std::string, std::string>>& demuxerOptions, Error* error);

    Input() = default;
    ~Input();
    Input(const Input&) = delete;
    Input& operator=(const Input&) = delete;

    AVFormatContext* context() const { return context_; }

  private:
    AVFormatContext* context_ = nullptr;
    AVIOContext* io_ = nullptr;
    std::shared_ptr<Reader> reader_;
};

// An output file being muxed; closes the file and frees the context.
class Output {
  public:
    Output() = default;
    ~Output();
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    AVFormatContext* context = nullptr;
    bool fileOpen = false;
};

// Opens FFmpeg if it is not open yet and sets its own logging to fatal errors only; false, with
// `error` (when given) saying which library is missing, when it cannot be opened. Every entry point
// of the media layer that is not handed an FFmpeg structure goes through this (or Input::open)
// first.
bool loadLibrary(Error* error = nullptr);

// The library's name for a pixel buffer's format.
AVPixelFormat pixelFormatOf(PixelBuffer::Format format);

// FFmpeg's still-image demuxers: the "<format>_pipe" family, "image2" and GIF's own.
bool isStillImageFormat(const AVInputFormat& format);

// The library's message for `code`.
std::string describe(int code);

// A platform error for a failed library call: errno-style failures keep their errno in the
// POSIX domain (a missing file, a full disk), the rest get `mediaCode` of MediaError.
Error makeError(int code, std::int64_t mediaCode, const std::string& what);

// The error for a failed write of a movie: MediaError::diskFull only when the volume is full or
// the quota spent (ENOSPC, EDQUOT), with the POSIX error beneath it; other errno-style failures
// in the POSIX domain; anything else MediaError::unknown.
Error makeWriteError(int code, const std::string& what);

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

// The clockwise turn the stream asks for on display (from its display matrix, else from a
// "rotate" tag), rounded to a quarter turn: 0, 90, 180 or 270 degrees.
int clockwiseQuarterTurnDegrees(const AVStream& stream);

// A time in a stream's time base as a MediaTime; invalid for no time or a negative one.
MediaTime fromTimeBase(std::int64_t value, AVRational base);
// What an asset says about the stream: its kind, size, turn, rate, codec and audio format.
AssetTrack describeTrack(const AVStream& stream);

}  // namespace pindle::platform::ffmpeg
