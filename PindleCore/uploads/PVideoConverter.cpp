#include "PindleCore/uploads/PVideoConverter.hpp"

#include <algorithm>
#include <cmath>

#include "PindleCore/uploads/PSDAVAssetExportSession.hpp"
#include "platform/foundation/MediaError.hpp"
#include "platform/media/URLAsset.hpp"

namespace pindle::legacy {

PVideoConverter& PVideoConverter::getInstance() {
    // Never destroyed: completions may still arrive from the export queues at exit.
    static auto* converter = new PVideoConverter;
    return *converter;
}

platform::Size PVideoConverter::displayedSize(const platform::AssetTrack& track) {
    // The bounding box of the natural size's rectangle under the transform; the translation
    // only moves it.
    const platform::AffineTransform& t = track.preferredTransform;
    const platform::Size& size = track.naturalSize;
    return {std::abs(t.a * size.width) + std::abs(t.c * size.height),
            std::abs(t.b * size.width) + std::abs(t.d * size.height)};
}

platform::Size PVideoConverter::outputSize(platform::Size displayed) {
    const double w = displayed.width;
    const double h = displayed.height;
    if (!(w > 0 && h > 0)) {
        return {0, 0};
    }
    const bool landscape = w > h;
    const double boxWidth = landscape ? kLandscapeBoxWidth : kLandscapeBoxHeight;
    const double boxHeight = landscape ? kLandscapeBoxHeight : kLandscapeBoxWidth;
    // Single precision, as the scale has always been computed: sizes come out a hair off
    // whole numbers (1280.00004) and are rounded when the encoder takes them.
    const float scale =
        std::min(static_cast<float>(boxWidth / w), static_cast<float>(boxHeight / h));
    return {w * scale, h * scale};
}

bool PVideoConverter::convertMOVfileByURL(const platform::URL& source,
                                          const std::string& destMP4FilePath,
                                          Completion completion) {
    auto asset = platform::URLAsset::make(source);
    auto session = PSDAVAssetExportSession::exportSessionWithAsset(asset);
    {
        std::lock_guard lock(mutex_);
        if (!mapSession_.emplace(source, session).second) {
            return false;
        }
    }

    session->setOutputFileType(PSDAVAssetExportSession::fileTypeMPEG4);
    if (!destMP4FilePath.empty()) {
        session->setOutputURL(platform::URL::fileURLWithPath(destMP4FilePath));
    }
    // A source without a video track (or that cannot be read) gets no video settings: there
    // is no picture to fit, and the export reports what it finds.
    const auto videoTracks = asset->tracksWithMediaType(platform::MediaType::video);
    if (!videoTracks.empty()) {
        const auto size = outputSize(displayedSize(videoTracks.front()));
        PSDAVAssetExportSession::VideoSettings video;
        video.width = size.width;
        video.height = size.height;
        video.averageBitRate = kVideoBitRate;
        video.profileLevel = kVideoProfileLevel;
        session->setVideoSettings(video);
    }
    PSDAVAssetExportSession::AudioSettings audio;
    audio.numberOfChannels = kAudioChannels;
    audio.sampleRate = kAudioSampleRate;
    audio.encoderBitRate = kAudioBitRate;
    session->setAudioSettings(audio);

    std::weak_ptr<PSDAVAssetExportSession> weakSession = session;
    session->exportAsynchronouslyWithCompletionHandler(
        [this, source, destMP4FilePath, completion = std::move(completion), weakSession] {
            // by hand: the finished session itself is handed on
            if (auto finished = weakSession.lock()) {
                exportCompleted(source, destMP4FilePath, completion, finished);
            }
        });
    return true;
}

void PVideoConverter::exportCompleted(const platform::URL& source,
                                      const std::string& destMP4FilePath,
                                      const Completion& completion,
                                      const std::shared_ptr<PSDAVAssetExportSession>& session) {
    {
        std::lock_guard lock(mutex_);
        auto found = mapSession_.find(source);
        if (found != mapSession_.end() && found->second == session) {
            mapSession_.erase(found);
        }
    }
    if (!completion) {
        return;
    }
    const auto error = session->error();
    if (error && error->domain() == platform::MediaError::domain &&
        error->code() == platform::MediaError::operationInterrupted) {
        convertMOVfileByURL(source, destMP4FilePath, completion);
        return;
    }
    completion(session->status() == PSDAVAssetExportSession::Status::cancelled, error);
}

void PVideoConverter::cancelConverting(const platform::URL& source) {
    std::shared_ptr<PSDAVAssetExportSession> session;
    {
        std::lock_guard lock(mutex_);
        auto found = mapSession_.find(source);
        if (found != mapSession_.end()) {
            session = found->second;
        }
    }
    if (session) {
        session->cancelExport();
    }
}

}  // namespace pindle::legacy
