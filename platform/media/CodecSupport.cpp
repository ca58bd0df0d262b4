#include "platform/media/CodecSupport.hpp"

#include <cerrno>
#include <cmath>

#include "platform/files/FileError.hpp"
#include "platform/media/AffineTransform.hpp"
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
    // Negated errno values are small; FFmpeg's own error tags are large four-character codes.
    constexpr int kLargestErrno = 4095;
    if (code < 0 && -code <= kLargestErrno) {
        return Error(POSIXError::domain, -code,
                     {{Error::localizedDescriptionKey, Value(description)}});
    }
    return MediaError::make(mediaCode, description);
}

Error makeWriteError(int code, const std::string& what) {
    Error error = makeError(code, MediaError::unknown, what);
    if (error.domain() == POSIXError::domain &&
        (error.code() == ENOSPC || error.code() == EDQUOT)) {
        const Value description = error.userInfo().at(Error::localizedDescriptionKey);
        return Error(
            MediaError::domain, MediaError::diskFull,
            {{Error::localizedDescriptionKey, description}, {underlyingErrorKey, Value(error)}});
    }
    return error;
}

InputPtr openInput(const std::string& path, Error* error) {
    ffmpeg::quietLogging();
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

int clockwiseQuarterTurnDegrees(const AVStream& stream) {
    constexpr int kDegreesPerQuarterTurn = 90;
    const double degrees = ffmpeg::clockwiseRotationDegrees(stream);
    return AffineTransform::rotationInQuarterTurns(degrees, Size{1, 1}).clockwiseQuarterTurns() *
           kDegreesPerQuarterTurn;
}

}  // namespace pindle::platform::codec
