#include "PindleCore/uploads/PPublishService.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "PindleCore/model/PNTokenObject.hpp"
#include "PindleCore/uploads/PCacheManager.hpp"
#include "PindleCore/uploads/PNUploadingStateManager.hpp"
#include "PindleCore/uploads/PUploadingService.hpp"
#include "PindleCore/uploads/PVideoConverter.hpp"
#include "platform/files/AppContainer.hpp"
#include "platform/files/FileManager.hpp"
#include "platform/foundation/UUID.hpp"
#include "platform/media/URLAsset.hpp"

namespace pindle::legacy {

namespace {

const std::shared_ptr<PNTokenObject>& token() {
    return PNTokenObject::sharedInstance();
}

std::string lowercase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

}  // namespace

PPublishService& PPublishService::getInstance() {
    static PPublishService* service = new PPublishService;  // never destroyed
    return *service;
}

std::shared_ptr<PPublishServiceContext> PPublishService::publishVideoID(
    const std::string& videoID, const std::optional<platform::StringSet>& tags,
    const std::optional<platform::StringDictionary>& metadata,
    PPublishServiceContext::Completion completion) {
    const auto movPath = PCacheManager::getInstance().pathForMOVVideoCache(videoID);
    if (!movPath)
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
        const std::string destPath = platform::AppContainer::documentsDirectory() + "/" +
                                     lowercase(platform::UUID::random().uuidString()) + ".mp4";
        context = std::make_shared<PPublishServiceContext>(
            url, videoID, tags.value_or(platform::StringSet{}),
            metadata.value_or(platform::StringDictionary{}), destPath);
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
    context->setCancelled(true);
    PVideoConverter::getInstance().cancelConverting(context->url());
    PUploadingService::getInstance().cancelUploadingVideoID(context->videoID());
}

std::map<std::string, double> PPublishService::coordinatedFromISO6709String(
    const std::string& text) {
    if (text.size() < 17)
        return {};
    const std::string latitude = text.substr(0, 8);
    const std::string longitude = text.substr(8, 9);
    char* end = nullptr;
    const double lat = std::strtod(latitude.c_str(), &end);
    if (end != latitude.c_str() + latitude.size())
        return {};
    const double lng = std::strtod(longitude.c_str(), &end);
    if (end != longitude.c_str() + longitude.size())
        return {};
    return {{"lat", lat}, {"long", lng}};
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
        location, context.shotOn, context.shotOn, context.shotOn, "", "", std::nullopt, 0);

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
    PNUploadingStateManager::shared().put(std::make_shared<PNUploadingState>(std::move(fields)),
                                          token());
    context.setVideo(std::move(video));
}

void PPublishService::startConvertingForContext(
    const std::shared_ptr<PPublishServiceContext>& context) {
    PVideoConverter::getInstance().convertMOVfileByURL(
        context->url(), context->destPath(),
        [this, context](bool cancelled, const std::optional<platform::Error>& error) {
            if (!error && !cancelled && !context->cancelled()) {
                context->setConverted(true);
                updateVideoAccordingToContext(*context);
                PNUploadingStateManager::shared().markConverted(context->videoID(), token());
                PUploadingService::getInstance().uploadVideoID(context->videoID());
                callBlockForContext(context, context->cancelled(), std::nullopt);
                return;
            }
            callBlockForContext(context, cancelled || context->cancelled(), error);
        });
}

void PPublishService::updateVideoAccordingToContext(PPublishServiceContext& context) {
    const platform::FileManager& files = platform::FileManager::defaultManager();
    const auto filePath = PCacheManager::getInstance().pathForVideoCache(context.videoID(), "720p");
    if (!filePath) {
        files.removeItem(context.destPath());
        return;
    }
    context.setFilePath(*filePath);
    files.removeItem(*filePath);
    files.moveItem(context.destPath(), *filePath);
    files.removeItem(context.url().path());
}

void PPublishService::callBlockForContext(const std::shared_ptr<PPublishServiceContext>& context,
                                          bool cancelled,
                                          const std::optional<platform::Error>& error) {
    for (const auto& block : context->completionBlocks()) block(context, cancelled, error);
}

}  // namespace pindle::legacy
