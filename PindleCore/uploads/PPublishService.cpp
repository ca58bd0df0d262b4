#include "PindleCore/uploads/PPublishService.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "PindleCore/model/PNTokenObject.hpp"
#include "PindleCore/uploads/PCacheManager.hpp"
#include "PindleCore/uploads/PNUploadingStateManager.hpp"
#include "PindleCore/uploads/PUploadingService.hpp"
#include "PindleCore/uploads/PVideoConverter.hpp"
#include "PindleCore/uploads/private/PUploadingShorthands.hpp"
#include "platform/app/ProcessGate.hpp"
#include "platform/files/FileManager.hpp"
#include "platform/foundation/Status.hpp"
#include "platform/media/URLAsset.hpp"

namespace pindle::legacy {

PPublishService& PPublishService::getInstance() {
    static PPublishService* service = new PPublishService;  // never destroyed
    return *service;
}

std::shared_ptr<PPublishServiceContext> PPublishService::publishVideoID(
    const std::string& videoID, const std::optional<platform::StringSet>& tags,
    const std::optional<platform::StringDictionary>& metadata,
    PPublishServiceContext::Completion completion, const std::string& title) {
    const auto movPath = PCacheManager::getInstance().pathForMOVVideoCache(videoID);
    if (!movPath)
        return nullptr;
    // Named after the video, so that what a crash leaves behind can be told apart.
    const auto destPath = PCacheManager::getInstance().pathForConversionOutput(videoID);
    if (!destPath)
        return nullptr;
    const platform::URL url = platform::URL::fileURLWithPath(*movPath);
    std::shared_ptr<PPublishServiceContext> context;
    {
        std::lock_guard lock(mutex_);
        auto found = contexts_.find(url.absoluteString());
        if (found != contexts_.end()) {
            found->second->addCompletion(std::move(completion));
            return found->second;
        }
        context = std::make_shared<PPublishServiceContext>(
            url, videoID, tags.value_or(platform::StringSet{}),
            metadata.value_or(platform::StringDictionary{}), *destPath);
        context->title = title;
        contexts_[url.absoluteString()] = context;
    }
    fillContextWithMetadata(*context);
    createFillVideoForContext(*context);
    context->addCompletion(std::move(completion));
    startConvertingForContext(context);
    return context;
}

void PPublishService::cancelPublishingForContext(
    const std::shared_ptr<PPublishServiceContext>& context) {
    if (!context)
        return;
    stop(*context);
    PUploadingService::getInstance().cancelUploadingVideoID(context->videoID());
}

void PPublishService::stop(PPublishServiceContext& context) {
    context.setCancelled(true);
    PVideoConverter::getInstance().cancelConverting(context.url());
    for (const auto& operation : context.operations()) operation->cancel();
}

std::shared_ptr<PPublishServiceContext> PPublishService::contextOf(
    const std::string& videoID) const {
    const auto movPath = PCacheManager::getInstance().pathForMOVVideoCache(videoID);
    if (!movPath)
        return nullptr;
    const platform::URL url = platform::URL::fileURLWithPath(*movPath);
    std::lock_guard lock(mutex_);
    auto found = contexts_.find(url.absoluteString());
    return found == contexts_.end() ? nullptr : found->second;
}

void PPublishService::cancelPublishingVideoID(const std::string& videoID) {
    std::shared_ptr<PPublishServiceContext> context = contextOf(videoID);
    if (!context)
        return;
    stop(*context);
}

void PPublishService::setFileManager(std::shared_ptr<const platform::FileManager> files) {
    std::lock_guard lock(mutex_);
    files_ = std::move(files);
}

std::shared_ptr<const platform::FileManager> PPublishService::files() const {
    std::lock_guard lock(mutex_);
    if (files_)
        return files_;
    // The default manager lives for the process: shared without ownership.
    return std::shared_ptr<const platform::FileManager>(std::shared_ptr<void>(),
                                                        &platform::FileManager::defaultManager());
}

bool PPublishService::isPublishingVideoID(const std::string& videoID) const {
    return contextOf(videoID) != nullptr;
}

std::map<std::string, double> PPublishService::coordinatedFromISO6709String(
    const std::string& text) {
    // Each component starts with its sign; its digits (and decimal point) run to the next sign.
    std::vector<double> components;
    std::size_t at = text.find_first_of("+-");
    while (at != std::string::npos && components.size() < 2) {
        const std::size_t next = text.find_first_of("+-/", at + 1);
        const std::string component = text.substr(at, next == std::string::npos ? next : next - at);
        char* end = nullptr;
        const double value = std::strtod(component.c_str(), &end);
        if (component.size() < 2 || end != component.c_str() + component.size())
            return {};
        components.push_back(value);
        at = next != std::string::npos && text[next] != '/' ? next : std::string::npos;
    }
    if (components.size() < 2)
        return {};
    // Not finite or off the globe ("+91.0", "+inf", "nan"): no place at all.
    const auto within = [](double value, double bound) {
        return value >= -bound && value <= bound;
    };
    if (!within(components[0], 90.0) || !within(components[1], 180.0))
        return {};
    return {{"lat", components[0]}, {"long", components[1]}};
}

void PPublishService::fillContextWithMetadata(PPublishServiceContext& context) {
    const auto asset =
        platform::URLAsset::make(platform::URL::fileURLWithPath(context.url().path()));
    if (asset->isReadable()) {
        const auto videoTracks = asset->tracksWithMediaType(platform::MediaType::video);
        if (!videoTracks.empty()) {
            const auto shown = videoTracks.front().displaySize();
            context.width = std::fabs(shown.width);
            context.height = std::fabs(shown.height);
        }
        // The first location item by key, as the recording wrote it in ISO 6709.
        std::map<std::string, std::string> items;
        for (auto& item : asset->metadata())
            items.emplace(std::move(item.key), std::move(item.value));
        for (const auto& [key, value] : items) {
            const bool isLocation = key.ends_with("com.apple.quicktime.location.ISO6709") ||
                                    key.ends_with("%A9xyz") || key == "location";
            if (!isLocation)
                continue;
            std::map<std::string, double> coordinate = coordinatedFromISO6709String(value);
            if (!coordinate.empty()) {
                context.latitude = coordinate["lat"];
                context.longitude = coordinate["long"];
            }
            break;
        }
    }
    context.shotOn = platform::Date::now();
}

void PPublishService::createFillVideoForContext(PPublishServiceContext& context) {
    const platform::Location location(context.latitude, context.longitude);
    std::shared_ptr<PNVideo> video = PNTokenObject::createVideoObject(
        context.videoID(), context.tags(), context.metadata(),
        static_cast<std::int64_t>(context.width), static_cast<std::int64_t>(context.height),
        location, context.shotOn, context.shotOn, context.shotOn, context.title, "", std::nullopt,
        0);

    PNUploadingState::Fields fields;
    fields.videoID = video->videoID();
    fields.tags = video->tags();
    fields.metadata = video->internalMetadata();
    fields.width = static_cast<std::int64_t>(context.width);
    fields.height = static_cast<std::int64_t>(context.height);
    fields.latitude = location.coordinate().latitude;
    fields.longitude = location.coordinate().longitude;
    fields.title = video->title();
    fields.descr = video->videoDescription();
    fields.shotOn = context.shotOn;
    fields.createdAt = platform::Date::now();
    fields.resolutionsToUpload = {"720p"};
    fields.isImported = true;
    // Published again after a restart: the record stays as complete as it was, so no start-up
    // takes it for an abandoned recording in between.
    if (PNUploadingStatePtr existing =
            PNUploadingStateManager::shared().uploading(context.videoID(), token())) {
        fields.isRecordingComplete = existing->isRecordingComplete();
        fields.createdAt = existing->createdAt();
    }
    PNUploadingStateManager::shared().put(std::make_shared<PNUploadingState>(std::move(fields)),
                                          token());
    context.setVideo(std::move(video));
}

void PPublishService::startConvertingForContext(
    const std::shared_ptr<PPublishServiceContext>& context) {
    PVideoConverter::getInstance().convertMOVfileByURL(
        context->url(), context->destPath(),
        [this, context](bool cancelled, const std::optional<platform::Error>& error) {
            const std::shared_ptr<const platform::FileManager> keep = this->files();
            const platform::FileManager& files = *keep;
            if (error || cancelled || context->cancelled()) {
                files.removeItem(context->destPath()).ignoreError();
                finish(context, cancelled || context->cancelled(), error);
                return;
            }
            platform::ProcessGate::reach("publish.converted");
            if (platform::Status moveError = updateVideoAccordingToContext(*context);
                !moveError.ok()) {
                files.removeItem(context->destPath()).ignoreError();
                finish(context, false, moveError);
                return;
            }
            context->setConverted(true);
            platform::ProcessGate::reach("publish.moved");
            PNUploadingStateManager::shared().markConverted(context->videoID(), token());
            platform::ProcessGate::reach("publish.marked");
            // A cancel that came while the output was being moved found no converted file to
            // remove; one that comes after this look finds it in place.
            if (context->cancelled() ||
                !PNUploadingStateManager::shared().hasUploading(context->videoID(), token())) {
                files.removeItem(context->filePath()).ignoreError();
                files.removeItem(context->url().path()).ignoreError();
                finish(context, true, std::nullopt);
                return;
            }
            // Only now that the record says so does the converted file stand for the source.
            files.removeItem(context->url().path()).ignoreError();
            {
                std::lock_guard lock(mutex_);
                contexts_.erase(context->url().absoluteString());
            }
            PUploadingService::getInstance().uploadVideoID(context->videoID());
            callBlockForContext(context, context->cancelled(), std::nullopt);
        });
}

platform::Status PPublishService::updateVideoAccordingToContext(PPublishServiceContext& context) {
    const std::shared_ptr<const platform::FileManager> keep = this->files();
    const platform::FileManager& files = *keep;
    const auto filePath = PCacheManager::getInstance().pathForVideoCache(context.videoID(), "720p");
    if (!filePath)
        return PNError(PNError::uploadFileNotFound).toPlatformError();
    context.setFilePath(*filePath);
    files.removeItem(*filePath).ignoreError();
    platform::Status moved = files.moveItem(context.destPath(), *filePath);
    // The conversion is over however the move went: what it left beside its output goes.
    if (const std::string segments = context.outputHLSegmenterPath(); !segments.empty())
        files.removeItem(segments).ignoreError();
    return moved;
}

void PPublishService::finish(const std::shared_ptr<PPublishServiceContext>& context, bool cancelled,
                             const std::optional<platform::Error>& error) {
    {
        std::lock_guard lock(mutex_);
        auto found = contexts_.find(context->url().absoluteString());
        if (found != contexts_.end() && found->second == context)
            contexts_.erase(found);
    }
    callBlockForContext(context, cancelled, error);
}

void PPublishService::callBlockForContext(const std::shared_ptr<PPublishServiceContext>& context,
                                          bool cancelled,
                                          const std::optional<platform::Error>& error) {
    for (const auto& block : context->completionBlocks()) block(context, cancelled, error);
}

}  // namespace pindle::legacy
