#include "platform/media/FFmpegCodecSupport.hpp"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <mutex>

#include "platform/media/MediaError.hpp"

namespace pindle::platform::codec {

Output::~Output() {
    if (context == nullptr) {
        return;
    }
    if (fileOpen) {
        avio_closep(&context->pb);
    }
    avformat_free_context(context);
}

std::string describe(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

Error makeError(int code, std::int64_t mediaCode, const std::string& what) {
    const std::string description = what + ": " + describe(code);
    // Negated errno values are small; the library's own error tags are large four-character
    // codes.
    constexpr int kLargestErrno = 4095;
    if (code < 0 && -code <= kLargestErrno) {
        return Error(POSIXError::domain, -code,
                     {{Error::localizedDescriptionKey, Value(description)}});
    }
    return MediaError::make(mediaCode, description);
}

void initialize() {
    static std::once_flag once;
    // Failures reach callers as errors; the library's own chatter would only clutter the
    // host's standard error.
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

InputPtr openInput(const std::string& path, Error* error) {
    initialize();
    AVFormatContext* raw = nullptr;
    int result = avformat_open_input(&raw, path.c_str(), nullptr, nullptr);
    if (result < 0) {
        if (error != nullptr) {
            *error = makeError(result, MediaError::fileFormatNotRecognized, "Cannot open " + path);
        }
        return nullptr;
    }
    InputPtr input(raw);
    result = avformat_find_stream_info(input.get(), nullptr);
    if (result < 0) {
        if (error != nullptr) {
            *error = makeError(result, MediaError::fileFormatNotRecognized, "Cannot read " + path);
        }
        return nullptr;
    }
    return input;
}

int clockwiseRotation(const AVStream* stream) {
    double counterClockwise = 0;
    const uint8_t* matrix = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, nullptr);
    if (matrix != nullptr) {
        counterClockwise = av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix));
        if (std::isnan(counterClockwise)) {
            counterClockwise = 0;
        }
    } else if (const AVDictionaryEntry* tag = av_dict_get(stream->metadata, "rotate", nullptr, 0)) {
        counterClockwise = -std::strtod(tag->value, nullptr);
    }
    constexpr int kQuarterTurn = 90;
    constexpr int kFullTurn = 360;
    const long quarterTurns = std::lround(-counterClockwise / kQuarterTurn);
    int degrees = static_cast<int>(quarterTurns * kQuarterTurn % kFullTurn);
    if (degrees < 0) {
        degrees += kFullTurn;
    }
    return degrees;
}

}  // namespace pindle::platform::codec
