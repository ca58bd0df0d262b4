#include "platform/media/private/ByteStoreReader.hpp"

#include "platform/foundation/MediaError.hpp"

namespace pindle::platform {

namespace {

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

int ByteStoreReader::read(std::uint8_t* buffer, int size) {
    const std::size_t count = store_->read(position_, buffer, static_cast<std::size_t>(size));
    if (count > 0) {
        position_ += static_cast<std::int64_t>(count);
        return static_cast<int>(count);
    }
    const std::int64_t length = store_->contentLength();
    if (length >= 0 && position_ >= length)
        return AVERROR_EOF;
    if (!miss_)
        miss_ = position_;
    return AVERROR(EAGAIN);
}

std::int64_t ByteStoreReader::seek(std::int64_t offset, int whence) {
    const std::int64_t length = store_->contentLength();
    std::int64_t target = 0;
    switch (whence & ~AVSEEK_FORCE) {
        case AVSEEK_SIZE:
            return length >= 0 ? length : AVERROR(ENOSYS);
        case SEEK_SET:
            target = offset;
            break;
        case SEEK_CUR:
            target = position_ + offset;
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
    position_ = target;
    return target;
}

std::optional<std::int64_t> ByteStoreReader::takeMiss() {
    auto miss = miss_;
    miss_.reset();
    return miss;
}

ByteStoreReader::Outcome ByteStoreReader::open(std::shared_ptr<MediaByteStore> store,
                                               const std::string& formatName,
                                               std::unique_ptr<ffmpeg::Input>* input,
                                               std::int64_t* missedOffset, Error* error) {
    auto reader = std::make_shared<ByteStoreReader>(std::move(store));
    ffmpeg::OpenOptions options;
    options.findStreamInfo = false;
    options.format = formatName.empty() ? nullptr : av_find_input_format(formatName.c_str());
    Error openError;
    auto opened = ffmpeg::Input::open(ffmpeg::Source::fromReader(reader, "the player's bytes"),
                                      &openError, options);
    const auto miss = reader->takeMiss();
    if (opened && everyStreamHasParameters(*opened->context())) {
        *input = std::move(opened);
        return Outcome::opened;
    }
    if (miss) {
        *missedOffset = *miss;
        return Outcome::needsBytes;
    }
    *error = opened ? MediaError::make(MediaError::fileFormatNotRecognized, "No playable stream")
                    : MediaError::make(MediaError::fileFormatNotRecognized,
                                       openError.localizedDescription());
    return Outcome::failed;
}

}  // namespace pindle::platform
