// CodecSupport: what the writer, the probe and the transcoder need of FFmpeg beyond
// FFmpegSupport: owning handles for demuxing by path, scaling, resampling and muxing, and
// errors that keep a failed system call's errno. Nothing outside platform/media includes it.
//
// Thread-safety: the functions may be called from any thread; each handle belongs to one
// thread at a time.
#pragma once

#include <cstdint>
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
#include "platform/media/FFmpegSupport.hpp"

namespace pindle::platform::codec {

struct InputDeleter {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
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

// The error for a failed write of a movie: MediaError::diskFull only when the volume is full or
// the quota spent (ENOSPC, EDQUOT), with the POSIX error beneath it; other errno-style failures
// in the POSIX domain; anything else MediaError::unknown.
Error makeWriteError(int code, const std::string& what);

// Opens the local file `path` for demuxing and reads its stream information. A missing or
// unreadable file is a POSIX error; anything FFmpeg cannot take apart is
// MediaError::fileFormatNotRecognized.
InputPtr openInput(const std::string& path, Error* error);

// The stream's display rotation rounded to a quarter turn: 0, 90, 180 or 270 degrees
// clockwise.
int clockwiseQuarterTurnDegrees(const AVStream& stream);

}  // namespace pindle::platform::codec
