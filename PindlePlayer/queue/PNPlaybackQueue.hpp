// PNPlaybackQueue: for a playlist and a current position in it, the ordered window of
// neighbouring indices worth preparing next (the current index first), resolved into video
// records. The window leans toward the direction the user has been moving in: repeated moves
// one way build a momentum of 1, then 2; the first move the other way drops it to 0.
//
// When the window runs past the loaded videos of a filtered playlist whose total is larger,
// the queue asks it for its next page once, and resolves the rest when the playlist posts
// PNPlaylistUpdated. The delegate hears of every change of the resolved list; an equal list
// (the same record objects in the same order) announces nothing. The first window is
// computed at construction, before any delegate can be set: an owner reads videos() then.
//
// A window is built only while the playlist's total is known; until then it stays empty
// (or as it was). Indices outside the playlist, negative ones included, never loop: each
// side of the window stops at the playlist's bounds.
//
// The delegate is held weakly (its owner holds the queue). The queue observes PNPlaylistUpdated
// from any sender for as long as it lives.
//
// Rebuilds may run on several threads at once: only the one started last stores its list,
// and the delegate hears the stored lists in order, never an older one after a newer one.
//
// Thread-safety: all operations are safe from any thread; the state is guarded by one mutex,
// never held while calling the delegate or the playlist. The delegate is called on the thread
// of the change (the caller of setVideoIndex, or the thread that posted the update), or, while
// another thread is announcing, on that thread right after its own announcement.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "PindleCore/model/PNVideo.hpp"
#include "PindleCore/playlists/PNPlaylist.hpp"
#include "PindlePlayer/queue/PNPlaybackQueueDelegate.hpp"
#include "platform/foundation/Notification.hpp"
#include "platform/foundation/NotificationCenter.hpp"
#include "platform/foundation/WeakDelegate.hpp"

namespace pindle {

class PNPlaybackQueue : public platform::Object {
    struct Private {
        explicit Private() = default;
    };

  public:
    static constexpr int maxDirection = 2;

    // REQUIRES: playlist is not null.
    static std::shared_ptr<PNPlaybackQueue> make(PNPlaylistPtr playlist, std::int64_t videoIndex,
                                                 std::int64_t queueLength);
    PNPlaybackQueue(Private, PNPlaylistPtr playlist, std::int64_t videoIndex,
                    std::int64_t queueLength);
    ~PNPlaybackQueue() override;
    PNPlaybackQueue(const PNPlaybackQueue&) = delete;
    PNPlaybackQueue& operator=(const PNPlaybackQueue&) = delete;

    std::int64_t queueLength() const { return queueLength_; }
    const PNPlaylistPtr& playlist() const { return playlist_; }
    int playbackDirection() const;
    std::vector<std::int64_t> videosOrder() const;
    bool loadingNextVideos() const;
    std::int64_t videoIndex() const;
    std::vector<PNVideoPtr> videos() const;
    std::shared_ptr<PNPlaybackQueueDelegate> delegate() const;
    void setDelegate(const std::shared_ptr<PNPlaybackQueueDelegate>& delegate);

    // Moves the current position, updates the direction and rebuilds the window.
    void setVideoIndex(std::int64_t index);
    // Rebuilds the window from the current position and direction, then resolves it.
    void updateVideosOrder();
    // Resolves the window into videos and announces a changed list.
    void updateVideos();
    // The observer of PNPlaylistUpdated: an update of this queue's playlist resolves what
    // the window still lacks (or builds the window when there was none).
    void handlePlaylistUpdate(const platform::Notification& notification);

  private:
    void subscribe();
    // Delivers the stored list to the delegate unless it has heard it already.
    void announce();

    const std::int64_t queueLength_;
    const PNPlaylistPtr playlist_;
    platform::NotificationCenter::ScopedRegistration registration_;

    mutable std::mutex mutex_;
    int playbackDirection_ = 0;              // guarded by mutex_
    std::vector<std::int64_t> videosOrder_;  // guarded by mutex_
    bool loadingNextVideos_ = false;         // guarded by mutex_
    std::int64_t videoIndex_;                // guarded by mutex_
    platform::WeakDelegate<PNPlaybackQueueDelegate> delegate_;
    std::vector<PNVideoPtr> videos_;  // guarded by mutex_
    // Each resolve takes a number; only the latest one started may store its list.
    std::uint64_t resolveGeneration_ = 0;    // guarded by mutex_
    std::uint64_t storedGeneration_ = 0;     // guarded by mutex_: lists stored so far
    std::uint64_t announcedGeneration_ = 0;  // guarded by mutex_: lists announced so far
    bool announcing_ = false;                // guarded by mutex_
};

using PNPlaybackQueuePtr = std::shared_ptr<PNPlaybackQueue>;

}  // namespace pindle
