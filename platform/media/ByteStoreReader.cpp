#include "platform/media/ByteStoreReader.hpp"

extern "C" {
#include <libavutil/mem.h>
}

#include <string_view>

#include "platform/media/FFmpegSupport.hpp"
#include "platform/media/MediaError.hpp"

namespace pindle::platform::ffmpeg {

namespace {

constexpr int ioBufferSize = 32 * 1024;

int readStore(void* opaque, std::uint8_t* buffer, int size) {
    auto* state = static_cast<ByteStoreReader::State*>(opaque);
    const std::size_t count =
        state->store->read(state->position, buffer, static_cast<std::size_t>(size));
    if (count > 0) {
        state->position += static_cast<std::int64_t>(count);
        return static_cast<int>(count);
    }
    const std::int64_t length = state->store->contentLength();
    if (length >= 0 && state->position >= length)
        return AVERROR_EOF;
    if (!state->miss)
        state->miss = state->position;
    return AVERROR(EAGAIN);
}

std::int64_t seekStore(void* opaque, std::int64_t offset, int whence) {
    auto* state = static_cast<ByteStoreReader::State*>(opaque);
    const std::int64_t length = state->store->contentLength();
    std::int64_t target = 0;
    switch (whence & ~AVSEEK_FORCE) {
        case AVSEEK_SIZE:
            return length >= 0 ? length : AVERROR(ENOSYS);
        case SEEK_SET:
            target = offset;
            break;
        case SEEK_CUR:
            target = state->position + offset;
            break;
        case SEEK_END:
            if (length < 0)
                return AVERROR(ENOSYS);
            target = length + offset;
            break;
        default:
            return AVERROR(EINVAL);
    }
    if (target < 0)
        return AVERROR(EINVAL);
    state->position = target;
    return target;
}

bool everyStreamHasParameters(const AVFormatContext& context) {
    if (context.nb_streams == 0)
        return false;
    for (unsigned i = 0; i < context.nb_streams; ++i) {
        const AVCodecParameters& parameters = *context.streams[i]->codecpar;
        if (parameters.codec_id == AV_CODEC_ID_NONE)
            return false;
        if (parameters.codec_type == AVMEDIA_TYPE_VIDEO &&
            (parameters.width <= 0 || parameters.height <= 0))
            return false;
    }
    return true;
}

}  // namespace

ByteStoreReader::~ByteStoreReader() {
    if (context_)
        avformat_close_input(&context_);
    if (io_) {
        av_freep(&io_->buffer);
        avio_context_free(&io_);
    }
}

std::optional<std::int64_t> ByteStoreReader::takeMiss() {
    auto miss = state_.miss;
    state_.miss.reset();
    return miss;
}

ByteStoreReader::Outcome ByteStoreReader::open(std::shared_ptr<MediaByteStore> store,
                                               const std::string& formatName,
                                               std::unique_ptr<ByteStoreReader>* reader,
                                               std::int64_t* missedOffset, Error* error) {
    quietLogging();
    std::unique_ptr<ByteStoreReader> opened(new ByteStoreReader());
    opened->state_.store = std::move(store);
    auto* buffer = static_cast<std::uint8_t*>(av_malloc(ioBufferSize));
    if (!buffer) {
        *error = MediaError::make(MediaError::unknown, "Out of memory");
        return Outcome::failed;
    }
    opened->io_ =
        avio_alloc_context(buffer, ioBufferSize, 0, &opened->state_, readStore, nullptr, seekStore);
    if (!opened->io_) {
        av_free(buffer);
        *error = MediaError::make(MediaError::unknown, "Out of memory");
        return Outcome::failed;
    }
    opened->io_->direct = 1;
    AVFormatContext* context = avformat_alloc_context();
    if (!context) {
        *error = MediaError::make(MediaError::unknown, "Out of memory");
        return Outcome::failed;
    }
    context->pb = opened->io_;
    context->flags |= AVFMT_FLAG_CUSTOM_IO;
    const AVInputFormat* format =
        formatName.empty() ? nullptr : av_find_input_format(formatName.c_str());
    // On failure avformat_open_input frees the context itself.
    const int result = avformat_open_input(&context, nullptr, format, nullptr);
    if (result >= 0)
        opened->context_ = context;
    const auto miss = opened->takeMiss();
    if (result >= 0 && everyStreamHasParameters(*context)) {
        const std::string_view name = context->iformat->name;
        if (isStillImageFormat(*context->iformat) || name == "tty") {
            *error = MediaError::make(MediaError::fileFormatNotRecognized, "No timed media");
            return Outcome::failed;
        }
        *reader = std::move(opened);
        return Outcome::opened;
    }
    if (miss) {
        *missedOffset = *miss;
        return Outcome::needsBytes;
    }
    *error = MediaError::make(MediaError::fileFormatNotRecognized, "Not a media file");
    return Outcome::failed;
}

}  // namespace pindle::platform::ffmpeg
