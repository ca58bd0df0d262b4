#include "PindlePlayer/players/PNPlayersManager.hpp"

#include <algorithm>

#include "PindlePlayer/players/private/PNPlayerPoolDoor.hpp"
#include "platform/foundation/UUID.hpp"
#include "platform/foundation/Weakly.hpp"

namespace pindle {

using platform::DispatchQueue;

namespace {
constexpr int sharedLoaderRequests = 2;
}  // namespace

std::string PNPlayersManager::localizedDescription(Error error) {
    return error == Error::indexOutOfRange
               ? "Current playlist doesn't have video for requested index"
               : "Current playlist doesn't have video for requested video id";
}

std::shared_ptr<PNPlayersManager> PNPlayersManager::make(int prerenderDistance,
                                                         int preloadDistance) {
    return std::make_shared<PNPlayersManager>(Private{}, prerenderDistance, preloadDistance);
}

PNPlayersManager::PNPlayersManager(Private, int prerenderDistance, int preloadDistance)
    : uid_(platform::UUID::random().uuidString()),
      prerenderDistance_(prerenderDistance),
      preloadDistance_(preloadDistance),
      videoLoader_(PNVideoLoader::make(uid_, sharedLoaderRequests)),
      queue_(DispatchQueue::create(platform::UUID::random().uuidString())),
      logger_(PNLoggerType::PLMNG) {}

PNPlayersManager::~PNPlayersManager() {
    // The loader is the manager's own: left registered it would live, and retry its
    // downloads, for the rest of the process.
    PNVideoLoader::unregister(*videoLoader_);
}

const PNPlayerPoolDoor& PNPlayersManager::door() {
    static const PNPlayerPoolDoor opened;
    return opened;
}

std::shared_ptr<PNPlayersManager> PNPlayersManager::self() {
    return std::static_pointer_cast<PNPlayersManager>(shared_from_this());
}

std::shared_ptr<PNPlayersManagerProtocol> PNPlayersManager::delegate() const {
    return delegate_.get();
}

void PNPlayersManager::setDelegate(std::weak_ptr<PNPlayersManagerProtocol> delegate) {
    delegate_.set(std::move(delegate));
}

PNPlaylistPtr PNPlayersManager::playlist() const {
    std::lock_guard lock(mutex_);
    return playbackQueue_ ? playbackQueue_->playlist() : nullptr;
}

std::int64_t PNPlayersManager::playlistIndex() const {
    std::lock_guard lock(mutex_);
    return playbackQueue_ ? playbackQueue_->videoIndex() : -1;
}

std::vector<PNPlayerViewControllerPtr> PNPlayersManager::players() const {
    std::lock_guard lock(mutex_);
    return players_;
}

void PNPlayersManager::setPlaylist(PNPlaylistPtr playlist, std::int64_t index) {
    queue_->async(platform::weakly(this, [playlist, index](PNPlayersManager& manager) {
        if (!playlist)
            return;
        manager.logger_.log("set_playlist_" + playlist->description() + "_" +
                            std::to_string(index));
        std::shared_ptr<PNPlaybackQueue> queue;
        {
            std::lock_guard lock(manager.mutex_);
            queue = manager.playbackQueue_;
        }
        if (queue && queue->playlist() == playlist) {
            queue->setVideoIndex(index);
            return;
        }
        queue = PNPlaybackQueue::make(playlist, index, manager.preloadDistance_);
        {
            std::lock_guard lock(manager.mutex_);
            manager.playbackQueue_ = queue;
        }
        queue->setDelegate(manager.self());
        // The queue made its first window before the manager was its delegate, and an equal
        // list is never announced again: act on it now, as the controller does.
        if (auto first = queue->videos(); !first.empty())
            manager.updateVideos(first);
    }));
}

void PNPlayersManager::setPlaylistIndex(std::int64_t index) {
    queue_->async(platform::weakly(this, [index](PNPlayersManager& self) {
        self.logger_.log("set_plalist_index_" + std::to_string(index));
        std::shared_ptr<PNPlaybackQueue> queue;
        {
            std::lock_guard lock(self.mutex_);
            queue = self.playbackQueue_;
        }
        if (queue)
            queue->setVideoIndex(index);
    }));
}

void PNPlayersManager::getPlayerFor(std::int64_t index, Completion completion) {
    PNPlaylistPtr list = playlist();
    PNVideoPtr video = list ? list->videoAt(index) : nullptr;
    if (!video) {
        completion(nullptr, Error::indexOutOfRange);
        return;
    }
    getPlayerForVideo(std::move(video), std::move(completion));
}

void PNPlayersManager::getPlayerFor(const std::string& videoId, Completion completion) {
    PNPlaylistPtr list = playlist();
    PNVideoPtr video = list ? list->videoById(videoId) : nullptr;
    if (!video) {
        completion(nullptr, Error::videoIdNotFound);
        return;
    }
    getPlayerForVideo(std::move(video), std::move(completion));
}

void PNPlayersManager::getPlayerForVideo(PNVideoPtr video, Completion completion) {
    logger_.log("get_player_external_" + video->videoID());
    queue_->async(platform::weakly(this, [video, completion](PNPlayersManager& self) {
        self.getPlayerForInternal(
            video->videoID(),
            platform::weakly(&self, [video, completion](PNPlayersManager& self,
                                                        PNPlayerViewControllerPtr player, int) {
                auto held = player->video();
                if (!held || held->videoID() != video->videoID())
                    door().setToPrivate(*player, video, PNPlayState::paused, std::nullopt);
                self.activePlayersVideoIds_.insert(video->videoID());
                completion(player, std::nullopt);
            }));
    }));
}

void PNPlayersManager::use(const std::string& id, int index, const PlayerCompletion& completion) {
    logger_.log("get_player_internal_" + id + "_pl_" + std::to_string(index));
    videoIdsPlayersMap_[id] = index;
    PNPlayerViewControllerPtr player;
    {
        std::lock_guard lock(mutex_);
        reservedPlayers_.erase(index);
        player = players_.at(static_cast<std::size_t>(index));
    }
    completion(player, index);
}

void PNPlayersManager::getPlayerForInternal(const std::string& id, PlayerCompletion completion) {
    logger_.log("get_player_internal_" + id);
    if (auto it = videoIdsPlayersMap_.find(id); it != videoIdsPlayersMap_.end()) {
        use(id, it->second, completion);
        return;
    }
    const auto pool = players();
    for (int i = 0; i < static_cast<int>(pool.size()); ++i) {
        auto held = pool[i]->video();
        if (held && held->videoID() == id) {
            use(id, i, completion);
            return;
        }
    }
    std::set<int> reserved;
    {
        std::lock_guard lock(mutex_);
        reserved = reservedPlayers_;
    }
    for (int i = 0; i < static_cast<int>(pool.size()); ++i) {
        const bool assigned =
            reserved.count(i) || std::any_of(videoIdsPlayersMap_.begin(), videoIdsPlayersMap_.end(),
                                             [i](const auto& entry) { return entry.second == i; });
        if (!assigned) {
            use(id, i, completion);
            return;
        }
    }
    createPlayer(id, std::move(completion));
}

void PNPlayersManager::createPlayer(const std::string& id, PlayerCompletion completion) {
    {
        std::lock_guard lock(mutex_);
        auto it = requestedPlayers_.find(id);
        if (it != requestedPlayers_.end()) {
            it->second.push_back(std::move(completion));
            return;
        }
        requestedPlayers_[id].push_back(std::move(completion));
    }
    DispatchQueue::main()->async(platform::weakly(this, [id](PNPlayersManager& self) {
        auto player = std::make_shared<PNPlayerViewController>();
        door().prepareForPool(*player, self.uid_);
        int index;
        {
            std::lock_guard lock(self.mutex_);
            index = static_cast<int>(self.players_.size());
        }
        if (auto d = self.delegate();
            d && d->implements(PNPlayersManagerProtocol::Method::newPlayerCreated))
            d->pnPlayersManagerNewPlayerCreated(self, player);
        player->view()->setHidden(false);
        {
            std::lock_guard lock(self.mutex_);
            self.players_.push_back(player);
            self.reservedPlayers_.insert(index);
        }
        self.logger_.log("new_player_" + id);
        self.queue_->async(platform::weakly(
            &self, [id, index](PNPlayersManager& self) { self.playerCreated(id, index); }));
    }));
}

void PNPlayersManager::playerCreated(const std::string& id, int index) {
    // The request stays listed until here, so that a request for the same video meanwhile
    // waits for this player instead of making a second one.
    std::vector<PlayerCompletion> waiting;
    {
        std::lock_guard lock(mutex_);
        auto it = requestedPlayers_.find(id);
        if (it == requestedPlayers_.end())
            return;
        waiting = std::move(it->second);
        requestedPlayers_.erase(it);
    }
    for (const auto& completion : waiting) use(id, index, completion);
}

void PNPlayersManager::playbackQueueUpdated(const std::vector<PNVideoPtr>& videos) {
    // Bookkeeping stays on the manager's queue, whichever thread moved the playback queue.
    queue_->async(
        platform::weakly(this, [videos](PNPlayersManager& self) { self.updateVideos(videos); }));
}

void PNPlayersManager::updateVideos(const std::vector<PNVideoPtr>& videos) {
    videoLoader_->setVideosToPreload(videos);
    releaseInactivePlayers();
    const std::size_t n =
        std::min(videos.size(), static_cast<std::size_t>(std::max(0, prerenderDistance_)));
    for (std::size_t i = 0; i < n; ++i) {
        auto video = videos[i];
        getPlayerForInternal(video->videoID(), [video](PNPlayerViewControllerPtr player, int) {
            auto held = player->video();
            if (!held || held->videoID() != video->videoID())
                door().setToPrivate(*player, video, PNPlayState::paused, std::nullopt);
        });
    }
}

void PNPlayersManager::releaseInactivePlayers() {
    std::set<std::string> keep;
    std::shared_ptr<PNPlaybackQueue> queue;
    {
        std::lock_guard lock(mutex_);
        queue = playbackQueue_;
    }
    if (queue) {
        const auto window = queue->videos();
        const std::size_t n =
            std::min(window.size(), static_cast<std::size_t>(std::max(0, prerenderDistance_)));
        for (std::size_t i = 0; i < n; ++i) keep.insert(window[i]->videoID());
    }
    const auto pool = players();
    for (auto it = videoIdsPlayersMap_.begin(); it != videoIdsPlayersMap_.end();) {
        const std::string id = it->first;
        if (keep.count(id) || activePlayersVideoIds_.count(id)) {
            ++it;
            continue;
        }
        logger_.log("video_release_" + id);
        const int index = it->second;
        it = videoIdsPlayersMap_.erase(it);
        door().releaseToPool(*pool.at(static_cast<std::size_t>(index)));
    }
}

void PNPlayersManager::releasePlayerFor(const std::string& videoId) {
    queue_->async(platform::weakly(this, [videoId](PNPlayersManager& self) {
        self.logger_.log("player_release_" + videoId);
        self.activePlayersVideoIds_.erase(videoId);
        self.releaseInactivePlayers();
    }));
}

void PNPlayersManager::releasePlayers() {
    queue_->async(platform::weakly(this, [](PNPlayersManager& self) {
        self.logger_.log("player_release_all");
        self.activePlayersVideoIds_.clear();
        self.releaseInactivePlayers();
    }));
}

void PNPlayersManager::reset() {
    queue_->async(platform::weakly(this, [](PNPlayersManager& self) {
        self.videoIdsPlayersMap_.clear();
        {
            std::lock_guard lock(self.mutex_);
            self.playbackQueue_.reset();
        }
        self.releaseInactivePlayers();
    }));
}

void PNPlayersManager::pausePlayers() {
    for (const auto& player : players()) door().pauseInPool(*player);
}

}  // namespace pindle
