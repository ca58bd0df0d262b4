// PNPlayerViewController: the full-screen player. It keeps a fixed pool of player views
// (PNPlayerView) stacked in one container: one current view that plays, one visible view
// that keeps its picture, the others holding the playlist's neighbouring videos in preload
// mode. It owns the playback queue over the playlist, the control panel and volume
// indicator (from the player library's storyboard), a delayed buffering spinner, an error
// label, and the video loader that feeds its views (one it made itself, when it steers its
// own loading or found none of its group, goes with it).
//
// Switching: set/play a video, a playlist at an index, or another index of the current
// playlist, optionally with an animated transition; while a transition animates, switching
// calls are ignored. Every public operation loads the view first, so the pool and the loader
// exist whenever they are used. Asking for the state of the video on screen (set, then play,
// of one index) gives it that state even when the playlist's window does not change.
//
// The delegate hears about the video on screen. Every failure is recorded and posted, but a
// neighbour's failure reaches the delegate when that neighbour becomes current; a neighbour
// that became ready while it preloaded is told ready when a switch shows it.
//
// Observable keys (key-value observing): "aspectMode", "muted", "loop", "playState",
// "currentTime", "duration", "video". Changes made under the lock are announced when the
// outermost hold of the lock ends, on the thread that held it; the old value is not reported.
//
// Its public face is what a host calls. The players manager reaches the rest through its own
// door (PNPlayerPoolDoor, which only the manager can make): the settings it gives before the
// view loads, a switch to a video, releasing a player to the pool, pausing it in the pool. The
// player views, the playback queue and the control panel talk to it through a private adapter
// (Listener).
//
// Thread-safety: all operations are safe from any thread. A private recursive lock guards the
// switching and playback state, and every change of it, the manager's included, is made by
// the controller under that lock. Under it the controller only gives commands that queue
// work (to its views and the loader; a view's aspect mode, mute and loop apply at once) and
// writes its log lines; the player cache is looked up, the playback queue made and moved, and
// a playback queue let go, with the lock released (the queue announces its window back to
// this controller at once). The delegate, the notification "PNVideoPlaybackFailed" and the
// announcements are never sent with the lock held. Player view messages arrive on the views'
// threads; every interface change runs on the main queue.
//
// Its parts, each deciding where its state lives: the view pool (which view is current and
// visible, and which takes a video), buffering and the spinner (judged on the current view's
// queue, shown on the main queue), the transitions and the panel binding (main queue), and
// the delegate's events as typed calls.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "PindleCore/model/PNError.hpp"
#include "PindleCore/model/PNLogger.hpp"
#include "PindleCore/model/PNVideo.hpp"
#include "PindleCore/model/PNVideoResolution.hpp"
#include "PindleCore/playlists/PNPlaylist.hpp"
#include "PindlePlayer/loading/PNVideoLoader.hpp"
#include "PindlePlayer/queue/PNPlaybackQueue.hpp"
#include "PindlePlayer/views/PNAspectMode.hpp"
#include "PindlePlayer/views/PNPlayState.hpp"
#include "PindlePlayer/views/PNPlayerTransition.hpp"
#include "PindlePlayer/views/PNPlayerView.hpp"
#include "PindlePlayer/views/PNPlayerViewControllerDelegate.hpp"
#include "platform/foundation/WeakDelegate.hpp"
#include "platform/ui/ActivityIndicatorView.hpp"
#include "platform/ui/GestureRecognizer.hpp"
#include "platform/ui/Label.hpp"
#include "platform/ui/ViewController.hpp"

namespace pindle {

class PNPlayerBuffering;
class PNPlayerControllerEvents;
class PNPlayerPanelBinding;
class PNPlayerTransitions;
class PNPlayerViewPool;
class PNPlayerViewController;
using PNPlayerViewControllerPtr = std::shared_ptr<PNPlayerViewController>;

class PNPlayerViewController : public platform::ui::ViewController {
  public:
    static constexpr const char* embedControlPanelSegue =
        "EmbedPNPlayerControlPanelControlViewControllerSeque";
    // A switch's transition (none: an immediate switch).
    using Transition = std::optional<PNPlayerTransition>;

    explicit PNPlayerViewController(std::string nibName = {},
                                    platform::ResourceBundlePtr bundle = nullptr);
    explicit PNPlayerViewController(const platform::ui::Coder& coder);
    ~PNPlayerViewController() override;

    // Configuration, copied to every player view (now and when the views are made).
    PNAspectMode aspectMode() const;
    void setAspectMode(PNAspectMode mode);
    bool muted() const;
    void setMuted(bool muted);
    bool loop() const;
    void setLoop(bool loop);
    // How the player views build their items (a seam for hosts that script the media); set
    // before the view loads.
    void setItemFactory(PNPlayerView::ItemFactory factory);

    std::shared_ptr<PNPlayerViewControllerDelegate> delegate() const;
    void setDelegate(std::weak_ptr<PNPlayerViewControllerDelegate> delegate);

    bool showControls() const;
    // Shows or hides the control panel and the volume indicator once the panel exists.
    void setShowControls(bool show);
    bool showSpinner() const;
    void setShowSpinner(bool show);
    bool showErrorMessages() const { return showErrorMessages_; }
    void setShowErrorMessages(bool show);
    bool showButtonsControls() const;
    // Forwarded to the control panel once it exists.
    void setShowButtonsControls(bool show);

    // What is on screen, and how it plays.
    platform::Value valueForKey(std::string_view key) const override;
    PNVideoPtr video() const;
    PNPlaylistPtr playlist() const;
    std::int64_t playlistIndex() const;
    // False before the view loads.
    bool isReadyToPlay() const;
    PNPlayState playState() const;
    double currentTime() const;
    double duration() const;
    // The player view of the video on screen; none before the view loads.
    std::shared_ptr<PNPlayerView> currentPlayer() const;
    // A transition animates: switching calls are ignored meanwhile.
    bool isAnimating() const;

    // Switching.
    void set(PNVideoPtr video, Transition transition = std::nullopt);
    void play(PNVideoPtr video, Transition transition = std::nullopt);
    void set(PNPlaylistPtr playlist, std::int64_t index, Transition transition = std::nullopt);
    void play(PNPlaylistPtr playlist, std::int64_t index, Transition transition = std::nullopt);
    void set(std::int64_t playlistIndex, Transition transition = std::nullopt);
    void play(std::int64_t playlistIndex, Transition transition = std::nullopt);
    // Paused, the current view emptied, no video and no playlist.
    void reset();

    // Playback of the video on screen.
    void play();
    void pause();
    void playPause();
    void seek(double seconds);
    // Added to the controller's view on the main queue, by way of a background queue.
    void addGestureRecognizer(platform::ui::GestureRecognizerPtr recognizer);

  protected:
    void viewDidLoad() override;

  private:
    // The players manager's door and the tests' door.
    friend class PNPlayerPoolDoor;
    friend class PNPlayerViewControllerTestDoor;
    class Hold;
    class Listener;

    // Asked by the platform, through the view controller.
    bool prefersStatusBarHidden() const override { return true; }
    void prepare(const platform::ui::StoryboardSegue& segue,
                 const platform::ObjectPtr& sender) override;

    // ---- the players manager's settings and steps (through PNPlayerPoolDoor) ----
    // Set before the view loads: the identity shared with the player views and the loader,
    // the pool size, the queue length, and whether this controller makes and steers a loader
    // of its own. holdLastPic is kept for the manager; nothing reads it.
    std::string uid() const;
    void setUid(std::string uid);
    int playersCount() const;
    void setPlayersCount(int count);
    int videosPreloadCount() const;
    void setVideosPreloadCount(int count);
    bool internalLoadingControl() const { return internalLoadingControl_; }
    void setInternalLoadingControl(bool internal);
    bool holdLastPic() const { return holdLastPic_; }
    void setHoldLastPic(bool hold);
    // Shows `video` in `state`: single-video mode, no playlist.
    void setToPrivate(PNVideoPtr video, PNPlayState state, Transition transition);
    // A player that plays and is ready to play pauses, as pause() would pause it; any other
    // is left alone.
    void pauseInPool();

    // ---- state ----
    // The stored video only; the buttons follow.
    void setVideo(PNVideoPtr video);
    // Stores the state and tells the loader whether the video on screen only preloads.
    void setPlayState(PNPlayState state);
    std::shared_ptr<PNVideoLoader> videoLoader() const;
    std::vector<std::shared_ptr<PNPlayerView>> players() const;
    std::shared_ptr<PNPlaybackQueue> playbackQueue() const;
    // The video on screen: `video`, or in playlist mode the current view's.
    PNVideoPtr shownVideo() const;
    // Whether the video on screen has failed.
    bool shownVideoFailed() const;
    bool isCurrent(const PNPlayerView& view) const;

    // ---- the lock and what waits for it ----
    std::shared_ptr<PNPlayerViewController> self();
    std::weak_ptr<PNPlayerViewController> weakSelf();
    // The adapter through which the views, the queue and the panel reach this controller; it
    // lives exactly as long as the controller.
    std::shared_ptr<Listener> listener();
    // Runs `call` now, or when the outermost hold of the lock on this thread ends.
    void callOut(std::function<void()> call);
    void announce(const char* key);
    // The delegate's events, as typed calls made once the lock is released.
    PNPlayerControllerEvents events();

    // ---- loading the view ----
    // The loader of its own, or its group's (by uid) when the players manager steers loading.
    void makeVideoLoader();
    // Binds buffering, the transitions and the panel to this controller's state.
    void bindParts();
    // Makes the player views from the settings and puts them in the pool and the container.
    void buildPlayerViews();
    void configure(PNPlayerView& view) const;

    // ---- switching ----
    void playIndex(std::int64_t index, PNPlayState state, Transition transition);
    void playPlaylist(PNPlaylistPtr playlist, std::int64_t index, PNPlayState state,
                      Transition transition);
    // Moves the playback queue with the lock released: the queue announces its window to
    // this controller at once, on the caller's thread.
    void setToPrivate(PNPlaylistPtr playlist, std::int64_t index, Transition transition);
    // Moves the playback queue with the lock released. An unchanged window is never
    // announced: the current view then still takes the requested play state.
    void moveQueue(const std::shared_ptr<PNPlaybackQueue>& queue, std::int64_t index);
    // The resolution of `video` that the player cache holds enough of, if any: file work
    // under a cache file's lock, so never done with the controller's lock held.
    static std::optional<PNVideoResolution> preloadedResolution(const PNVideoPtr& video);
    // Takes the playback queue's window (the current video first). Like switchTo, it looks
    // the player cache up before taking the lock, so call it without the lock held.
    void setVideos(const std::vector<PNVideoPtr>& videos);
    void setVideos(const std::vector<PNVideoPtr>& videos,
                   std::optional<PNVideoResolution> frontPreloaded);
    void prepareNextVideosToPlay();
    // Makes `video` the current view's video (the pool's choice) and puts it on screen. The
    // player cache's file work (what it holds of the video) is done before the lock is taken.
    void switchTo(PNVideoPtr video, Transition transition, std::function<void()> completion);
    void switchTo(PNVideoPtr video, Transition transition, std::function<void()> completion,
                  std::optional<PNVideoResolution> preloaded);
    // Animates from `from` to `to`; the completion runs only when the animation finished.
    void playersTransition(std::shared_ptr<PNPlayerView> from, std::shared_ptr<PNPlayerView> to,
                           PNPlayerTransition transition, std::function<void()> completion);

    // ---- playback, buttons, spinner, errors ----
    // The one path of play, pause and playPause (and the end of a seek): stores `state`,
    // gives it to the current view, refreshes the buttons and judges buffering.
    void requestPlayState(PNPlayState state);
    // Gives the current view the requested play state.
    void applyPlayState(PNPlayerView& current);
    void updateButtons();
    void propagateProgress();
    void checkPlayerBuffering();
    void toggleSpinner(bool show);
    void showError(const std::string& videoID, PNError error);
    void toggleErrorMessage(std::optional<std::string> text);

    // ---- what the player views, the playback queue and the control panel say (Listener) ----
    void playbackQueueUpdated(const std::vector<PNVideoPtr>& videos);
    void pnPlayerViewReadyToPlay(PNPlayerView& view);
    void pnPlayerViewBuffering(PNPlayerView& view, bool buffering);
    void pnPlayerViewCurrentTimeChanged(PNPlayerView& view);
    void pnPlayerViewPlayStateDidChange(PNPlayerView& view);
    void pnPlayerViewFailedToPlay(PNPlayerView& view, int error);
    void pnPlayerViewDidPlayToEnd(PNPlayerView& view);
    void playerControlPanelControlViewControllerPlayPauseTap();
    void playerControlPanelControlViewControllerPrevTap();
    void playerControlPanelControlViewControllerNextTap();
    void playerControlPanelControlViewControllerSliderDragged(double value);

    const platform::ui::ViewPtr playerView_;
    const platform::ui::ActivityIndicatorViewPtr spinner_;
    // Buffering and the spinner.
    const std::shared_ptr<PNPlayerBuffering> buffering_;
    // Putting switches on screen.
    const std::shared_ptr<PNPlayerTransitions> transitions_;
    // The control panel and the volume indicator.
    const std::shared_ptr<PNPlayerPanelBinding> panel_;
    // The player views and which of them is current and visible.
    const std::unique_ptr<PNPlayerViewPool> pool_;
    const std::unique_ptr<Listener> listener_;
    PNLogger logger_;
    platform::WeakDelegate<PNPlayerViewControllerDelegate> delegate_;

    std::atomic<bool> showErrorMessages_{true};
    std::atomic<bool> seeking_{false};
    std::atomic<bool> holdLastPic_{true};
    std::atomic<bool> internalLoadingControl_{true};
    // A progress update for the time reports is queued on the main queue and has not run.
    std::atomic<bool> progressQueued_{false};

    // The controller's lock, and the calls deferred until its outermost hold ends. Recursive:
    // holds nest (a step of the manager's around the controller's own).
    mutable std::recursive_mutex lock_;
    int holdDepth_ = 0;                            // guarded by lock_
    std::vector<std::function<void()>> deferred_;  // guarded by lock_
    std::atomic<std::thread::id> holder_{};

    // All guarded by lock_.
    std::string uid_;
    int playersCount_ = 5;
    int videosPreloadCount_ = 10;
    PNAspectMode aspectMode_ = PNAspectMode::aspectFill;
    bool muted_ = false;
    bool loop_ = false;
    PNVideoPtr video_;
    PNPlayState playState_ = PNPlayState::idle;
    double currentTime_ = 0;
    double duration_ = 0;
    std::shared_ptr<PNVideoLoader> videoLoader_;
    // The controller made videoLoader_, and takes it out of the registry when it goes.
    bool ownsVideoLoader_ = false;
    Transition playerTransition_;
    platform::ui::LabelPtr errorLabel_;
    std::shared_ptr<PNPlaybackQueue> playbackQueue_;
    std::map<std::string, PNError> videoErrors_;
    std::optional<double> setTime_;
    PNPlayerView::ItemFactory itemFactory_;
    // Windows taken from the playback queue so far (to tell a move that switched nothing).
    std::uint64_t windowsTaken_ = 0;
    // The delegate has heard that the current view is ready (once per switch).
    bool readyTold_ = false;
};

}  // namespace pindle
