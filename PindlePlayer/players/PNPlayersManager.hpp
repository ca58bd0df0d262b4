// PNPlayersManager: a pool of full-screen player controllers for a feed of videos taken
// from a playlist. The host gives it a playlist and the current index, asks it for the
// player of a video (by index or by id) and tells it when a player is no longer shown. The
// manager prepares paused players for the first `prerenderDistance` videos of the playback
// window, reuses free players for new videos, frees players whose videos left the window
// and are not held by the host, and shares one video loader (2 downloads, keyed by its uid)
// among all its players; that loader is unregistered when the manager goes. Players are
// never destroyed while the manager lives: the pool only grows.
//
// Thread-safety: all operations are safe from any thread. Bookkeeping (which player has
// which video, which are held) runs on the manager's serial queue, playback-queue updates
// included; players are made on the main queue; `players` and the waiting requests are
// guarded by a mutex. Successful getPlayerFor completions run on the manager's queue; error
// completions run on the caller's thread before getPlayerFor returns. A player's state is
// changed only through its door (PNPlayerPoolDoor): each step is the player's own, made under
// its lock. Queued work holds the manager weakly.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "PindleCore/model/PNLogger.hpp"
#include "PindleCore/model/PNVideo.hpp"
#include "PindleCore/playlists/PNPlaylist.hpp"
#include "PindlePlayer/loading/PNVideoLoader.hpp"
#include "PindlePlayer/players/PNPlayersManagerProtocol.hpp"
#include "PindlePlayer/queue/PNPlaybackQueue.hpp"
#include "PindlePlayer/queue/PNPlaybackQueueDelegate.hpp"
#include "PindlePlayer/views/PNPlayerViewController.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/foundation/WeakDelegate.hpp"

namespace pindle {

class PNPlayerPoolDoor;

class PNPlayersManager : public platform::Object, public PNPlaybackQueueDelegate {
    struct Private {
        explicit Private() = default;
    };

  public:
    enum class Error { indexOutOfRange = 0, videoIdNotFound = 1 };
    static std::string localizedDescription(Error error);

    using Completion =
        std::function<void(PNPlayerViewControllerPtr player, std::optional<Error> error)>;

    static std::shared_ptr<PNPlayersManager> make(int prerenderDistance, int preloadDistance);
    PNPlayersManager(Private, int prerenderDistance, int preloadDistance);
    // Unregisters the manager's video loader.
    ~PNPlayersManager() override;
    PNPlayersManager(const PNPlayersManager&) = delete;
    PNPlayersManager& operator=(const PNPlayersManager&) = delete;

    std::shared_ptr<PNPlayersManagerProtocol> delegate() const;
    void setDelegate(std::weak_ptr<PNPlayersManagerProtocol> delegate);
    const std::string& uid() const { return uid_; }
    int prerenderDistance() const { return prerenderDistance_; }
    int preloadDistance() const { return preloadDistance_; }
    const std::shared_ptr<PNVideoLoader>& videoLoader() const { return videoLoader_; }
    PNPlaylistPtr playlist() const;
    // -1 without a playlist.
    std::int64_t playlistIndex() const;
    std::vector<PNPlayerViewControllerPtr> players() const;

    void setPlaylist(PNPlaylistPtr playlist, std::int64_t index);
    void setPlaylistIndex(std::int64_t index);
    void getPlayerFor(std::int64_t index, Completion completion);
    void getPlayerFor(const std::string& videoId, Completion completion);
    // The host no longer shows the player of `videoId`.
    void releasePlayerFor(const std::string& videoId);
    void releasePlayers();
    // Forgets every assignment (the players keep their videos and become free) and the
    // playlist.
    void reset();
    // Pauses every playing player that is ready to play; the others are left alone.
    void pausePlayers();

    // PNPlaybackQueueDelegate: handled on the manager's queue.
    void playbackQueueUpdated(const std::vector<PNVideoPtr>& videos) override;

  private:
    using PlayerCompletion = std::function<void(PNPlayerViewControllerPtr player, int index)>;

    // The way into the players' own steps, which only the manager may take.
    static const PNPlayerPoolDoor& door();
    std::shared_ptr<PNPlayersManager> self();
    void getPlayerForVideo(PNVideoPtr video, Completion completion);
    // On the queue.
    void getPlayerForInternal(const std::string& id, PlayerCompletion completion);
    // Makes a player on the main queue; requests for `id` until it is in use share it.
    void createPlayer(const std::string& id, PlayerCompletion completion);
    // On the queue: the player made for `id` is handed to every request waiting for it.
    void playerCreated(const std::string& id, int index);
    void updateVideos(const std::vector<PNVideoPtr>& videos);
    void releaseInactivePlayers();
    void use(const std::string& id, int index, const PlayerCompletion& completion);

    const std::string uid_;
    const int prerenderDistance_;
    const int preloadDistance_;
    const std::shared_ptr<PNVideoLoader> videoLoader_;
    const std::shared_ptr<platform::DispatchQueue> queue_;
    PNLogger logger_;

    platform::WeakDelegate<PNPlayersManagerProtocol> delegate_;

    mutable std::mutex mutex_;
    std::shared_ptr<PNPlaybackQueue> playbackQueue_;                         // guarded by mutex_
    std::vector<PNPlayerViewControllerPtr> players_;                         // guarded by mutex_
    std::map<std::string, std::vector<PlayerCompletion>> requestedPlayers_;  // guarded by mutex_
    // Players made on the main queue whose assignment has not reached queue_ yet: they are in
    // players_ but belong to the video they were made for, so no other video may take them.
    std::set<int> reservedPlayers_;  // guarded by mutex_

    // Touched only on queue_.
    std::map<std::string, int> videoIdsPlayersMap_;
    std::set<std::string> activePlayersVideoIds_;
};

}  // namespace pindle
