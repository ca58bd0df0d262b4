#include "PindleCore/playlists/PNVideos.hpp"

#include "PindleCore/model/PNDataValidator.hpp"
#include "PindleCore/model/PNEnvironmentValidator.hpp"
#include "PindleCore/model/PNErrorFabric.hpp"
#include "PindleCore/model/PNNotificationNames.hpp"
#include "PindleCore/model/PNTokenObject.hpp"
#include "platform/foundation/Date.hpp"
#include "platform/foundation/NotificationCenter.hpp"

namespace pindle {

namespace {

constexpr const char* tagsParameter = "tags";
constexpr const char* metadataParameter = "metadata";

}  // namespace

PNVideos& PNVideos::shared() {
    static PNVideos* instance = new PNVideos();
    return *instance;
}

PNLegacyPlaylistPtr PNVideos::findPlaylistLocked(const platform::StringDictionary& metadata,
                                                 const platform::StringSet& tags) const {
    for (const auto& playlist : playlists_) {
        if (playlist->metadata() == metadata && playlist->tags() == tags)
            return playlist;
    }
    return nullptr;
}

void PNVideos::getPlaylist(const platform::StringSet& tags,
                           const platform::StringDictionary& metadata, bool order,
                           PlaylistCompletion completion) {
    std::optional<PNError> refusal = PNEnvironmentValidator::validate();
    if (!refusal)
        refusal = PNDataValidator::validateTags(tags);
    if (!refusal)
        refusal = PNDataValidator::validateMetadata(metadata);
    if (refusal)
        return completion(nullptr, refusal->toPlatformError());

    std::unique_lock lock(mutex_);
    if (auto existing = findPlaylistLocked(metadata, tags)) {
        lock.unlock();
        return completion(existing, std::nullopt);
    }
    const platform::Date syncedDate = platform::Date::now();
    PNVideoAPI::shared().videosCountByTags(
        tags, metadata,
        [this, tags, metadata, order, syncedDate, completion](
            std::int64_t count, const std::optional<platform::Error>& error) {
            PNLegacyPlaylistPtr playlist;
            {
                std::lock_guard lock(mutex_);
                playlist = findPlaylistLocked(metadata, tags);
                if (!playlist && !error) {
                    playlist = PNLegacyPlaylist::make(tags, metadata, order, count, syncedDate);
                    playlists_.push_back(playlist);
                }
            }
            if (playlist)
                return completion(playlist, std::nullopt);
            completion(nullptr, PNErrorFabric::errorAnyway(error).toPlatformError());
        });
}

PNCancellablePtr PNVideos::getByFilter(const PNVideoFilter& filter, PNSortOrder sortOrder,
                                       PNVideoAPI::VideosCompletion completion) {
    return PNVideoAPI::shared().videosByFilter(filter, std::string(rawValue(sortOrder)),
                                               std::move(completion));
}

PNCancellablePtr PNVideos::getByVideoId(const std::string& videoID,
                                        PNVideoAPI::VideoCompletion completion) {
    return PNVideoAPI::shared().video(videoID, std::move(completion));
}

PNCancellablePtr PNVideos::getByVideoIds(const std::vector<std::string>& videoIDs,
                                         PNVideoAPI::VideosCompletion completion) {
    return PNVideoAPI::shared().videosByIds(videoIDs, std::move(completion));
}

PNCancellablePtr PNVideos::deleteVideo(const PNVideoPtr& video, SuccessCompletion completion) {
    return deleteVideoId(video->videoID(), std::move(completion));
}

PNCancellablePtr PNVideos::deleteVideoId(const std::string& videoID, SuccessCompletion completion) {
    return PNVideoAPI::shared().deleteBy(
        videoID,
        [videoID, completion](const platform::Value&, const std::optional<platform::Error>& error) {
            const bool success = !error.has_value();
            if (success) {
                platform::NotificationCenter::defaultCenter().post(
                    NotificationName::PNVideoDeleted, platform::Value(platform::Array{videoID}));
            }
            if (completion)
                completion(success);
        });
}

PNCancellablePtr PNVideos::update(const std::string& videoID, const std::optional<std::string>&,
                                  const std::optional<platform::StringSet>& tags,
                                  const std::optional<platform::StringDictionary>& metadata,
                                  PNVideoAPI::ResultCompletion completion) {
    platform::Array tagList;
    if (tags) {
        for (const auto& tag : *tags) tagList.emplace_back(tag);
    }
    const platform::Dictionary parameters{
        {tagsParameter, platform::Value(std::move(tagList))},
        {metadataParameter, platform::Value(metadata.value_or(platform::StringDictionary{}))},
    };
    return PNVideoAPI::shared().updateVideo(
        videoID, parameters, PNTokenObject::sharedInstance(),
        [completion](const std::shared_ptr<PNVideo>& video,
                     const std::optional<platform::Error>& error) {
            if (completion)
                completion(video ? platform::Value(video) : platform::Value(), error);
        });
}

std::vector<PNLegacyPlaylistPtr> PNVideos::playlists() const {
    std::lock_guard lock(mutex_);
    return playlists_;
}

void PNVideos::setPlaylists(std::vector<PNLegacyPlaylistPtr> playlists) {
    std::lock_guard lock(mutex_);
    playlists_ = std::move(playlists);
}

void PNVideos::videoBy(const std::string& videoID, PNVideoAPI::VideoCompletion completion) {
    PNVideoAPI::shared().video(videoID, std::move(completion));
}

void PNVideos::remove(const PNVideoPtr& video, SuccessCompletion completion) {
    deleteVideo(video, std::move(completion));
}

void PNVideos::getVideos(const platform::StringSet& tags,
                         const platform::StringDictionary& metadata, bool order,
                         PlaylistCompletion completion) {
    getPlaylist(tags, metadata, order, std::move(completion));
}

void PNVideos::uploadVideo(const platform::URL& fileURL,
                           const std::optional<platform::StringSet>& tags,
                           const std::optional<platform::StringDictionary>& metadata,
                           PNUploads::UploadCompletion completion) {
    PNUploads::shared().upload(fileURL, tags, metadata, std::move(completion));
}

}  // namespace pindle
