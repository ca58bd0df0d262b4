// PNPlayerView: a view that plays one PNVideo at a time with one platform player and its
// video layer. It shows the video's thumbnail until the first frame can be drawn, and gets
// every media byte through the player's resource loader, for which it is the delegate: the
// asset's URL is "pinlet://<uid>/<videoID>", and each loading request is handed to the
// video loader of the view's group (`uid`) as a PNVideoLoaderListener.
//
// Commands (play, pause, stop, seekTo, reset, setVideo) return at once and apply their state
// changes in call order on the view's own serial queue; interface work (the thumbnail,
// building the item, the end of reset) runs on the main queue. A stop gives way to any play,
// pause, reset or setVideo given after it: it does nothing if one was given before its turn
// on the queue came. The view follows its player
// by key-value observation: the first ready status of the item sets isReadyToPlay and plays
// or pauses by the play intent; a stall pauses and counts, and playback resumes once the
// media buffered ahead covers a need of one second per stall so far, capped at 2 s and at
// the time left; the end of the item loops or drops the play intent.
//
// A view needs a `uid` (setUID) before a video is set: without one setVideo logs "no_uid"
// and does nothing. A view that steers its own loading (internalLoadingControl, the default)
// and finds no loader of its group registered makes one, and takes it out of the registry
// when it goes or moves to another group. A video plays when it has a 720p address or a
// local recording and its identifier makes an address; otherwise the delegate hears error 9
// (video unavailable) and no item is built. An item that fails (its bytes are not media, its
// load ended in an error, the server refused the file) tells the delegate error 10 (video
// load failed).
//
// Observable keys: "video", "isReadyToPlay" (besides View's).
//
// Thread-safety: all operations are safe from any thread; flags shared between the view's
// queue, the main queue and the player's announcements are atomics, the rest is guarded by
// mutex_. The play intent (shouldPlay, isPreload) is raised only on the view's queue, and the
// plays that follow the player's announcements (first ready status, end of a stall, loop
// restart) are decided there too, so a pause() is never overtaken by them. Delegate calls
// (PNPlayerViewDelegate) arrive on the thread of the event: the player's announcements and
// notifications (the item's queue or the caller's thread), the view's queue for the time
// callback, the main queue for a failed video. The resource loader delegate runs on the main
// queue.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "PindleCore/caches/LoadImageSubscription.hpp"
#include "PindleCore/model/PNError.hpp"
#include "PindleCore/model/PNLogger.hpp"
#include "PindleCore/model/PNVideo.hpp"
#include "PindlePlayer/views/PNAspectMode.hpp"
#include "PindlePlayer/views/PNPlayState.hpp"
#include "PindlePlayer/views/PNPlayerViewDelegate.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/foundation/NotificationCenter.hpp"
#include "platform/foundation/WeakDelegate.hpp"
#include "platform/media/AssetResourceLoaderDelegate.hpp"
#include "platform/media/Player.hpp"
#include "platform/media/PlayerItem.hpp"
#include "platform/media/URLAsset.hpp"
#include "platform/ui/ImageView.hpp"
#include "platform/ui/PlayerLayer.hpp"
#include "platform/ui/View.hpp"

namespace pindle {

class PNVideoLoader;
class PNVideoLoaderListener;

class PNPlayerView : public platform::ui::View, public platform::AssetResourceLoaderDelegate {
  protected:
    struct Private {
        explicit Private() = default;
    };

  public:
    using Rect = platform::ui::Rect;
    // Builds the player item of an asset; the default is PlayerItem::make(asset). A seam for
    // tests and hosts that script the media.
    using ItemFactory =
        std::function<platform::PlayerItemPtr(const std::shared_ptr<platform::URLAsset>&)>;

    static constexpr const char* scheme = "pinlet://";
    static constexpr const char* queueLabelPrefix = "local.pindle.pinlet.player.";
    static constexpr double timeObserverInterval = 0.03;
    static constexpr double preferredForwardBufferDuration = 1.0;
    static constexpr double maxBufferNeed = 2.0;

    // A view without a uid: give it one with setUID before setting a video.
    static std::shared_ptr<PNPlayerView> make(const Rect& frame);
    // A view decoded from an archive, with a new UUID as its uid; null when it fails.
    static std::shared_ptr<PNPlayerView> make(const platform::ui::Coder& coder);
    // A zero-sized view of the group `uid`; its owner tells the loader what to load.
    static std::shared_ptr<PNPlayerView> make(const std::string& uid);
    // A zero-sized view of a new group with `video` set in preload mode.
    static std::shared_ptr<PNPlayerView> make(const PNVideoPtr& video);

    PNPlayerView(Private, const Rect& frame);
    ~PNPlayerView() override;

    std::shared_ptr<PNPlayerViewDelegate> delegate() const;
    // Held weakly.
    void setDelegate(const std::shared_ptr<PNPlayerViewDelegate>& delegate);
    PNPlayState playState() const;
    PNAspectMode aspectMode() const { return aspectMode_.load(); }
    void setAspectMode(PNAspectMode mode);
    bool loop() const { return loop_.load(); }
    void setLoop(bool loop) { loop_ = loop; }
    bool muted() const { return muted_.load(); }
    void setMuted(bool muted);
    // Seconds of the player's current time.
    double currentTime() const;
    // Seconds of the current item's duration (NaN while unknown), 0 without an item.
    double duration() const;

    PNVideoPtr video() const { return video_.get(); }
    // The video the view holds once its queue has applied the commands given so far: set by
    // setVideo and cleared by reset() at once, on the caller's thread, and cleared on the
    // view's queue by a stop() that lets the video go. An owner deciding which view holds
    // what reads this; video() lags behind until the queue catches up.
    PNVideoPtr targetVideo() const;
    bool isReadyToPlay() const { return isReadyToPlay_.get(); }
    std::optional<std::string> uid() const;
    bool isPreload() const { return isPreload_.load(); }
    bool isThumbShown() const { return isThumbShown_.load(); }
    bool isBuffering() const { return isBuffering_.load(); }
    bool shouldPlay() const { return shouldPlay_.load(); }
    int stallsCount() const { return stallsCount_.load(); }
    bool internalLoadingControl() const { return internalLoadingControl_.load(); }
    void setInternalLoadingControl(bool internal) { internalLoadingControl_ = internal; }
    const platform::PlayerPtr& player() const { return player_; }
    const platform::ui::PlayerLayerPtr& playerLayer() const { return playerLayer_; }
    const std::shared_ptr<platform::ui::ImageView>& thumbImage() const { return thumbImage_; }
    const std::shared_ptr<platform::DispatchQueue>& queue() const { return queue_; }
    std::shared_ptr<PNVideoLoader> loader() const;
    std::vector<std::shared_ptr<PNVideoLoaderListener>> requestListeners() const;
    PNLogger& logger() { return logger_; }
    void setItemFactory(ItemFactory factory);

    void setUID(const std::string& uid);
    void reset();
    // Loads `video` without playing it (preload mode).
    void set(const PNVideoPtr& video);
    void play(const PNVideoPtr& video);
    void play();
    void pause();
    // Rewinds into preload mode a video the player cache holds enough of, else lets the video
    // go (as reset() does); decided on the view's queue, unless a later command came first.
    void stop();
    void seekTo(double seconds);
    void setVideo(const PNVideoPtr& video, bool isPreload);

    bool shouldWaitForLoadingOfRequestedResource(
        platform::AssetResourceLoader& loader,
        const std::shared_ptr<platform::AssetResourceLoadingRequest>& loadingRequest) override;
    void didCancelLoadingRequest(
        platform::AssetResourceLoader& loader,
        const std::shared_ptr<platform::AssetResourceLoadingRequest>& loadingRequest) override;

  protected:
    // Creates the player, its layer and the thumbnail view, then observes the player. Run
    // once by every factory, after the view is owned.
    virtual void setupUI();
    void updateConstraints() override;

    void applyAspectMode();
    void initVideo();
    void setPreloadMode(bool preload);
    void subscribe();
    void unsubscribe();
    void subscribePlayerItem();
    void unsubscribePlayerItem();
    void observeValue(const std::string& keyPath);
    void playerItemPlaybackStalled(const platform::Notification& notification);
    void playerItemDidPlayToEndTime(const platform::Notification& notification);
    void checkBuffer();
    // Plays when the view has the intent and is not preloading, else pauses; the play is
    // decided on the view's queue.
    void applyPlayIntent();

  private:
    std::shared_ptr<PNPlayerView> self();
    std::weak_ptr<PNPlayerView> weakSelf();
    void showThumbnail(const PNVideoPtr& video);
    void setThumbnailImage(platform::ImagePtr image);
    void cancelThumbnailLoad();
    std::string logPrefix() const;
    // True while `item` is still the player's item (a decision queued for it still applies).
    bool isCurrent(const std::weak_ptr<platform::PlayerItem>& item) const;
    template <class Call>
    void tellDelegate(PNPlayerViewDelegate::Method method, Call call);
    // The delegate's events, one typed call each (the delegate is called on this thread).
    void tellReadyToPlay();
    void tellBuffering(bool buffering);
    void tellCurrentTimeChanged();
    void tellPlayStateChanged();
    void tellFailed(PNError error);
    void tellPlayedToEnd();
    // The body of reset(), on the view's queue.
    void resetNow();
    // A command that a stop() given before it must give way to.
    void countCommand();

    std::atomic<PNAspectMode> aspectMode_{PNAspectMode::aspectFill};
    std::atomic<bool> loop_{false};
    std::atomic<bool> muted_{false};
    platform::ObservableProperty<PNVideoPtr> video_{*this, "video"};
    platform::ObservableProperty<bool> isReadyToPlay_{*this, "isReadyToPlay", false};
    std::atomic<bool> isPreload_{false};
    std::atomic<bool> isThumbShown_{false};
    std::atomic<bool> isBuffering_{false};
    std::atomic<bool> shouldPlay_{false};
    std::atomic<int> stallsCount_{0};
    std::atomic<bool> internalLoadingControl_{true};

    platform::PlayerPtr player_;
    platform::ui::PlayerLayerPtr playerLayer_;
    std::shared_ptr<platform::ui::ImageView> thumbImage_;
    const std::shared_ptr<platform::DispatchQueue> queue_;
    PNLogger logger_{PNLoggerType::IPLR};

    mutable std::mutex mutex_;
    platform::WeakDelegate<PNPlayerViewDelegate> delegate_;
    std::optional<std::string> uid_;         // guarded by mutex_
    std::shared_ptr<PNVideoLoader> loader_;  // guarded by mutex_
    // The view made loader_ (no loader of its group was registered): one that steers its own
    // loading takes it out of the registry when it goes.
    bool ownsLoader_ = false;                                               // guarded by mutex_
    std::vector<std::shared_ptr<PNVideoLoaderListener>> requestListeners_;  // guarded by mutex_
    LoadImageSubscriptionPtr thumbLoadSubscription_;                        // guarded by mutex_
    platform::Player::TimeObserverToken timeObserver_;                      // guarded by mutex_
    std::vector<platform::KeyValueObservationPtr> observations_;            // guarded by mutex_
    std::vector<platform::NotificationCenter::RegistrationPtr> itemRegistrations_;  // mutex_
    ItemFactory itemFactory_;  // guarded by mutex_
    PNVideoPtr targetVideo_;   // guarded by mutex_
    // Counts the commands given (setVideo, reset, play, pause), so that a stop() deciding
    // later on the queue does nothing once a newer command has been given.
    std::uint64_t commands_ = 0;  // guarded by mutex_
};

using PNPlayerViewPtr = std::shared_ptr<PNPlayerView>;

}  // namespace pindle
