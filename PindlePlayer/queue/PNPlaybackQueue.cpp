#include "PindlePlayer/queue/PNPlaybackQueue.hpp"

#include <algorithm>

#include "PindleCore/model/PNNotificationNames.hpp"
#include "PindleCore/playlists/PNFilteredPlaylist.hpp"
#include "platform/foundation/Weakly.hpp"

namespace pindle {

std::shared_ptr<PNPlaybackQueue> PNPlaybackQueue::make(PNPlaylistPtr playlist,
                                                       std::int64_t videoIndex,
                                                       std::int64_t queueLength) {
    auto queue =
        std::make_shared<PNPlaybackQueue>(Private{}, std::move(playlist), videoIndex, queueLength);
    // Observe first: the first window may ask for a page, whose update could otherwise be
    // posted before the queue listens, leaving the window short for good.
    queue->subscribe();
    queue->updateVideosOrder();
    return queue;
}

PNPlaybackQueue::PNPlaybackQueue(Private, PNPlaylistPtr playlist, std::int64_t videoIndex,
                                 std::int64_t queueLength)
    : queueLength_(queueLength),
      playlist_(std::move(playlist)),
      loadingNextVideos_(!playlist_->totalCount().has_value()),
      videoIndex_(videoIndex) {}

PNPlaybackQueue::~PNPlaybackQueue() = default;

void PNPlaybackQueue::subscribe() {
    registration_ = platform::NotificationCenter::ScopedRegistration(
        platform::NotificationCenter::defaultCenter().addObserverForName(
            NotificationName::PNPlaylistUpdated, nullptr, nullptr,
            platform::weakly(this,
                             [](PNPlaybackQueue& self, const platform::Notification& notification) {
                                 self.handlePlaylistUpdate(notification);
                             })));
}

int PNPlaybackQueue::playbackDirection() const {
    std::lock_guard lock(mutex_);
    return playbackDirection_;
}

std::vector<std::int64_t> PNPlaybackQueue::videosOrder() const {
    std::lock_guard lock(mutex_);
    return videosOrder_;
}

bool PNPlaybackQueue::loadingNextVideos() const {
    std::lock_guard lock(mutex_);
    return loadingNextVideos_;
}

std::int64_t PNPlaybackQueue::videoIndex() const {
    std::lock_guard lock(mutex_);
    return videoIndex_;
}

std::vector<PNVideoPtr> PNPlaybackQueue::videos() const {
    std::lock_guard lock(mutex_);
    return videos_;
}

std::shared_ptr<PNPlaybackQueueDelegate> PNPlaybackQueue::delegate() const {
    return delegate_.get();
}

void PNPlaybackQueue::setDelegate(const std::shared_ptr<PNPlaybackQueueDelegate>& delegate) {
    delegate_.set(delegate);
}

void PNPlaybackQueue::setVideoIndex(std::int64_t index) {
    {
        std::lock_guard lock(mutex_);
        const std::int64_t move = index - videoIndex_;
        const bool forward = move >= 1;
        const int direction = playbackDirection_;
        if (direction != 0 && (direction > 0) != forward) {
            playbackDirection_ = 0;
        } else {
            const int sign = move > 0 ? 1 : (move < 0 ? -1 : 0);
            playbackDirection_ = std::clamp(direction + sign, -maxDirection, maxDirection);
        }
        videoIndex_ = index;
    }
    updateVideosOrder();
}

void PNPlaybackQueue::updateVideosOrder() {
    const std::optional<std::int64_t> total = playlist_->totalCount();
    if (!total)
        return;
    {
        std::lock_guard lock(mutex_);
        const int direction = playbackDirection_;
        const int steps = std::abs(direction) + 1;
        std::vector<std::int64_t> order{videoIndex_};
        std::int64_t backward = videoIndex_;
        std::int64_t forward = std::min(*total, videoIndex_ + 1);
        auto stepBackward = [&] {
            if (backward > 0)
                order.push_back(--backward);
        };
        auto stepForward = [&] {
            if (forward < *total)
                order.push_back(forward++);
        };
        if (queueLength_ >= 1) {
            while (static_cast<std::int64_t>(order.size()) <= queueLength_) {
                // Each side is spent once its cursor leaves the playlist, so an index outside
                // it (a negative one included) cannot keep the loop going.
                if (backward <= 0 && forward >= *total)
                    break;
                if (direction < 0) {
                    for (int i = 0; i < steps; ++i) stepBackward();
                    stepForward();
                } else {
                    for (int i = 0; i < steps; ++i) stepForward();
                    stepBackward();
                }
            }
        }
        videosOrder_ = std::move(order);
    }
    updateVideos();
}

void PNPlaybackQueue::updateVideos() {
    for (;;) {
        std::vector<std::int64_t> order;
        std::uint64_t generation;
        {
            std::lock_guard lock(mutex_);
            order = videosOrder_;
            generation = ++resolveGeneration_;
        }
        const std::int64_t loadedBefore = playlist_->count();
        std::vector<PNVideoPtr> found;
        for (std::int64_t index : order) {
            PNVideoPtr video = playlist_->videoAt(index);
            if (!video)
                break;
            found.push_back(std::move(video));
        }

        if (found.size() < order.size() &&
            playlist_->count() < playlist_->totalCount().value_or(0)) {
            auto filtered = std::dynamic_pointer_cast<PNFilteredPlaylist>(playlist_);
            bool request = false;
            {
                std::lock_guard lock(mutex_);
                // A page that landed while the window was being resolved is not asked for
                // again: the window is resolved afresh below.
                if (!loadingNextVideos_ && playlist_->count() == loadedBefore) {
                    // Only a filtered playlist can page; any other short window waits as it
                    // is.
                    if (!filtered)
                        return;
                    loadingNextVideos_ = request = true;
                }
            }
            if (request)
                filtered->loadNextVideos();
        }
        // Resolved while a page landed: resolve again with the page, rather than leave the
        // window (and the screen) on the list from before it.
        if (playlist_->count() != loadedBefore)
            continue;
        {
            std::lock_guard lock(mutex_);
            // A rebuild or resolve that started later stores its own, newer list.
            if (generation != resolveGeneration_ || found == videos_)
                return;
            videos_ = std::move(found);
            ++storedGeneration_;
        }
        announce();
        return;
    }
}

void PNPlaybackQueue::announce() {
    std::unique_lock lock(mutex_);
    // One thread announces at a time, always the newest list, so that an older list is never
    // delivered after a newer one; another thread's list is delivered by the one announcing.
    if (announcing_)
        return;
    announcing_ = true;
    while (announcedGeneration_ != storedGeneration_) {
        announcedGeneration_ = storedGeneration_;
        const std::vector<PNVideoPtr> videos = videos_;
        auto delegate = delegate_.get();
        lock.unlock();
        if (delegate)
            delegate->playbackQueueUpdated(videos);
        lock.lock();
    }
    announcing_ = false;
}

void PNPlaybackQueue::handlePlaylistUpdate(const platform::Notification& notification) {
    const platform::Dictionary* payload = notification.object.asDictionary();
    if (!payload)
        return;
    auto entry = payload->find(PNPlaylist::playlistKey);
    if (entry == payload->end() || entry->second.asObjectOf<PNPlaylist>() != playlist_)
        return;
    bool buildWindow = false;
    bool resolveRest = false;
    {
        std::lock_guard lock(mutex_);
        loadingNextVideos_ = false;
        buildWindow = videosOrder_.empty();
        resolveRest = !buildWindow && videos_.size() < videosOrder_.size();
    }
    if (buildWindow)
        updateVideosOrder();
    else if (resolveRest)
        updateVideos();
}

}  // namespace pindle
