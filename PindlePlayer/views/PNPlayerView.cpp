#include "PindlePlayer/views/PNPlayerView.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

#include "PindleCore/caches/PNImagesLoader.hpp"
#include "PindleCore/caches/PNLocalVideoCache.hpp"
#include "PindleCore/model/PNError.hpp"
#include "PindlePlayer/loading/PNPlayerCache.hpp"
#include "PindlePlayer/loading/PNVideoLoader.hpp"
#include "PindlePlayer/loading/PNVideoLoaderListener.hpp"
#include "platform/dispatch/MainThread.hpp"
#include "platform/files/FileManager.hpp"
#include "platform/foundation/UUID.hpp"
#include "platform/foundation/Weakly.hpp"
#include "platform/media/AssetResourceLoadingRequest.hpp"

namespace pindle {
namespace {

using platform::ui::View;

constexpr int loaderConcurrency = 1;
constexpr std::int32_t seekTimescale = 1000000;
constexpr std::int32_t observerTimescale = 1000000000;

std::string boolText(bool value) {
    return value ? "true" : "false";
}

// Numbers in log lines print in their shortest form: "10", "0.5".
std::string numberText(double value) {
    return platform::Value(value).plainText().value_or("nan");
}

std::string requestRange(const platform::AssetResourceLoadingRequestPtr& request) {
    auto* data = request ? request->dataRequest() : nullptr;
    return numberText(data ? static_cast<double>(data->requestedOffset()) : 0) + "_" +
           numberText(data ? static_cast<double>(data->requestedLength()) : 0);
}

const char* gravityName(PNAspectMode mode) {
    switch (mode) {
        case PNAspectMode::aspectFit:
            return "resizeAspect";
        case PNAspectMode::aspectFill:
            return "resizeAspectFill";
        case PNAspectMode::stretch:
            return "resize";
    }
    return "resizeAspectFill";
}

const char* timeControlName(platform::Player::TimeControlStatus status) {
    switch (status) {
        case platform::Player::TimeControlStatus::paused:
            return "paused";
        case platform::Player::TimeControlStatus::waitingToPlayAtSpecifiedRate:
            return "waitingToPlayAtSpecifiedRate";
        case platform::Player::TimeControlStatus::playing:
            return "playing";
    }
    return "paused";
}

// The loader of the group `uid`; `made` tells whether this call made it.
std::shared_ptr<PNVideoLoader> loaderFor(const std::string& uid, bool& made) {
    made = false;
    if (auto existing = PNVideoLoader::loader(uid))
        return existing;
    made = true;
    return PNVideoLoader::make(uid, loaderConcurrency);
}

// Runs `work` now on the main thread, else queues it there.
void onMain(std::function<void()> work) {
    if (platform::MainThread::isMainThread())
        work();
    else
        platform::DispatchQueue::main()->async(std::move(work));
}

}  // namespace

std::shared_ptr<PNPlayerView> PNPlayerView::make(const Rect& frame) {
    auto view = std::make_shared<PNPlayerView>(Private{}, frame);
    view->setupUI();
    return view;
}

std::shared_ptr<PNPlayerView> PNPlayerView::make(const platform::ui::Coder& coder) {
    auto view = std::make_shared<PNPlayerView>(Private{}, Rect::zero());
    if (!view->decode(coder))
        return nullptr;
    view->setupUI();
    view->setUID(platform::UUID::random().uuidString());
    return view;
}

std::shared_ptr<PNPlayerView> PNPlayerView::make(const std::string& uid) {
    auto view = make(Rect::zero());
    view->internalLoadingControl_ = false;
    view->setUID(uid);
    return view;
}

std::shared_ptr<PNPlayerView> PNPlayerView::make(const PNVideoPtr& video) {
    auto view = make(Rect::zero());
    view->setUID(platform::UUID::random().uuidString());
    view->setVideo(video, true);
    return view;
}

PNPlayerView::PNPlayerView(Private, const Rect& frame)
    : View(frame),
      queue_(platform::DispatchQueue::create(
          queueLabelPrefix + platform::UUID::random().uuidString(),
          platform::DispatchQueue::Kind::serial, platform::DispatchQoS::background)) {}

PNPlayerView::~PNPlayerView() {
    unsubscribe();
    if (loader_ && ownsLoader_ && internalLoadingControl_)
        PNVideoLoader::unregister(*loader_);
}

std::shared_ptr<PNPlayerView> PNPlayerView::self() {
    return std::static_pointer_cast<PNPlayerView>(shared_from_this());
}

std::weak_ptr<PNPlayerView> PNPlayerView::weakSelf() {
    return self();
}

template <class Call>
void PNPlayerView::tellDelegate(PNPlayerViewDelegate::Method method, Call call) {
    auto target = delegate();
    if (target && target->implements(method))
        call(*target);
}

void PNPlayerView::tellReadyToPlay() {
    tellDelegate(PNPlayerViewDelegate::Method::readyToPlay,
                 [&](PNPlayerViewDelegate& d) { d.pnPlayerViewReadyToPlay(*this); });
}

void PNPlayerView::tellBuffering(bool buffering) {
    tellDelegate(PNPlayerViewDelegate::Method::buffering,
                 [&](PNPlayerViewDelegate& d) { d.pnPlayerViewBuffering(*this, buffering); });
}

void PNPlayerView::tellCurrentTimeChanged() {
    tellDelegate(PNPlayerViewDelegate::Method::currentTimeChanged,
                 [&](PNPlayerViewDelegate& d) { d.pnPlayerViewCurrentTimeChanged(*this); });
}

void PNPlayerView::tellPlayStateChanged() {
    tellDelegate(PNPlayerViewDelegate::Method::playStateDidChange,
                 [&](PNPlayerViewDelegate& d) { d.pnPlayerViewPlayStateDidChange(*this); });
}

void PNPlayerView::tellFailed(PNError error) {
    const int raw = static_cast<int>(error.rawValue());
    tellDelegate(PNPlayerViewDelegate::Method::failedToPlay,
                 [&](PNPlayerViewDelegate& d) { d.pnPlayerViewFailedToPlay(*this, raw); });
}

void PNPlayerView::tellPlayedToEnd() {
    tellDelegate(PNPlayerViewDelegate::Method::didPlayToEnd,
                 [&](PNPlayerViewDelegate& d) { d.pnPlayerViewDidPlayToEnd(*this); });
}

// --- Properties ---

std::shared_ptr<PNPlayerViewDelegate> PNPlayerView::delegate() const {
    return delegate_.get();
}

void PNPlayerView::setDelegate(const std::shared_ptr<PNPlayerViewDelegate>& delegate) {
    delegate_.set(delegate);
}

PNPlayState PNPlayerView::playState() const {
    if (!player_ || player_->status() != platform::Player::Status::readyToPlay)
        return PNPlayState::idle;
    return player_->rate() == 0.0 ? PNPlayState::paused : PNPlayState::playing;
}

void PNPlayerView::setAspectMode(PNAspectMode mode) {
    aspectMode_ = mode;
    applyAspectMode();
}

void PNPlayerView::setMuted(bool muted) {
    muted_ = muted;
    if (player_)
        player_->setMuted(muted);
}

double PNPlayerView::currentTime() const {
    return player_ ? player_->currentTime().seconds() : 0;
}

double PNPlayerView::duration() const {
    auto item = player_ ? player_->currentItem() : nullptr;
    return item ? item->duration().seconds() : 0;
}

std::optional<std::string> PNPlayerView::uid() const {
    std::lock_guard lock(mutex_);
    return uid_;
}

std::shared_ptr<PNVideoLoader> PNPlayerView::loader() const {
    std::lock_guard lock(mutex_);
    return loader_;
}

std::vector<std::shared_ptr<PNVideoLoaderListener>> PNPlayerView::requestListeners() const {
    std::lock_guard lock(mutex_);
    return requestListeners_;
}

void PNPlayerView::setItemFactory(ItemFactory factory) {
    std::lock_guard lock(mutex_);
    itemFactory_ = std::move(factory);
}

// --- Set-up ---

void PNPlayerView::setupUI() {
    player_ = platform::Player::make();
    player_->setAutomaticallyWaitsToMinimizeStalling(false);
    player_->setMuted(muted_);

    playerLayer_ = platform::ui::PlayerLayer::make(player_);
    playerLayer_->setFrame(bounds());
    playerLayer_->setHidden(true);

    thumbImage_ = platform::ui::ImageView::make(bounds());
    thumbImage_->setTranslatesAutoresizingMaskIntoConstraints(false);
    thumbImage_->setAutoresizingMask(View::flexibleWidth | View::flexibleHeight);
    thumbImage_->setHidden(true);
    addSubview(thumbImage_);
    addConstraints({thumbImage_->topAnchor().constraint(topAnchor()),
                    thumbImage_->leadingAnchor().constraint(leadingAnchor()),
                    thumbImage_->trailingAnchor().constraint(trailingAnchor()),
                    thumbImage_->bottomAnchor().constraint(bottomAnchor())});
    // Above the thumbnail.
    layer()->addSublayer(playerLayer_);

    applyAspectMode();
    subscribe();
}

void PNPlayerView::updateConstraints() {
    View::updateConstraints();
    // The layer lives in this view's own coordinates, so it takes the bounds: with the
    // frame, a view placed away from its superview's origin would show its video shifted.
    if (playerLayer_)
        playerLayer_->setFrame(bounds());
}

void PNPlayerView::applyAspectMode() {
    const PNAspectMode mode = aspectMode_;
    logger_.log(std::string("setAspectMode_") + gravityName(mode));
    if (!playerLayer_)
        return;
    using platform::ui::VideoGravity;
    switch (mode) {
        case PNAspectMode::aspectFit:
            playerLayer_->setVideoGravity(VideoGravity::resizeAspect);
            thumbImage_->setContentMode(View::ContentMode::scaleAspectFit);
            break;
        case PNAspectMode::aspectFill:
            playerLayer_->setVideoGravity(VideoGravity::resizeAspectFill);
            thumbImage_->setContentMode(View::ContentMode::scaleAspectFill);
            break;
        case PNAspectMode::stretch:
            playerLayer_->setVideoGravity(VideoGravity::resize);
            thumbImage_->setContentMode(View::ContentMode::scaleToFill);
            break;
    }
}

void PNPlayerView::setUID(const std::string& uid) {
    bool made = false;
    auto shared = loaderFor(uid, made);
    std::shared_ptr<PNVideoLoader> previous;
    bool ownedPrevious = false;
    {
        std::lock_guard lock(mutex_);
        uid_ = uid;
        if (loader_ == shared)
            return;
        previous = std::exchange(loader_, std::move(shared));
        ownedPrevious = std::exchange(ownsLoader_, made);
    }
    // A view that steers its own loading made its loader for itself alone: left registered,
    // it would live, and retry its downloads, for the rest of the process.
    if (previous && ownedPrevious && internalLoadingControl_)
        PNVideoLoader::unregister(*previous);
}

// --- Commands ---

void PNPlayerView::set(const PNVideoPtr& video) {
    setVideo(video, true);
}

void PNPlayerView::play(const PNVideoPtr& video) {
    setVideo(video, false);
}

void PNPlayerView::play() {
    logger_.log("play");
    countCommand();
    queue_->async([self = self()] {
        self->shouldPlay_ = true;
        self->setPreloadMode(false);
        self->player_->play();
    });
}

void PNPlayerView::pause() {
    logger_.log("pause");
    countCommand();
    queue_->async(platform::weakly(this, [](PNPlayerView& self) {
        self.shouldPlay_ = false;
        if (self.isReadyToPlay())
            self.player_->pause();
        else
            self.isPreload_ = true;
    }));
}

void PNPlayerView::stop() {
    logger_.log("stop");
    std::uint64_t stamp;
    {
        std::lock_guard lock(mutex_);
        stamp = commands_;
    }
    queue_->async([self = self(), stamp] {
        PNVideoPtr video = self->video();
        if (!video)
            return;
        const bool cached =
            PNPlayerCache::shared()->getClosestPreloadedResolution(*video).has_value();
        {
            std::lock_guard lock(self->mutex_);
            // A command given since the stop (the owner switched back to this view, or gave
            // it another video) is what the owner wants now.
            if (self->commands_ != stamp)
                return;
            // Decided with the lock held: a command given from here on finds the target as
            // this stop leaves it.
            if (!cached)
                self->targetVideo_ = nullptr;
        }
        self->shouldPlay_ = false;
        if (cached) {
            self->setPreloadMode(true);
            self->initVideo();
            return;
        }
        self->logger_.log("reset");
        self->resetNow();
    });
}

void PNPlayerView::countCommand() {
    std::lock_guard lock(mutex_);
    ++commands_;
}

void PNPlayerView::seekTo(double seconds) {
    logger_.log("seek_" + numberText(seconds));
    queue_->async([self = self(), seconds] {
        self->player_->seek(platform::MediaTime::makeWithSeconds(seconds, seekTimescale));
    });
}

void PNPlayerView::reset() {
    logger_.log("reset");
    {
        std::lock_guard lock(mutex_);
        targetVideo_ = nullptr;
        ++commands_;
    }
    queue_->async([self = self()] { self->resetNow(); });
}

void PNPlayerView::resetNow() {
    video_.set(nullptr);
    isReadyToPlay_.set(false);
    shouldPlay_ = false;
    isBuffering_ = false;
    stallsCount_ = 0;
    logger_.removePreffix();
    cancelThumbnailLoad();
    platform::DispatchQueue::main()->async([self = self()] {
        self->thumbImage_->setImage(nullptr);
        self->thumbImage_->setHidden(true);
        self->isThumbShown_ = false;
        self->playerLayer_->setHidden(true);
        self->setBackgroundColor(platform::ui::Color::clear());
        self->unsubscribePlayerItem();
        self->player_->replaceCurrentItem(nullptr);
    });
}

PNVideoPtr PNPlayerView::targetVideo() const {
    std::lock_guard lock(mutex_);
    return targetVideo_;
}

void PNPlayerView::setVideo(const PNVideoPtr& video, bool isPreload) {
    if (!video)
        return;
    logger_.log("setVideo_" + video->videoID() + "_" + boolText(isPreload));
    if (!uid()) {
        logger_.log("no_uid");
        return;
    }
    {
        std::lock_guard lock(mutex_);
        targetVideo_ = video;
        ++commands_;
    }
    queue_->async([self = self(), video, isPreload] {
        if (self->internalLoadingControl_) {
            if (auto loader = self->loader())
                loader->setVideosToPreload({video});
        }
        self->video_.set(video);
        self->setPreloadMode(isPreload);
        self->isReadyToPlay_.set(false);
        self->shouldPlay_ = !self->isPreload_;
        // A stall of the previous video says nothing of this one.
        self->isBuffering_ = false;
        self->stallsCount_ = 0;
        self->logger_.addPrefix(video->videoID());
        self->cancelThumbnailLoad();
        platform::DispatchQueue::main()->async(
            platform::weakly(self, [video](PNPlayerView& view) { view.showThumbnail(video); }));
        self->initVideo();
    });
}

void PNPlayerView::setPreloadMode(bool preload) {
    logger_.log("setPreloadMode_" + boolText(preload));
    isPreload_ = preload;
    PNVideoPtr current = video();
    if (internalLoadingControl_ && current) {
        if (auto loader = this->loader())
            loader->setPreload(current->videoID(), preload);
    }
}

// --- Thumbnail (main queue) ---

void PNPlayerView::cancelThumbnailLoad() {
    LoadImageSubscriptionPtr subscription;
    {
        std::lock_guard lock(mutex_);
        subscription = std::move(thumbLoadSubscription_);
    }
    if (subscription)
        subscription->cancelIt();
}

void PNPlayerView::setThumbnailImage(platform::ImagePtr image) {
    thumbImage_->setImage(std::move(image));
}

void PNPlayerView::showThumbnail(const PNVideoPtr& video) {
    setBackgroundColor(platform::ui::Color::clear());
    platform::ImagePtr cached;
    if (auto data = PNPlayerCache::shared()->thumbData(video->videoID()))
        cached = platform::Image::fromData(*data);
    if (cached) {
        setThumbnailImage(cached);
        thumbImage_->setHidden(false);
        isThumbShown_ = true;
    } else if (const auto& url = video->thumbnailImageURL()) {
        setThumbnailImage(nullptr);
        thumbImage_->setHidden(false);
        isThumbShown_ = true;
        auto subscription = PNImagesLoader::shared().image(
            *url, [weak = weakSelf()](const platform::ImagePtr& image) {
                if (!image)
                    return;
                onMain(platform::weakly(
                    weak, [image](PNPlayerView& view) { view.setThumbnailImage(image); }));
            });
        std::lock_guard lock(mutex_);
        thumbLoadSubscription_ = std::move(subscription);
    } else {
        setThumbnailImage(nullptr);
        thumbImage_->setHidden(true);
        isThumbShown_ = false;
    }
    if (isThumbShown_)
        playerLayer_->setHidden(true);
    logger_.log("img_thumb_" + boolText(isThumbShown_));
}

// --- The item (main queue) ---

void PNPlayerView::initVideo() {
    logger_.log("initVideo");
    platform::DispatchQueue::main()->async(platform::weakly(this, [](PNPlayerView& self) {
        self.unsubscribePlayerItem();
        self.playerLayer_->setHidden(true);
        PNVideoPtr video = self.video();
        if (!video)
            return;
        const auto uid = self.uid();
        if (!uid) {
            self.logger_.log("no_uid");
            return;
        }
        bool playable = video->mp4URL(PNVideoResolution::r720p).has_value();
        if (!playable) {
            auto recording = PNLocalVideoCache::shared().pathForMOVVideoCache(video->videoID());
            playable =
                recording && platform::FileManager::defaultManager().fileExists(recording->path());
        }
        const auto unavailable = [&] {
            self.player_->replaceCurrentItem(nullptr);
            self.tellFailed(PNError(PNError::videoUnavailable));
        };
        if (!playable) {
            unavailable();
            return;
        }
        auto url = platform::URL::fromString(std::string(scheme) + *uid + "/" + video->videoID());
        if (!url) {
            // An identifier that makes no address can never be loaded: say so rather than
            // wait for bytes that will not come.
            self.logger_.log("bad_url");
            unavailable();
            return;
        }
        auto asset = platform::URLAsset::make(*url);
        asset->resourceLoader().setDelegate(
            std::static_pointer_cast<platform::AssetResourceLoaderDelegate>(self.self()),
            platform::DispatchQueue::main());
        ItemFactory factory;
        {
            std::lock_guard lock(self.mutex_);
            factory = self.itemFactory_;
        }
        auto item = factory ? factory(asset) : platform::PlayerItem::make(asset);
        item->setPreferredForwardBufferDuration(preferredForwardBufferDuration);
        self.player_->replaceCurrentItem(item);
        self.subscribePlayerItem();
        self.player_->play();
        // An item that was ready before play() (its data already at hand) has had its play
        // intent applied already; apply it again so that play() does not override it.
        if (item->status() == platform::PlayerItem::Status::readyToPlay)
            self.applyPlayIntent();
    }));
    ;
}

// --- Resource loader delegate (main queue) ---

bool PNPlayerView::shouldWaitForLoadingOfRequestedResource(
    platform::AssetResourceLoader&, const platform::AssetResourceLoadingRequestPtr& request) {
    logger_.log("add_request_" + requestRange(request));
    auto loader = this->loader();
    if (!loader)
        return true;
    auto listener = PNVideoLoaderListener::make(loader, request);
    std::lock_guard lock(mutex_);
    requestListeners_.push_back(std::move(listener));
    return true;
}

void PNPlayerView::didCancelLoadingRequest(
    platform::AssetResourceLoader&, const platform::AssetResourceLoadingRequestPtr& request) {
    logger_.log("remove_request_" + requestRange(request));
    // cancel() logs "listener_destroy", finishes the request once, takes the listener off
    // its loader and deactivates it.
    for (const auto& listener : requestListeners()) {
        if (listener->loadingRequest() == request)
            listener->cancel();
    }
    std::lock_guard lock(mutex_);
    requestListeners_.erase(
        std::remove_if(requestListeners_.begin(), requestListeners_.end(),
                       [](const auto& listener) { return !listener->isActive(); }),
        requestListeners_.end());
}

// --- Observation ---

void PNPlayerView::subscribe() {
    const unsigned options = platform::KVOOption::newValue | platform::KVOOption::initial;
    std::vector<platform::KeyValueObservationPtr> made;
    for (const char* keyPath :
         {"status", "timeControlStatus", "currentItem.status", "currentItem.playbackBufferEmpty",
          "currentItem.loadedTimeRanges"}) {
        made.push_back(player_->observe(
            keyPath, options,
            platform::weakly(this, [](PNPlayerView& self, const platform::KVOChange& change) {
                if (change.object.get() == self.player_.get())
                    self.observeValue(change.keyPath);
            })));
    }
    auto token = player_->addPeriodicTimeObserver(
        platform::MediaTime::makeWithSeconds(timeObserverInterval, observerTimescale), queue_,
        platform::weakly(this, [](PNPlayerView& self, platform::MediaTime) {
            if (!(self.player_->rate() > 0.0) || self.isPreload_)
                return;
            self.tellCurrentTimeChanged();
        }));
    std::lock_guard lock(mutex_);
    observations_.insert(observations_.end(), made.begin(), made.end());
    timeObserver_ = std::move(token);
}

void PNPlayerView::unsubscribe() {
    std::vector<platform::KeyValueObservationPtr> observations;
    platform::Player::TimeObserverToken token;
    {
        std::lock_guard lock(mutex_);
        observations.swap(observations_);
        token = std::move(timeObserver_);
    }
    for (const auto& observation : observations) {
        if (player_)
            player_->removeObservation(observation);
    }
    if (token && player_)
        player_->removeTimeObserver(token);
    unsubscribePlayerItem();
}

void PNPlayerView::subscribePlayerItem() {
    auto item = player_->currentItem();
    if (!item)
        return;
    auto& center = platform::NotificationCenter::defaultCenter();
    auto stalled = center.addObserverForName(
        platform::PlayerItem::playbackStalledNotification, item.get(), nullptr,
        platform::weakly(this, [](PNPlayerView& self, const platform::Notification& n) {
            self.playerItemPlaybackStalled(n);
        }));
    auto ended = center.addObserverForName(
        platform::PlayerItem::didPlayToEndTimeNotification, item.get(), nullptr,
        platform::weakly(this, [](PNPlayerView& self, const platform::Notification& n) {
            self.playerItemDidPlayToEndTime(n);
        }));
    std::lock_guard lock(mutex_);
    itemRegistrations_.push_back(std::move(stalled));
    itemRegistrations_.push_back(std::move(ended));
}

void PNPlayerView::unsubscribePlayerItem() {
    std::vector<platform::NotificationCenter::RegistrationPtr> registrations;
    {
        std::lock_guard lock(mutex_);
        registrations.swap(itemRegistrations_);
    }
    for (const auto& registration : registrations) registration->remove();
}

void PNPlayerView::observeValue(const std::string& keyPath) {
    if (keyPath == "currentItem.status") {
        auto item = player_->currentItem();
        if (item && item->status() == platform::PlayerItem::Status::failed) {
            // Bytes that are not media, or a load that ended in an error: the item never
            // becomes ready, so the owner hears it rather than wait for good.
            const auto error = item->error();
            logger_.log("notes__failed_" + (error ? error->description() : std::string("nil")));
            tellFailed(PNError(PNError::videoLoadFailed));
            return;
        }
        if (!item || item->status() != platform::PlayerItem::Status::readyToPlay)
            return;
        logger_.log("notes__first_frame_" + boolText(isPreload_));
        isReadyToPlay_.set(true);
        tellReadyToPlay();
        if (playerLayer_->isHidden()) {
            platform::DispatchQueue::main()->async(platform::weakly(
                this, [](PNPlayerView& self) { self.playerLayer_->setHidden(false); }));
        }
        applyPlayIntent();
    } else if (keyPath == "timeControlStatus") {
        if (player_->status() != platform::Player::Status::readyToPlay)
            return;
        logger_.log(std::string("notes__playback_state_") +
                    timeControlName(player_->timeControlStatus()));
        tellPlayStateChanged();
    } else if (keyPath == "currentItem.playbackBufferEmpty" ||
               keyPath == "currentItem.loadedTimeRanges") {
        checkBuffer();
    }
}

void PNPlayerView::applyPlayIntent() {
    // Called from the player's threads, while the commands change the intent on the view's
    // queue. Pausing at once is always safe; playing is decided on the view's queue, so that
    // a pause() queued before the decision wins, and a play() that this read missed is seen.
    if (isPreload_ || !shouldPlay_)
        player_->pause();
    queue_->async(
        platform::weakly(this, [item = std::weak_ptr(player_->currentItem())](PNPlayerView& self) {
            if (!self.isCurrent(item))
                return;
            if (!self.isPreload_ && self.shouldPlay_)
                self.player_->play();
            else
                self.player_->pause();
        }));
}

bool PNPlayerView::isCurrent(const std::weak_ptr<platform::PlayerItem>& item) const {
    auto current = player_->currentItem();
    return current && current == item.lock();
}

void PNPlayerView::playerItemPlaybackStalled(const platform::Notification&) {
    logger_.log("notes__load_state_stalling");
    isBuffering_ = true;
    ++stallsCount_;
    // The play intent survives the stall: checkBuffer resumes on it.
    player_->pause();
    tellBuffering(true);
}

void PNPlayerView::checkBuffer() {
    auto item = player_->currentItem();
    if (!isBuffering_ || !item)
        return;
    const double t = player_->currentTime().seconds();
    const int stalls = stallsCount_;
    double buffered = 0;
    for (const auto& range : item->loadedTimeRanges()) {
        const double start = range.start.seconds();
        const double end = range.end().seconds();
        if (end > t)
            buffered += end - std::max(t, start);
    }
    logger_.log("notes__buffer__" + boolText(shouldPlay_) + "_" + numberText(buffered) + "_" +
                numberText(t));
    if (item->isPlaybackBufferEmpty())
        return;
    const double need = std::min(static_cast<double>(stalls), maxBufferNeed);
    const double remaining = item->duration().seconds() - t;
    // An unknown duration (NaN) leaves the need as it is.
    const double threshold = remaining < need ? remaining : need;
    if (buffered < threshold)
        return;
    // The loaded ranges and the buffer-empty flag can be announced on different threads:
    // only one of them ends the stall.
    bool buffering = true;
    if (!isBuffering_.compare_exchange_strong(buffering, false))
        return;
    tellBuffering(false);
    logger_.log("notes__load_state_buffered");
    // The play intent is read on the view's queue, in order with pause() and the other
    // commands: read here, a pause() could clear it between the read and the play, and a
    // pause() still waiting on the queue would be overtaken.
    queue_->async(platform::weakly(this, [item = std::weak_ptr(item)](PNPlayerView& self) {
        if (self.shouldPlay_ && !self.isBuffering_ && self.isCurrent(item))
            self.player_->play();
    }));
}

void PNPlayerView::playerItemDidPlayToEndTime(const platform::Notification&) {
    logger_.log("did_finish__" + numberText(player_->currentTime().seconds()));
    if (loop_) {
        // The restart reads the intent on the view's queue, behind any pause() that the host
        // asked for before it: a paused view rewinds but stays paused.
        queue_->async([self = self()] {
            self->player_->seek(platform::MediaTime::zero());
            if (self->shouldPlay_)
                self->player_->play();
        });
    } else {
        shouldPlay_ = false;
    }
    tellPlayedToEnd();
}

}  // namespace pindle
