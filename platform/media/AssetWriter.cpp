#include "platform/media/AssetWriter.hpp"

#include <atomic>
#include <cmath>
#include <filesystem>

#include "platform/foundation/MediaError.hpp"
#include "platform/foundation/Status.hpp"
#include "platform/media/MediaWriter.hpp"

namespace pindle::platform {

namespace {

constexpr std::int64_t defaultVideoBitRate = 2'000'000;
constexpr std::int64_t defaultAudioBitRate = 128'000;
constexpr double nominalFrameRate = 30;

std::atomic<int> writerCount{0};

bool isFinal(AssetWriter::Status status) {
    return status == AssetWriter::Status::completed || status == AssetWriter::Status::failed ||
           status == AssetWriter::Status::cancelled;
}

std::string profileName(const std::string& profileLevel) {
    if (profileLevel.find("High") != std::string::npos)
        return "high";
    if (profileLevel.find("Main") != std::string::npos)
        return "main";
    if (profileLevel.find("Baseline") != std::string::npos)
        return "baseline";
    return "";
}

MediaWriter::PixelFormat writerFormat(PixelBuffer::Format format) {
    switch (format) {
        case PixelBuffer::Format::nv12:
            return MediaWriter::PixelFormat::nv12;
        case PixelBuffer::Format::argb:
            return MediaWriter::PixelFormat::argb;
        case PixelBuffer::Format::bgra:
            break;
    }
    return MediaWriter::PixelFormat::bgra;
}

}  // namespace

std::shared_ptr<AssetWriter> AssetWriter::make(URL outputURL, std::string fileType, Error* error) {
    const auto refuse = [&](std::int64_t code, std::string why) -> std::shared_ptr<AssetWriter> {
        if (error)
            *error = MediaError::make(code, std::move(why));
        return nullptr;
    };
    if (!outputURL.isFileURL())
        return refuse(MediaError::invalidArgument, "The output URL is no file URL");
    if (fileType != fileTypeMPEG4 && fileType != fileTypeQuickTimeMovie)
        return refuse(MediaError::invalidArgument, "Unsupported file type " + fileType);
    const std::filesystem::path path(outputURL.path());
    std::error_code ignored;
    if (std::filesystem::symlink_status(path, ignored).type() !=
        std::filesystem::file_type::not_found)
        return refuse(MediaError::fileAlreadyExists, outputURL.path() + " already exists");
    if (!std::filesystem::is_directory(path.parent_path(), ignored))
        return refuse(MediaError::invalidArgument, "No folder for " + outputURL.path());
    return std::make_shared<AssetWriter>(Private{}, std::move(outputURL), std::move(fileType));
}

AssetWriter::AssetWriter(Private, URL outputURL, std::string fileType)
    : outputURL_(std::move(outputURL)),
      fileType_(std::move(fileType)),
      queue_(DispatchQueue::create("com.pindle.platform.assetwriter." +
                                   std::to_string(++writerCount))) {}

AssetWriter::~AssetWriter() = default;

void AssetWriter::setShouldOptimizeForNetworkUse(bool value) {
    std::lock_guard lock(mutex_);
    optimizeForNetworkUse_ = value;
}

bool AssetWriter::canAdd(const AssetWriterInputPtr& input) const {
    if (!input || input->writer())
        return false;
    std::lock_guard lock(mutex_);
    if (status_ != Status::unknown)
        return false;
    for (const auto& existing : inputs_)
        if (existing == input || existing->mediaType() == input->mediaType())
            return false;
    return true;
}

void AssetWriter::add(const AssetWriterInputPtr& input) {
    if (!canAdd(input))
        return;
    const auto self = std::static_pointer_cast<AssetWriter>(shared_from_this());
    if (!input->attach(self))
        return;
    std::lock_guard lock(mutex_);
    inputs_.push_back(input);
}

std::vector<AssetWriterInputPtr> AssetWriter::inputs() const {
    std::lock_guard lock(mutex_);
    return inputs_;
}

bool AssetWriter::startWriting() {
    bool started = false;
    transition([&] {
        if (status_ != Status::unknown)
            return;
        MediaWriter::Settings settings;
        settings.container =
            fileType_ == fileTypeMPEG4 ? MediaWriter::Container::mp4 : MediaWriter::Container::mov;
        settings.optimizeForNetworkUse = optimizeForNetworkUse_;
        // A file made at the path since make() (another writer's, say) is refused, not
        // written over.
        settings.replaceExisting = false;
        for (const auto& input : inputs_) {
            if (const auto& v = input->videoSettings()) {
                MediaWriter::VideoSettings video;
                video.width = v->width;
                video.height = v->height;
                video.bitRate = v->averageBitRate > 0 ? v->averageBitRate : defaultVideoBitRate;
                video.frameRate = nominalFrameRate;
                video.profile = profileName(v->profileLevel);
                video.keyFrameInterval = v->maxKeyFrameInterval;
                if (input->expectsMediaDataInRealTime())
                    video.speed = MediaWriter::EncoderSpeed::realtime;
                settings.video = video;
            } else if (const auto& a = input->audioSettings()) {
                MediaWriter::AudioSettings audio;
                audio.channels = a->channels;
                audio.sampleRate = static_cast<int>(std::lround(a->sampleRate));
                audio.bitRate = a->bitRate > 0 ? a->bitRate : defaultAudioBitRate;
                settings.audio = audio;
            }
        }
        Error error;
        media_ = MediaWriter::create(outputURL_.path(), settings, &error);
        if (!media_) {
            status_ = Status::failed;
            error_ = error;
            return;
        }
        status_ = Status::writing;
        started = true;
    });
    return started;
}

void AssetWriter::startSession(MediaTime sourceTime) {
    std::lock_guard lock(mutex_);
    if (!sessionStart_.isValid() && sourceTime.isNumeric())
        sessionStart_ = sourceTime;
}

AssetWriter::Status AssetWriter::status() const {
    std::lock_guard lock(mutex_);
    return status_;
}

std::optional<Error> AssetWriter::error() const {
    std::lock_guard lock(mutex_);
    return error_;
}

Value AssetWriter::valueForKey(std::string_view key) const {
    if (key == statusKey)
        return Value(static_cast<int>(status()));
    if (key == "error") {
        const auto failure = error();
        return failure ? Value(*failure) : Value();
    }
    return KeyValueObservable::valueForKey(key);
}

bool AssetWriter::isWriting() const {
    std::lock_guard lock(mutex_);
    return status_ == Status::writing && media_ != nullptr;
}

void AssetWriter::transition(const std::function<void()>& change) {
    willChangeValueForKey(statusKey);
    {
        std::lock_guard lock(mutex_);
        change();
    }
    didChangeValueForKey(statusKey);
}

void AssetWriter::failLocked(Error error) {
    media_.reset();  // removes the partial file
    status_ = Status::failed;
    error_ = std::move(error);
}

bool AssetWriter::encodeLocked(const std::function<platform::Status(MediaWriter&)>& append) {
    const platform::Status appended = append(*media_);
    if (appended.ok())
        return true;
    failLocked(appended.error());
    return false;
}

bool AssetWriter::appendSample(const AssetWriterInput& input, const SampleBuffer& sample) {
    if (input.mediaType() == MediaType::video)
        return sample.imageBuffer() &&
               appendPicture(input, *sample.imageBuffer(), sample.presentationTimeStamp());
    return appendAudio(sample);
}

bool AssetWriter::appendPicture(const AssetWriterInput& input, const PixelBuffer& picture,
                                MediaTime time) {
    if (input.isFinished() || input.mediaType() != MediaType::video)
        return false;
    bool appended = false;
    bool failed = false;
    {
        std::lock_guard lock(mutex_);
        if (status_ != Status::writing || !media_ || !sessionStart_.isValid())
            return false;
        const double seconds = (time - sessionStart_).seconds();
        if (!std::isfinite(seconds))
            return false;
        if (seconds < 0)
            return true;  // before the session: dropped, as the timeline has no place for it
        if (seconds <= lastVideoTime_)
            return false;
        MediaWriter::Picture frame;
        frame.format = writerFormat(picture.format());
        frame.width = picture.width();
        frame.height = picture.height();
        for (std::size_t plane = 0; plane < picture.planeCount(); ++plane) {
            frame.planes[plane] = picture.baseAddress(plane);
            frame.bytesPerRow[plane] = picture.bytesPerRow(plane);
        }
        appended =
            encodeLocked([&](MediaWriter& writer) { return writer.appendPicture(frame, seconds); });
        if (appended)
            lastVideoTime_ = seconds;
        failed = !appended;
    }
    if (failed)
        transition([] {});
    return appended;
}

bool AssetWriter::appendAudio(const SampleBuffer& sample) {
    const auto& format = sample.audioFormat();
    if (!format || !sample.audioData())
        return false;
    bool appended = false;
    bool failed = false;
    {
        std::lock_guard lock(mutex_);
        if (status_ != Status::writing || !media_ || !sessionStart_.isValid())
            return false;
        const double seconds = (sample.presentationTimeStamp() - sessionStart_).seconds();
        if (!std::isfinite(seconds))
            return false;
        if (seconds < 0)
            return true;  // before the session
        const double bufferSeconds = sample.duration().seconds();
        appended = encodeLocked([&](MediaWriter& writer) -> platform::Status {
            if (!audioPosition_) {
                if (platform::Status started = writer.setAudioStartTime(seconds); !started.ok())
                    return started;
                audioPosition_ = seconds;
            } else if (const double gap = seconds - *audioPosition_; gap > bufferSeconds / 2) {
                // A hole in the timeline: silence keeps what follows at its time.
                const auto frames =
                    static_cast<std::size_t>(std::llround(gap * format->sampleRate));
                std::vector<std::int16_t> silence(frames *
                                                  static_cast<std::size_t>(format->channels));
                if (platform::Status filled = writer.appendAudioSamples(
                        silence.data(), frames, format->channels, format->sampleRate);
                    !filled.ok())
                    return filled;
                *audioPosition_ += gap;
            }
            *audioPosition_ += bufferSeconds;
            return writer.appendAudioSamples(sample.audioData(), sample.numSamples(),
                                             format->channels, format->sampleRate);
        });
        failed = !appended;
    }
    if (failed)
        transition([] {});
    return appended;
}

void AssetWriter::finishWriting(std::function<void()> completion) {
    for (const auto& input : inputs()) input->markAsFinished();
    const auto self = std::static_pointer_cast<AssetWriter>(shared_from_this());
    queue_->async([self, completion = std::move(completion)] {
        self->transition([&] {
            if (self->status_ != Status::writing || !self->media_)
                return;
            if (const platform::Status finished = self->media_->finish(); !finished.ok()) {
                self->failLocked(finished.error());
                return;
            }
            self->status_ = Status::completed;
        });
        if (completion)
            completion();
    });
}

void AssetWriter::cancelWriting() {
    for (const auto& input : inputs()) input->markAsFinished();
    transition([&] {
        if (isFinal(status_))
            return;
        media_.reset();  // removes the partial file
        status_ = Status::cancelled;
    });
}

}  // namespace pindle::platform
