#include "platform/media/AssetExportSession.hpp"

#include "platform/files/FileManager.hpp"
#include "platform/foundation/MediaError.hpp"
#include "platform/foundation/Status.hpp"
#include "platform/log/ExclusiveFile.hpp"
#include "platform/media/private/FFmpegSupport.hpp"

namespace pindle::platform {
namespace {

Error exportError(std::int64_t code, const std::string& what) {
    return Error(MediaError::domain, code, {{"NSLocalizedDescription", what}});
}

}  // namespace

AssetExportSessionPtr AssetExportSession::make(const AssetPtr& asset,
                                               const std::string& presetName) {
    auto urlAsset = std::dynamic_pointer_cast<URLAsset>(asset);
    if (presetName != presetPassthrough || !urlAsset)
        return nullptr;
    return std::make_shared<AssetExportSession>(
        std::move(urlAsset), DispatchQueue::create("local.pindle.export-session"));
}

AssetExportSession::AssetExportSession(URLAssetPtr asset, std::shared_ptr<DispatchQueue> queue)
    : asset_(std::move(asset)), queue_(std::move(queue)) {}

std::optional<URL> AssetExportSession::outputURL() const {
    std::lock_guard lock(mutex_);
    return outputURL_;
}

void AssetExportSession::setOutputURL(URL url) {
    std::lock_guard lock(mutex_);
    outputURL_ = std::move(url);
}

std::string AssetExportSession::outputFileType() const {
    std::lock_guard lock(mutex_);
    return outputFileType_;
}

void AssetExportSession::setOutputFileType(std::string type) {
    std::lock_guard lock(mutex_);
    outputFileType_ = std::move(type);
}

AssetExportSession::Status AssetExportSession::status() const {
    std::lock_guard lock(mutex_);
    return status_;
}

std::optional<Error> AssetExportSession::error() const {
    std::lock_guard lock(mutex_);
    return error_;
}

void AssetExportSession::cancelExport() {
    cancelled_ = true;
}

void AssetExportSession::finish(Status status, std::optional<Error> error) {
    std::lock_guard lock(mutex_);
    status_ = status;
    error_ = std::move(error);
}

void AssetExportSession::exportAsynchronously(std::function<void()> completion) {
    std::optional<URL> output;
    std::string fileType;
    {
        std::lock_guard lock(mutex_);
        if (status_ == Status::waiting || status_ == Status::exporting)
            return;
        status_ = Status::waiting;
        output = outputURL_;
        fileType = outputFileType_;
    }
    auto self = std::static_pointer_cast<AssetExportSession>(shared_from_this());
    queue_->async([self, output, fileType, completion = std::move(completion)] {
        self->finish(Status::exporting, std::nullopt);
        if (!output || !output->isFileURL()) {
            self->finish(Status::failed,
                         exportError(MediaError::invalidArgument, "no output file URL"));
        } else if (fileType != fileTypeQuickTimeMovie && fileType != fileTypeMPEG4) {
            self->finish(Status::failed,
                         exportError(MediaError::invalidArgument, "unknown output file type"));
        } else if (!self->asset_->url().isFileURL()) {
            self->finish(Status::failed, exportError(MediaError::operationNotSupportedForAsset,
                                                     "the source is not a local file"));
        } else {
            const std::string target = output->path();
            // Created exclusively before the source is opened: a source that names itself as
            // the target is never truncated, and of two exports to one file only one writes
            // it; what the other found there is left alone.
            if (platform::Status created = ExclusiveFile::create(target); !created.ok()) {
                self->finish(Status::failed, ExclusiveFile::isCollision(created.error())
                                                 ? exportError(MediaError::fileAlreadyExists,
                                                               "the output file already exists")
                                                 : created.error());
            } else if (platform::Status failure =
                           self->remux(self->asset_->url().path(), target, fileType);
                       !failure.ok()) {
                FileManager::defaultManager().removeItem(target).ignoreError();
                self->finish(self->cancelled_ ? Status::cancelled : Status::failed,
                             std::move(failure));
            } else {
                self->finish(Status::completed, std::nullopt);
            }
        }
        if (completion)
            completion();
    });
}

platform::Status AssetExportSession::remux(const std::string& source, const std::string& target,
                                           const std::string& fileType) {
    Error openError;
    auto input = ffmpeg::Input::open(ffmpeg::Source::fromPath(source), &openError);
    if (!input)
        return openError;
    AVFormatContext* in = input->context();

    ffmpeg::Output output;
    const char* format = fileType == fileTypeQuickTimeMovie ? "mov" : "mp4";
    int code = avformat_alloc_output_context2(&output.context, nullptr, format, target.c_str());
    if (code < 0)
        return ffmpeg::makeError(code, MediaError::exportFailed, "cannot make the output");
    std::vector<int> streamMap(in->nb_streams, -1);
    int outputStreams = 0;
    for (unsigned i = 0; i < in->nb_streams; ++i) {
        const AVStream* stream = in->streams[i];
        const auto type = stream->codecpar->codec_type;
        if (type != AVMEDIA_TYPE_VIDEO && type != AVMEDIA_TYPE_AUDIO)
            continue;
        if (stream->disposition & AV_DISPOSITION_ATTACHED_PIC)
            continue;
        AVStream* copy = avformat_new_stream(output.context, nullptr);
        if (!copy || avcodec_parameters_copy(copy->codecpar, stream->codecpar) < 0)
            return exportError(MediaError::exportFailed, "cannot copy a stream");
        // The tag names the codec in the source container's terms; the muxer picks its own.
        copy->codecpar->codec_tag = 0;
        copy->time_base = stream->time_base;
        av_dict_copy(&copy->metadata, stream->metadata, 0);
        streamMap[i] = outputStreams++;
    }
    if (outputStreams == 0)
        return exportError(MediaError::invalidSourceMedia, "the source has no audio or video");
    av_dict_copy(&output.context->metadata, in->metadata, 0);

    // The file is this export's own, created empty just before.
    code = avio_open(&output.context->pb, target.c_str(), AVIO_FLAG_WRITE);
    if (code < 0)
        return ffmpeg::makeWriteError(code, "cannot open the output");
    output.fileOpen = true;
    code = avformat_write_header(output.context, nullptr);
    if (code < 0)
        return ffmpeg::makeWriteError(code, "cannot write the header");

    auto packet = ffmpeg::makePacket();
    while (true) {
        if (cancelled_)
            return exportError(MediaError::operationInterrupted, "the export was cancelled");
        code = av_read_frame(in, packet.get());
        if (code == AVERROR_EOF)
            break;
        if (code < 0)
            return ffmpeg::makeError(code, MediaError::decodeFailed, "cannot read the source");
        const int index = packet->stream_index;
        if (index < 0 || static_cast<unsigned>(index) >= in->nb_streams || streamMap[index] < 0) {
            av_packet_unref(packet.get());
            continue;
        }
        AVStream* to = output.context->streams[streamMap[index]];
        av_packet_rescale_ts(packet.get(), in->streams[index]->time_base, to->time_base);
        packet->stream_index = streamMap[index];
        packet->pos = -1;
        code = av_interleaved_write_frame(output.context, packet.get());
        av_packet_unref(packet.get());
        if (code < 0)
            return ffmpeg::makeWriteError(code, "cannot write a packet");
    }
    code = av_write_trailer(output.context);
    if (code < 0)
        return ffmpeg::makeWriteError(code, "cannot finish the output");
    return std::nullopt;
}

}  // namespace pindle::platform
