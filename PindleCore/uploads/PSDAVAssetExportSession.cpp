#include "PindleCore/uploads/PSDAVAssetExportSession.hpp"

#include "platform/app/ProcessGate.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <numbers>
#include <sstream>
#include <vector>

#include "platform/foundation/MediaError.hpp"
#include "platform/media/AssetWriterInputPixelBufferAdaptor.hpp"
#include "platform/media/URLAsset.hpp"

namespace pindle::legacy {

namespace {

using platform::MediaTranscoder;
namespace MediaError = platform::MediaError;

constexpr double defaultFrameRate = 30;
constexpr const char* inputQueueLabel = "VideoEncoderInputQueue";
constexpr const char* videoCodecH264 = "avc1";
constexpr const char* audioFormatAAC = "aac";

// "H264_High_4_0" gives ("high", 40); "H264_Main_AutoLevel" gives ("main", 0).
std::optional<std::pair<std::string, int>> parseProfileLevel(const std::string& text) {
    std::vector<std::string> parts;
    std::stringstream stream(text);
    for (std::string part; std::getline(stream, part, '_');) {
        parts.push_back(part);
    }
    if (parts.size() < 3 || parts[0] != "H264") {
        return std::nullopt;
    }
    std::string profile = parts[1];
    std::transform(profile.begin(), profile.end(), profile.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (profile != "baseline" && profile != "main" && profile != "high") {
        return std::nullopt;
    }
    if (parts.size() == 3 && parts[2] == "AutoLevel") {
        return std::pair{profile, 0};
    }
    const auto digit = [](const std::string& part) {
        return part.size() == 1 && std::isdigit(static_cast<unsigned char>(part[0])) != 0;
    };
    if (parts.size() == 4 && digit(parts[2]) && digit(parts[3])) {
        return std::pair{profile, (parts[2][0] - '0') * 10 + (parts[3][0] - '0')};
    }
    return std::nullopt;
}

// A run's status as one of the statuses that have the same ends (the session's, the reader's,
// the writer's); `running` is the one for a run under way.
template <class Status>
Status statusOf(MediaTranscoder::Status status, Status running) {
    switch (status) {
        case MediaTranscoder::Status::transcoding:
            return running;
        case MediaTranscoder::Status::completed:
            return Status::completed;
        case MediaTranscoder::Status::failed:
            return Status::failed;
        case MediaTranscoder::Status::cancelled:
            return Status::cancelled;
        case MediaTranscoder::Status::unknown:
            break;
    }
    return Status::unknown;
}

PSDAVAssetExportSession::Status statusOf(MediaTranscoder::Status status) {
    return statusOf(status, PSDAVAssetExportSession::Status::exporting);
}

// The session whose handler runs on this thread, and what that handler's export came to.
struct RunningHandler {
    const void* session = nullptr;
    const void* outcome = nullptr;
};
thread_local RunningHandler tRunningHandler;

// Marks the handler of `session` as running on this thread for the scope's life.
class HandlerScope {
  public:
    HandlerScope(const void* session, const void* outcome) : previous_(tRunningHandler) {
        tRunningHandler = {session, outcome};
    }
    ~HandlerScope() { tRunningHandler = previous_; }
    HandlerScope(const HandlerScope&) = delete;
    HandlerScope& operator=(const HandlerScope&) = delete;

  private:
    const RunningHandler previous_;
};

// Some cameras write this translation with a quarter turn that needs none.
constexpr double bogusTranslation = -560;

}  // namespace

std::shared_ptr<PSDAVAssetExportSession> PSDAVAssetExportSession::exportSessionWithAsset(
    platform::AssetPtr asset) {
    return std::make_shared<PSDAVAssetExportSession>(Private(), std::move(asset));
}

PSDAVAssetExportSession::PSDAVAssetExportSession(Private, platform::AssetPtr asset)
    : asset_(std::move(asset)), inputQueue_(platform::DispatchQueue::create(inputQueueLabel)) {}

std::optional<MediaTranscoder::Settings> PSDAVAssetExportSession::transcoderSettings(
    platform::Error* error) const {
    auto refuse = [&](std::int64_t code, const std::string& why) {
        *error = MediaError::make(code, why);
        return std::nullopt;
    };
    if (outputFileType_ && *outputFileType_ != fileTypeMPEG4) {
        return refuse(MediaError::exportFailed, "Unsupported output file type " + *outputFileType_);
    }
    if (!outputURL_->isFileURL()) {
        return refuse(MediaError::exportFailed, "Output URL is not a file URL");
    }
    const auto urlAsset = std::dynamic_pointer_cast<platform::URLAsset>(asset_);
    if (!urlAsset || !urlAsset->url().isFileURL()) {
        return refuse(MediaError::operationNotSupportedForAsset, "The asset is not a local file");
    }
    MediaTranscoder::Settings settings;
    settings.optimizeForNetworkUse = shouldOptimizeForNetworkUse_;
    settings.metadata = metadata_;
    if (!timeRange_.isValid()) {
        return refuse(MediaError::invalidArgument, "The time range is not valid");
    }
    settings.startSeconds = timeRange_.start.seconds();
    if (!timeRange_.duration.isPositiveInfinity()) {
        settings.durationSeconds = timeRange_.duration.seconds();
    }
    if (videoSettings_) {
        if (videoSettings_->codec != videoCodecH264) {
            return refuse(MediaError::encoderNotFound,
                          "Unsupported video codec " + videoSettings_->codec);
        }
        const auto profileLevel = parseProfileLevel(videoSettings_->profileLevel);
        if (!profileLevel) {
            return refuse(MediaError::exportFailed,
                          "Unsupported profile level " + videoSettings_->profileLevel);
        }
        if (!(videoSettings_->width >= 1 && videoSettings_->height >= 1)) {
            return refuse(MediaError::exportFailed, "Video width and height must be positive");
        }
        MediaTranscoder::VideoSettings video;
        video.width = static_cast<int>(std::lround(videoSettings_->width));
        video.height = static_cast<int>(std::lround(videoSettings_->height));
        video.bitRate = videoSettings_->averageBitRate;
        video.profile = profileLevel->first;
        video.level = profileLevel->second;
        const double rate = videoSettings_->averageNonDroppableFrameRate.value_or(0);
        video.frameRate = rate > 0 ? rate : defaultFrameRate;
        settings.video = video;
    }
    if (audioSettings_) {
        if (audioSettings_->format != audioFormatAAC) {
            return refuse(MediaError::encoderNotFound,
                          "Unsupported audio format " + audioSettings_->format);
        }
        if (audioSettings_->numberOfChannels <= 0 || audioSettings_->sampleRate < 1) {
            return refuse(MediaError::exportFailed, "Audio channels and rate must be positive");
        }
        MediaTranscoder::AudioSettings audio;
        audio.channels = audioSettings_->numberOfChannels;
        audio.sampleRate = static_cast<int>(std::lround(audioSettings_->sampleRate));
        audio.bitRate = audioSettings_->encoderBitRate;
        settings.audio = audio;
    }
    if (videoComposition_) {
        const auto& composition = *videoComposition_;
        if (!(composition.renderSize.width >= 1 && composition.renderSize.height >= 1)) {
            return refuse(MediaError::exportFailed, "The video composition has no render size");
        }
        MediaTranscoder::Composition layer;
        layer.renderWidth = static_cast<int>(std::lround(composition.renderSize.width));
        layer.renderHeight = static_cast<int>(std::lround(composition.renderSize.height));
        if (composition.frameDuration.isNumeric() && composition.frameDuration.seconds() > 0) {
            layer.frameDuration = composition.frameDuration.seconds();
        }
        if (!composition.instructions.empty() &&
            !composition.instructions.front().layerInstructions.empty()) {
            layer.transform = composition.instructions.front().layerInstructions.front().transform;
        }
        settings.composition = layer;
    }
    if (audioMix_ && !audioMix_->inputParameters.empty()) {
        const auto& tracks = asset_->tracksWithMediaType(platform::MediaType::audio);
        const auto& all = audioMix_->inputParameters;
        auto chosen = all.begin();
        if (!tracks.empty()) {
            const auto named = std::find_if(all.begin(), all.end(), [&](const auto& parameters) {
                return parameters.trackID == tracks.front().trackID;
            });
            if (named != all.end()) {
                chosen = named;
            }
        }
        MediaTranscoder::AudioMix mix;
        mix.volume = chosen->volume;
        const double origin = timeRange_.start.seconds();
        for (const auto& ramp : chosen->volumeRamps) {
            // Ramps are on the source's timeline; the output starts at the range's start.
            mix.ramps.push_back({ramp.timeRange.start.seconds() - origin,
                                 ramp.timeRange.duration.seconds(), ramp.startVolume,
                                 ramp.endVolume});
        }
        std::sort(mix.ramps.begin(), mix.ramps.end(),
                  [](const auto& a, const auto& b) { return a.start < b.start; });
        settings.audioMix = std::move(mix);
    }
    return settings;
}

void PSDAVAssetExportSession::exportAsynchronouslyWithCompletionHandler(
    std::function<void()> handler) {
    cancelExport();
    // Read before the lock: the asset may have to open its file to answer.
    const auto videoTracks = asset_->tracksWithMediaType(platform::MediaType::video);
    const auto audioTracks = asset_->tracksWithMediaType(platform::MediaType::audio);
    std::shared_ptr<MediaTranscoder> transcoder;
    {
        std::lock_guard lock(mutex_);
        error_.reset();
        transcoder_.reset();
        parts_ = Parts{};
        platform::Error refusal;
        std::optional<MediaTranscoder::Settings> settings;
        if (!outputURL_) {
            refusal = MediaError::make(MediaError::exportFailed, "Output URL not set");
        } else {
            settings = transcoderSettings(&refusal);
        }
        if (!settings) {
            error_ = refusal;
        } else {
            if (auto delegate = delegate_.get(); delegate && delegate->implementsRenderFrame()) {
                // by hand: answers whether the picture stands, drawn or not
                settings->frameRenderer = [weakSelf = weak_from_this(),
                                           weakDelegate = delegate_.weak()](
                                              const platform::PixelBuffer& source, double seconds,
                                              platform::PixelBuffer& destination) {
                    // by hand: drawn only while both the session and its delegate are there
                    auto self = weakSelf.lock();
                    auto delegate = weakDelegate.lock();
                    // A delegate gone mid-export leaves the composed picture as it is.
                    if (self && delegate) {
                        delegate->exportSessionRenderFrame(
                            *self, source, platform::MediaTime::makeWithSeconds(seconds),
                            destination);
                    }
                    return true;
                };
            }
            const auto& source = std::static_pointer_cast<platform::URLAsset>(asset_)->url();
            transcoder = MediaTranscoder::create(source.path(), outputURL_->path(),
                                                 std::move(*settings), inputQueue_);
            transcoder_ = transcoder;
            parts_ = describeParts(transcoder, videoTracks, audioTracks);
        }
    }
    if (!transcoder) {
        if (handler) {
            handler();
        }
        return;
    }
    // A crash test may stop the process half-way through a conversion.
    transcoder->setProgressHandler([](float progress) {
        if (progress >= 0.5f)
            platform::ProcessGate::reach("convert.halfway");
    });
    // The closure keeps the session alive until its handler has run; the transcoder drops the
    // closure once it has called it, so nothing is kept beyond that.
    // The handler reads its own export's outcome: by the time it runs a restart may have
    // put a newer export in its place.
    transcoder->start([self = shared_from_this(), handler = std::move(handler),
                       run = std::weak_ptr<MediaTranscoder>(transcoder)](
                          MediaTranscoder::Status status, std::optional<platform::Error> error) {
        if (!handler) {
            return;
        }
        // by hand: the transcoder is read if still there; the handler runs either way
        const auto finished = run.lock();
        const Outcome outcome{statusOf(status), std::move(error),
                              finished ? finished->progress() : 0.0f};
        const HandlerScope scope(self.get(), &outcome);
        handler();
    });
}

const PSDAVAssetExportSession::Outcome* PSDAVAssetExportSession::handlersOutcome() const {
    if (tRunningHandler.session != this) {
        return nullptr;
    }
    return static_cast<const Outcome*>(tRunningHandler.outcome);
}

void PSDAVAssetExportSession::cancelExport() {
    std::shared_ptr<MediaTranscoder> transcoder;
    {
        std::lock_guard lock(mutex_);
        transcoder = transcoder_;
    }
    if (transcoder) {
        transcoder->cancel();
    }
}

PSDAVAssetExportSession::Status PSDAVAssetExportSession::status() const {
    if (const Outcome* own = handlersOutcome()) {
        return own->status;
    }
    std::lock_guard lock(mutex_);
    if (error_) {
        return Status::failed;
    }
    return transcoder_ ? statusOf(transcoder_->status()) : Status::unknown;
}

std::optional<platform::Error> PSDAVAssetExportSession::error() const {
    if (const Outcome* own = handlersOutcome()) {
        return own->error;
    }
    std::lock_guard lock(mutex_);
    if (error_) {
        return error_;
    }
    return transcoder_ ? transcoder_->error() : std::nullopt;
}

float PSDAVAssetExportSession::progress() const {
    if (const Outcome* own = handlersOutcome()) {
        return own->progress;
    }
    std::lock_guard lock(mutex_);
    return transcoder_ ? transcoder_->progress() : 0.0f;
}

PSDAVAssetExportSession::Parts PSDAVAssetExportSession::describeParts(
    const std::shared_ptr<const MediaTranscoder>& run,
    const std::vector<platform::AssetTrack>& videoTracks,
    const std::vector<platform::AssetTrack>& audioTracks) const {
    const auto trackIDs = [](const std::vector<platform::AssetTrack>& tracks) {
        std::vector<std::int32_t> ids;
        for (const auto& track : tracks) ids.push_back(track.trackID);
        return ids;
    };
    Parts parts;
    parts.reader = std::make_shared<const Reader>(Reader{asset_, timeRange_, run});
    parts.writer =
        std::make_shared<const Writer>(Writer{*outputURL_, outputFileType_.value_or(fileTypeMPEG4),
                                              shouldOptimizeForNetworkUse_, metadata_, run});
    if (!videoTracks.empty()) {
        ReaderOutput output;
        output.mediaType = platform::MediaType::video;
        output.trackIDs = trackIDs(videoTracks);
        output.videoSettings = videoInputSettings_;
        output.videoComposition =
            videoComposition_
                ? *videoComposition_
                : defaultVideoComposition(videoTracks.front(), videoSettings_, asset_->duration());
        const platform::Size renderSize = output.videoComposition->renderSize;
        parts.videoOutput = std::make_shared<const ReaderOutput>(std::move(output));

        WriterInput input;
        input.mediaType = platform::MediaType::video;
        input.videoSettings = videoSettings_;
        parts.videoInput = std::make_shared<const WriterInput>(std::move(input));
        parts.videoPixelBufferAdaptor = std::make_shared<const PixelBufferAdaptor>(
            PixelBufferAdaptor{parts.videoInput,
                               {{platform::AssetWriterInputPixelBufferAdaptor::pixelFormatTypeKey,
                                 static_cast<std::int64_t>(platform::PixelBuffer::Format::bgra)},
                                {"Width", renderSize.width},
                                {"Height", renderSize.height},
                                {"IOSurfaceOpenGLESTextureCompatibility", true},
                                {"IOSurfaceOpenGLESFBOCompatibility", true}}});
    }
    if (!audioTracks.empty()) {
        ReaderOutput output;
        output.mediaType = platform::MediaType::audio;
        output.trackIDs = trackIDs(audioTracks);
        output.audioMix = audioMix_;
        parts.audioOutput = std::make_shared<const ReaderOutput>(std::move(output));

        WriterInput input;
        input.mediaType = platform::MediaType::audio;
        input.audioSettings = audioSettings_;
        parts.audioInput = std::make_shared<const WriterInput>(std::move(input));
    }
    return parts;
}

PSDAVAssetExportSession::Reader::Status PSDAVAssetExportSession::Reader::status() const {
    return run ? statusOf(run->status(), Status::reading) : Status::unknown;
}

platform::AssetWriter::Status PSDAVAssetExportSession::Writer::status() const {
    using Status = platform::AssetWriter::Status;
    return run ? statusOf(run->status(), Status::writing) : Status::unknown;
}

template <class Part>
std::shared_ptr<const Part> PSDAVAssetExportSession::part(
    std::shared_ptr<const Part> Parts::*member) const {
    std::lock_guard lock(mutex_);
    return parts_.*member;
}

auto PSDAVAssetExportSession::reader() const -> std::shared_ptr<const Reader> {
    return part(&Parts::reader);
}
auto PSDAVAssetExportSession::videoOutput() const -> std::shared_ptr<const ReaderOutput> {
    return part(&Parts::videoOutput);
}
auto PSDAVAssetExportSession::audioOutput() const -> std::shared_ptr<const ReaderOutput> {
    return part(&Parts::audioOutput);
}
auto PSDAVAssetExportSession::writer() const -> std::shared_ptr<const Writer> {
    return part(&Parts::writer);
}
auto PSDAVAssetExportSession::videoInput() const -> std::shared_ptr<const WriterInput> {
    return part(&Parts::videoInput);
}
auto PSDAVAssetExportSession::videoPixelBufferAdaptor() const
    -> std::shared_ptr<const PixelBufferAdaptor> {
    return part(&Parts::videoPixelBufferAdaptor);
}
auto PSDAVAssetExportSession::audioInput() const -> std::shared_ptr<const WriterInput> {
    return part(&Parts::audioInput);
}

std::optional<platform::Dictionary> PSDAVAssetExportSession::videoInputSettings() const {
    std::lock_guard lock(mutex_);
    return videoInputSettings_;
}

void PSDAVAssetExportSession::setVideoInputSettings(std::optional<platform::Dictionary> settings) {
    std::lock_guard lock(mutex_);
    videoInputSettings_ = std::move(settings);
}

std::optional<PSDAVAssetExportSession::VideoComposition>
PSDAVAssetExportSession::buildDefaultVideoComposition() const {
    const auto tracks = asset_->tracksWithMediaType(platform::MediaType::video);
    if (tracks.empty()) {
        return std::nullopt;
    }
    return defaultVideoComposition(tracks.front(), videoSettings(), asset_->duration());
}

PSDAVAssetExportSession::VideoComposition PSDAVAssetExportSession::defaultVideoComposition(
    const platform::AssetTrack& track, const std::optional<VideoSettings>& settings,
    platform::MediaTime duration) {
    VideoComposition composition;
    double rate =
        settings ? settings->averageNonDroppableFrameRate.value_or(0) : track.nominalFrameRate;
    if (!(rate > 0)) {
        rate = defaultFrameRate;
    }
    composition.frameDuration =
        platform::MediaTime(1, std::max(1, static_cast<int>(static_cast<float>(rate))));

    platform::AffineTransform turn = track.preferredTransform;
    if (turn.tx == bogusTranslation) {
        turn.tx = 0;
    }
    if (turn.ty == bogusTranslation) {
        turn.ty = 0;
    }
    double naturalWidth = track.naturalSize.width;
    double naturalHeight = track.naturalSize.height;
    const double angle = std::atan2(turn.b, turn.a);
    if (angle == std::numbers::pi / 2 || angle == -std::numbers::pi / 2) {
        std::swap(naturalWidth, naturalHeight);
    }
    const double targetWidth = settings ? settings->width : naturalWidth;
    const double targetHeight = settings ? settings->height : naturalHeight;
    composition.renderSize = platform::Size{targetWidth, targetHeight};

    float ratio = 0;
    if (naturalWidth > 0 && naturalHeight > 0) {
        ratio = std::min(static_cast<float>(targetWidth) / static_cast<float>(naturalWidth),
                         static_cast<float>(targetHeight) / static_cast<float>(naturalHeight));
    }
    const double scale = ratio;
    platform::AffineTransform layer{turn.a * scale,
                                    turn.b * scale,
                                    turn.c * scale,
                                    turn.d * scale,
                                    turn.tx * scale + (targetWidth - naturalWidth * scale) * 0.5,
                                    turn.ty * scale + (targetHeight - naturalHeight * scale) * 0.5};
    VideoCompositionInstruction instruction;
    instruction.timeRange = platform::TimeRange{platform::MediaTime::zero(), duration};
    instruction.layerInstructions.push_back(LayerInstruction{track.trackID, layer});
    composition.instructions.push_back(std::move(instruction));
    return composition;
}

bool PSDAVAssetExportSession::shouldOptimizeForNetworkUse() const {
    std::lock_guard lock(mutex_);
    return shouldOptimizeForNetworkUse_;
}

void PSDAVAssetExportSession::setShouldOptimizeForNetworkUse(bool optimize) {
    std::lock_guard lock(mutex_);
    shouldOptimizeForNetworkUse_ = optimize;
}

std::optional<std::string> PSDAVAssetExportSession::outputFileType() const {
    std::lock_guard lock(mutex_);
    return outputFileType_;
}

void PSDAVAssetExportSession::setOutputFileType(std::optional<std::string> type) {
    std::lock_guard lock(mutex_);
    outputFileType_ = std::move(type);
}

std::optional<platform::URL> PSDAVAssetExportSession::outputURL() const {
    std::lock_guard lock(mutex_);
    return outputURL_;
}

void PSDAVAssetExportSession::setOutputURL(std::optional<platform::URL> url) {
    std::lock_guard lock(mutex_);
    outputURL_ = std::move(url);
}

std::optional<PSDAVAssetExportSession::VideoSettings> PSDAVAssetExportSession::videoSettings()
    const {
    std::lock_guard lock(mutex_);
    return videoSettings_;
}

void PSDAVAssetExportSession::setVideoSettings(std::optional<VideoSettings> settings) {
    std::lock_guard lock(mutex_);
    videoSettings_ = std::move(settings);
}

std::optional<PSDAVAssetExportSession::AudioSettings> PSDAVAssetExportSession::audioSettings()
    const {
    std::lock_guard lock(mutex_);
    return audioSettings_;
}

void PSDAVAssetExportSession::setAudioSettings(std::optional<AudioSettings> settings) {
    std::lock_guard lock(mutex_);
    audioSettings_ = std::move(settings);
}

platform::TimeRange PSDAVAssetExportSession::timeRange() const {
    std::lock_guard lock(mutex_);
    return timeRange_;
}

void PSDAVAssetExportSession::setTimeRange(platform::TimeRange range) {
    std::lock_guard lock(mutex_);
    timeRange_ = range;
}

std::map<std::string, std::string> PSDAVAssetExportSession::metadata() const {
    std::lock_guard lock(mutex_);
    return metadata_;
}

void PSDAVAssetExportSession::setMetadata(std::map<std::string, std::string> items) {
    std::lock_guard lock(mutex_);
    metadata_ = std::move(items);
}

std::optional<PSDAVAssetExportSession::VideoComposition> PSDAVAssetExportSession::videoComposition()
    const {
    std::lock_guard lock(mutex_);
    return videoComposition_;
}

void PSDAVAssetExportSession::setVideoComposition(std::optional<VideoComposition> composition) {
    std::lock_guard lock(mutex_);
    videoComposition_ = std::move(composition);
}

std::optional<PSDAVAssetExportSession::AudioMix> PSDAVAssetExportSession::audioMix() const {
    std::lock_guard lock(mutex_);
    return audioMix_;
}

void PSDAVAssetExportSession::setAudioMix(std::optional<AudioMix> mix) {
    std::lock_guard lock(mutex_);
    audioMix_ = std::move(mix);
}

std::shared_ptr<PSDAVAssetExportSessionDelegate> PSDAVAssetExportSession::delegate() const {
    return delegate_.get();
}

void PSDAVAssetExportSession::setDelegate(
    const std::shared_ptr<PSDAVAssetExportSessionDelegate>& delegate) {
    delegate_.set(delegate);
}

}  // namespace pindle::legacy
