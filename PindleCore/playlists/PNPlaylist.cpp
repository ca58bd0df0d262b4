#include "PindleCore/playlists/PNPlaylist.hpp"

#include "PindleCore/model/PNNotificationNames.hpp"
#include "platform/foundation/NotificationCenter.hpp"

namespace pindle {

std::vector<PNVideoPtr> PNPlaylist::videos() const {
    std::lock_guard lock(mutex_);
    return videos_;
}

void PNPlaylist::setVideos(std::vector<PNVideoPtr> videos) {
    std::lock_guard lock(mutex_);
    videos_ = std::move(videos);
}

std::int64_t PNPlaylist::count() const {
    std::lock_guard lock(mutex_);
    return static_cast<std::int64_t>(videos_.size());
}

std::optional<std::int64_t> PNPlaylist::totalCount() const {
    std::lock_guard lock(mutex_);
    return totalCount_;
}

void PNPlaylist::setTotalCount(std::optional<std::int64_t> totalCount) {
    std::lock_guard lock(mutex_);
    totalCount_ = totalCount;
}

std::shared_ptr<PNPlaylistDelegate> PNPlaylist::delegate() const {
    return delegate_.get();
}

void PNPlaylist::setDelegate(const std::shared_ptr<PNPlaylistDelegate>& delegate) {
    delegate_.set(delegate);
}

void PNPlaylist::reset() {
    {
        std::lock_guard lock(mutex_);
        videos_.clear();
    }
    tellUpdated({}, PNPlaylistUpdateType::reset);
}

PNVideoPtr PNPlaylist::videoAt(std::int64_t index) {
    std::lock_guard lock(mutex_);
    if (index < 0 || index >= static_cast<std::int64_t>(videos_.size()))
        return nullptr;
    return videos_[static_cast<std::size_t>(index)];
}

bool PNPlaylist::hasVideoAt(std::int64_t index) {
    std::lock_guard lock(mutex_);
    return index >= 0 && index < static_cast<std::int64_t>(videos_.size());
}

PNVideoPtr PNPlaylist::videoById(const std::string& videoID) const {
    std::lock_guard lock(mutex_);
    for (const auto& video : videos_) {
        if (video && video->videoID() == videoID)
            return video;
    }
    return nullptr;
}

bool PNPlaylist::hasVideoById(const std::string& videoID) const {
    return videoById(videoID) != nullptr;
}

std::vector<std::int64_t> PNPlaylist::positions(std::int64_t first, std::int64_t end) {
    std::vector<std::int64_t> result;
    for (auto index = first; index < end; ++index) result.push_back(index);
    return result;
}

void PNPlaylist::tellLoaded(const std::vector<PNVideoPtr>& videos) const {
    if (auto delegate = this->delegate())
        delegate->loadedWithVideos(videos);
}

void PNPlaylist::tellUpdated(const std::vector<std::int64_t>& updatedIndexes,
                             PNPlaylistUpdateType type) const {
    if (auto delegate = this->delegate())
        delegate->updatedWithUpdatedIndexes(updatedIndexes, type);
}

void PNPlaylist::postUpdated(const std::vector<std::int64_t>& updatedIndexes) {
    platform::Array indexes;
    indexes.reserve(updatedIndexes.size());
    for (auto index : updatedIndexes) indexes.emplace_back(static_cast<long long>(index));
    platform::Dictionary payload{
        {playlistKey, platform::Value(shared_from_this())},
        {updatedIndexesKey, platform::Value(std::move(indexes))},
    };
    platform::NotificationCenter::defaultCenter().post(NotificationName::PNPlaylistUpdated,
                                                       platform::Value(std::move(payload)));
}

}  // namespace pindle
