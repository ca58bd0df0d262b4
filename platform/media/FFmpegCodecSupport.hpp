// FFmpegCodecSupport: owning handles for the codec library's objects and the mapping of its
// error numbers to platform errors. Internal to platform/media: nothing outside this folder
// includes it, so no other layer sees the codec library's headers.
//
// Thread-safety: the handles are plain owners; use each from one thread at a time.
#pragma once

#include <memory>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include "platform/foundation/Error.hpp"

namespace pindle::platform::codec {

struct InputDeleter {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct CodecDeleter {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketDeleter {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
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

using InputPtr = std::unique_ptr<AVFormatContext, InputDeleter>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using ScalePtr = std::unique_ptr<SwsContext, ScaleDeleter>;
using ResamplePtr = std::unique_ptr<SwrContext, ResampleDeleter>;
using FifoPtr = std::unique_ptr<AVAudioFifo, FifoDeleter>;

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

// The library's message for `code`.
std::string describe(int code);

// A platform error for a failed library call: errno-style failures keep their errno in the
// POSIX domain (a missing file, a full disk), the rest get `mediaCode` of MediaError.
Error makeError(int code, std::int64_t mediaCode, const std::string& what);

// Sets the library up once per process: it logs nothing of its own.
void initialize();

// Opens `path` for demuxing and reads its stream information.
InputPtr openInput(const std::string& path, Error* error);

// The clockwise rotation in degrees, a multiple of 90 in [0, 360), of the stream's display
// matrix (or its legacy "rotate" tag); 0 when it has neither.
int clockwiseRotation(const AVStream* stream);

}  // namespace pindle::platform::codec
