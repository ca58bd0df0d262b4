#include "PindleCore/playlists/PNCustomPlaylist.hpp"

#include <algorithm>
#include <set>

#include "PindleCore/api/PNVideoAPI.hpp"
#include "platform/foundation/Weakly.hpp"

namespace pindle {

std::shared_ptr<PNCustomPlaylist> PNCustomPlaylist::withVideos(std::vector<PNVideoPtr> videos) {
    auto playlist = std::make_shared<PNCustomPlaylist>(Private{});
    playlist->setVideos(std::move(videos));
    return playlist;
}

std::shared_ptr<PNCustomPlaylist> PNCustomPlaylist::withVideoIds(
    std::vector<std::string> videoIds) {
    auto playlist = std::make_shared<PNCustomPlaylist>(Private{});
    loadVideos(videoIds, platform::weakly(playlist, [](PNCustomPlaylist& self,
                                                       const std::vector<PNVideoPtr>& videos) {
                   self.replaceWithLoaded(videos);
               }));
    return playlist;
}

void PNCustomPlaylist::loadVideos(const std::vector<std::string>& videoIds,
                                  LoadCompletion completion) {
    PNVideoAPI::shared().videosByIds(
        videoIds, [videoIds, completion = std::move(completion)](
                      const std::shared_ptr<PNVideosResponse>& response,
                      const std::optional<platform::Error>&) {
            std::vector<PNVideoPtr> received;
            if (response)
                received = response->videos();
            std::vector<PNVideoPtr> ordered;
            for (const auto& videoID : videoIds) {
                auto match = std::find_if(
                    received.begin(), received.end(),
                    [&](const PNVideoPtr& video) { return video && video->videoID() == videoID; });
                if (match != received.end())
                    ordered.push_back(*match);
            }
            completion(ordered);
        });
}

void PNCustomPlaylist::replaceWithLoaded(const std::vector<PNVideoPtr>& videos) {
    std::vector<std::int64_t> updatedIndexes;
    {
        std::lock_guard lock(mutex_);
        videos_ = videos;
        updateTotalCount();
        updatedIndexes = positions(0, static_cast<std::int64_t>(videos.size()));
    }
    tellUpdated(updatedIndexes, PNPlaylistUpdateType::added);
    tellLoaded(videos);
    postUpdated(updatedIndexes);
}

void PNCustomPlaylist::addVideos(const std::vector<PNVideoPtr>& videos,
                                 std::optional<std::int64_t> at) {
    std::vector<std::int64_t> updatedIndexes;
    {
        std::lock_guard lock(mutex_);
        const auto count = static_cast<std::int64_t>(videos_.size());
        const auto added = static_cast<std::int64_t>(videos.size());
        if (at && *at >= 0 && *at < count) {
            videos_.insert(videos_.begin() + *at, videos.begin(), videos.end());
            updatedIndexes = positions(*at, *at + added);
        } else {
            videos_.insert(videos_.end(), videos.begin(), videos.end());
            updatedIndexes = positions(count, count + added);
        }
        updateTotalCount();
    }
    tellUpdated(updatedIndexes, PNPlaylistUpdateType::added);
    postUpdated(updatedIndexes);
}

void PNCustomPlaylist::addVideo(const PNVideoPtr& video, std::optional<std::int64_t> at) {
    addVideos({video}, at);
}

void PNCustomPlaylist::addVideoIds(const std::vector<std::string>& videoIds,
                                   std::optional<std::int64_t> at) {
    loadVideos(videoIds, platform::weakly(this, [at](PNCustomPlaylist& self,
                                                     const std::vector<PNVideoPtr>& videos) {
                   self.addVideos(videos, at);
               }));
}

void PNCustomPlaylist::addVideoId(const std::string& videoID, std::optional<std::int64_t> at) {
    addVideoIds({videoID}, at);
}

void PNCustomPlaylist::removeVideoIds(const std::vector<std::string>& videoIds) {
    const std::set<std::string> removed(videoIds.begin(), videoIds.end());
    std::lock_guard lock(mutex_);
    std::erase_if(videos_, [&](const PNVideoPtr& video) {
        return video && removed.count(video->videoID()) > 0;
    });
    updateTotalCount();
}

void PNCustomPlaylist::removeVideoId(const std::string& videoID) {
    removeVideoIds({videoID});
}

void PNCustomPlaylist::updateTotalCount(std::optional<std::int64_t> atLeast) {
    totalCount_ = std::max(static_cast<std::int64_t>(videos_.size()), atLeast.value_or(0));
}

}  // namespace pindle
