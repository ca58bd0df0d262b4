// Player: plays one item at a time on a timeline that reads Clock, so playback under a
// VirtualClock is exact and no thread ever ticks.
//
// The rate is what the host asked for; whether time moves is the time-control status:
// paused at rate 0; playing when the item is ready and its buffer is not empty; otherwise
// waiting. With automaticallyWaitsToMinimizeStalling (the default) the player also waits,
// at the start and after a stall, until the item is likely to keep up. When the playhead
// reaches the end of the loaded bytes it holds (the item posts its stalled notification)
// and resumes by itself once bytes arrive; the rate stays. At the duration the item posts
// its played-to-end notification and, with the action "pause" (the default), the rate goes
// to 0, announced.
//
// Seeks move the playhead at once; the completion runs on the main queue with true, or
// with false when a later seek superseded it. Periodic time observers fire on their queue at
// every multiple of their interval of media time while time moves, and once on each rate
// change and each seek.
//
// Sound: while time moves at rate 1, the item's audio track plays through one playback
// stream of the sound server (see SoundServer), opened the first time the player plays the
// item and closed when the item is replaced or the player released; a player that never
// plays opens nothing. The stream is corked whenever time stops and flushed on a seek;
// `volume` and `muted` set its volume. While it plays, the timeline (currentTime, and every
// frame picked by it) follows what the server has played, and never goes back. Playback does
// not wait for a slow sink: the timeline waits at most 50 ms for the sound to start, and a
// sound that starts later catches up with the picture. Without a server, a decodable
// track or at other rates, the timeline reads the Clock as before; a stream that fails
// leaves the timeline running on the Clock from the same position.
//
// KVO keys: "status", "rate", "timeControlStatus", "currentItem" (so dotted paths such as
// "currentItem.status" follow a replaced item), "muted", "volume".
//
// Thread-safety: all public operations are safe from any thread. Public calls change the
// state at once and announce on the calling thread; changes that follow the item (its
// readiness, stalls, the end) are announced on the item's queue. No lock is held while
// announcing or calling an observer.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "platform/dispatch/DispatchTimerSource.hpp"
#include "platform/foundation/Executor.hpp"
#include "platform/foundation/KeyValueObserving.hpp"
#include "platform/foundation/MediaTime.hpp"
#include "platform/media/PlayerItem.hpp"

namespace pindle::platform {

class AudioRenderer;
class Player;
using PlayerPtr = std::shared_ptr<Player>;

class Player : public KeyValueObservable {
  public:
    enum class Status { unknown, readyToPlay, failed };
    enum class TimeControlStatus { paused = 0, waitingToPlayAtSpecifiedRate = 1, playing = 2 };
    enum class ActionAtItemEnd { pause, none };
    using TimeObserverToken = std::shared_ptr<Object>;

    static PlayerPtr make(PlayerItemPtr item = nullptr);

    struct Private {
        explicit Private() = default;
    };
    explicit Player(Private);
    ~Player() override;

    Status status() const { return status_.get(); }
    double rate() const { return rate_.get(); }
    void setRate(double rate);
    TimeControlStatus timeControlStatus() const { return timeControlStatus_.get(); }
    PlayerItemPtr currentItem() const { return currentItem_.get(); }
    void replaceCurrentItem(PlayerItemPtr item);

    void play() { setRate(1.0); }
    void pause() { setRate(0.0); }
    MediaTime currentTime() const;
    void seek(MediaTime time, std::function<void(bool finished)> completion = {});

    bool isMuted() const { return muted_.get(); }
    void setMuted(bool muted);
    float volume() const { return volume_.get(); }
    void setVolume(float volume);
    bool automaticallyWaitsToMinimizeStalling() const;
    void setAutomaticallyWaitsToMinimizeStalling(bool waits);
    ActionAtItemEnd actionAtItemEnd() const;
    void setActionAtItemEnd(ActionAtItemEnd action);

    TimeObserverToken addPeriodicTimeObserver(MediaTime interval, std::shared_ptr<Executor> queue,
                                              std::function<void(MediaTime)> block);
    void removeTimeObserver(const TimeObserverToken& token);

    // The item's side: its state changed (on the item's queue).
    void itemDidChange(const PlayerItemPtr& item);
    // The item's side: it is about to announce that it is ready. The player turns ready first,
    // so whoever observes the item's status already finds a ready player.
    void itemWillBecomeReady(const PlayerItemPtr& item);

  private:
    class PeriodicObserver;

    // Works out the time-control status and how fast the item's timeline runs.
    void update(bool rateChanged);
    void restartObservers(bool fireNow);
    // Opens, plays, corks or closes the current item's sound as its timeline runs.
    void updateAudio();

    ObservableProperty<Status> status_{*this, "status", Status::unknown};
    ObservableProperty<double> rate_{*this, "rate", 0.0};
    ObservableProperty<TimeControlStatus> timeControlStatus_{*this, "timeControlStatus",
                                                             TimeControlStatus::paused};
    ObservableProperty<PlayerItemPtr> currentItem_{*this, "currentItem"};
    ObservableProperty<bool> muted_{*this, "muted", false};
    ObservableProperty<float> volume_{*this, "volume", 1.0f};

    mutable std::mutex mutex_;
    bool automaticallyWaits_ = true;                            // guarded by mutex_
    ActionAtItemEnd actionAtItemEnd_ = ActionAtItemEnd::pause;  // guarded by mutex_
    bool waitingForBuffer_ = true;  // guarded by mutex_; since play() or a stall
    double runningRate_ = 0;        // guarded by mutex_; the rate the timeline runs at
    TimeControlStatus decidedStatus_ = TimeControlStatus::paused;  // guarded by mutex_
    std::uint64_t seekGeneration_ = 0;                             // guarded by mutex_
    std::vector<std::shared_ptr<PeriodicObserver>> observers_;     // guarded by mutex_

    // Taken before mutex_ (never inside it), and never on the sound server's loop thread.
    std::mutex audioMutex_;
    std::shared_ptr<AudioRenderer> audio_;  // guarded by audioMutex_
    PlayerItemPtr audioItem_;               // guarded by audioMutex_; whose sound audio_ plays
    bool audioSilent_ = false;              // guarded by audioMutex_; decided for audioItem_
    bool audioRunning_ = false;             // guarded by audioMutex_
};

}  // namespace pindle::platform
