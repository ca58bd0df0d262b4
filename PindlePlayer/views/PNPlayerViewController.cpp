#include "PindlePlayer/views/PNPlayerViewController.hpp"

#include <chrono>
#include <cmath>
#include <sstream>

#include "PindleCore/caches/PNThroughputManager.hpp"
#include "PindleCore/model/PNNotificationNames.hpp"
#include "PindlePlayer/loading/PNPlayerCache.hpp"
#include "PindlePlayer/views/PNPlayerControlPanelControlViewController.hpp"
#include "PindlePlayer/views/PNPlayerVolumeIndicatorViewController.hpp"
#include "PindlePlayer/views/private/PNPlayerBuffering.hpp"
#include "PindlePlayer/views/private/PNPlayerControllerEvents.hpp"
#include "PindlePlayer/views/private/PNPlayerPanelBinding.hpp"
#include "PindlePlayer/views/private/PNPlayerStoryboard.hpp"
#include "PindlePlayer/views/private/PNPlayerTransitions.hpp"
#include "PindlePlayer/views/private/PNPlayerViewControllerListener.hpp"
#include "PindlePlayer/views/private/PNPlayerViewPool.hpp"
#include "platform/dispatch/Clock.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/foundation/NotificationCenter.hpp"
#include "platform/foundation/UUID.hpp"
#include "platform/foundation/Weakly.hpp"
#include "platform/ui/LayoutConstraint.hpp"
#include "platform/ui/Storyboard.hpp"

namespace pindle {

namespace ui = platform::ui;
using platform::DispatchQueue;
using platform::Value;

namespace {

constexpr double seekQuietTime = 0.3;
constexpr int loaderRequests = 2;
constexpr int sharedLoaderRequests = 1;

double secondsSince1970() {
    return platform::Clock::current()->now().timeIntervalSince1970();
}

// Seconds of a duration that can be used as one: finite and above 0, else 0.
double usable(double seconds) {
    return std::isfinite(seconds) && seconds > 0 ? seconds : 0;
}

// The duration of the view's current item, 0 when there is none or it is not known yet.
double itemDuration(const PNPlayerView& view) {
    auto player = view.player();
    auto item = player ? player->currentItem() : nullptr;
    return item ? usable(item->duration().seconds()) : 0;
}

std::string shortest(double value) {
    std::ostringstream out;
    out << value;
    return out.str();
}

}  // namespace

// ---- the lock and deferred calls ----

// Holds the controller's lock; calls that must not run under it wait until the outermost
// hold on this thread ends.
class PNPlayerViewController::Hold {
  public:
    explicit Hold(PNPlayerViewController& controller);
    ~Hold();
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

  private:
    PNPlayerViewController& controller_;
};

PNPlayerViewController::Hold::Hold(PNPlayerViewController& controller) : controller_(controller) {
    controller_.lock_.lock();
    if (controller_.holdDepth_++ == 0)
        controller_.holder_ = std::this_thread::get_id();
}

PNPlayerViewController::Hold::~Hold() {
    std::vector<std::function<void()>> calls;
    if (--controller_.holdDepth_ == 0) {
        controller_.holder_ = std::thread::id{};
        calls.swap(controller_.deferred_);
    }
    controller_.lock_.unlock();
    for (auto& call : calls) call();
}

void PNPlayerViewController::callOut(std::function<void()> call) {
    if (holder_.load() == std::this_thread::get_id()) {
        std::lock_guard lock(lock_);  // ours already: only orders the access
        deferred_.push_back(std::move(call));
        return;
    }
    call();
}

void PNPlayerViewController::announce(const char* key) {
    callOut(platform::weakly(this, [key](PNPlayerViewController& self) {
        self.willChangeValueForKey(key);
        self.didChangeValueForKey(key);
    }));
}

PNPlayerControllerEvents PNPlayerViewController::events() {
    return PNPlayerControllerEvents(
        weakSelf(), [this](std::function<void()> call) { callOut(std::move(call)); });
}

// ---- construction and properties ----

PNPlayerViewController::PNPlayerViewController(std::string nibName,
                                               platform::ResourceBundlePtr bundle)
    : ViewController(std::move(nibName), std::move(bundle)),
      playerView_(ui::View::make()),
      spinner_(ui::ActivityIndicatorView::make(ui::ActivityIndicatorView::Style::whiteLarge)),
      buffering_(PNPlayerBuffering::make()),
      transitions_(PNPlayerTransitions::make()),
      panel_(PNPlayerPanelBinding::make()),
      pool_(std::make_unique<PNPlayerViewPool>()),
      listener_(std::make_unique<Listener>(*this)),
      logger_(PNLoggerType::PLR),
      uid_(platform::UUID::random().uuidString()) {}

PNPlayerViewController::PNPlayerViewController(const ui::Coder& coder)
    : ViewController(coder),
      playerView_(ui::View::make()),
      spinner_(ui::ActivityIndicatorView::make(ui::ActivityIndicatorView::Style::whiteLarge)),
      buffering_(PNPlayerBuffering::make()),
      transitions_(PNPlayerTransitions::make()),
      panel_(PNPlayerPanelBinding::make()),
      pool_(std::make_unique<PNPlayerViewPool>()),
      listener_(std::make_unique<Listener>(*this)),
      logger_(PNLoggerType::PLR),
      uid_(platform::UUID::random().uuidString()) {}

PNPlayerViewController::~PNPlayerViewController() {
    // Left registered, a loader of its own would live, and retry its downloads, for the rest
    // of the process.
    if (videoLoader_ && ownsVideoLoader_)
        PNVideoLoader::unregister(*videoLoader_);
}

std::shared_ptr<PNPlayerViewController> PNPlayerViewController::self() {
    return std::static_pointer_cast<PNPlayerViewController>(shared_from_this());
}

std::weak_ptr<PNPlayerViewController> PNPlayerViewController::weakSelf() {
    return self();
}

std::shared_ptr<PNPlayerViewController::Listener> PNPlayerViewController::listener() {
    // Shares the controller's ownership: a weak holder's pointer expires with the controller.
    return std::shared_ptr<Listener>(self(), listener_.get());
}

Value PNPlayerViewController::valueForKey(std::string_view key) const {
    std::lock_guard lock(lock_);
    if (key == "aspectMode")
        return Value(static_cast<int>(aspectMode_));
    if (key == "muted")
        return Value(muted_);
    if (key == "loop")
        return Value(loop_);
    if (key == "playState")
        return Value(static_cast<int>(playState_));
    if (key == "currentTime")
        return Value(currentTime_);
    if (key == "duration")
        return Value(duration_);
    if (key == "video")
        return video_ ? Value(video_->videoID()) : Value();
    return ViewController::valueForKey(key);
}

PNAspectMode PNPlayerViewController::aspectMode() const {
    std::lock_guard lock(lock_);
    return aspectMode_;
}

void PNPlayerViewController::setAspectMode(PNAspectMode mode) {
    Hold hold(*this);
    aspectMode_ = mode;
    for (const auto& view : pool_->views()) view->setAspectMode(mode);
    announce("aspectMode");
}

bool PNPlayerViewController::muted() const {
    std::lock_guard lock(lock_);
    return muted_;
}

void PNPlayerViewController::setMuted(bool muted) {
    Hold hold(*this);
    muted_ = muted;
    for (const auto& view : pool_->views()) view->setMuted(muted);  // the view mutes its player too
    announce("muted");
}

bool PNPlayerViewController::loop() const {
    std::lock_guard lock(lock_);
    return loop_;
}

void PNPlayerViewController::setLoop(bool loop) {
    Hold hold(*this);
    loop_ = loop;
    for (const auto& view : pool_->views()) view->setLoop(loop);
    announce("loop");
}

std::shared_ptr<PNPlayerViewControllerDelegate> PNPlayerViewController::delegate() const {
    return delegate_.get();
}

void PNPlayerViewController::setDelegate(std::weak_ptr<PNPlayerViewControllerDelegate> delegate) {
    delegate_.set(std::move(delegate));
}

bool PNPlayerViewController::showControls() const {
    return panel_->showControls();
}

void PNPlayerViewController::setShowControls(bool show) {
    panel_->setShowControls(show);
}

bool PNPlayerViewController::showSpinner() const {
    return buffering_->showSpinner();
}

void PNPlayerViewController::setShowSpinner(bool show) {
    buffering_->setShowSpinner(show);
}

bool PNPlayerViewController::isAnimating() const {
    return transitions_->isAnimating();
}

void PNPlayerViewController::setShowErrorMessages(bool show) {
    showErrorMessages_ = show;
    if (!show)
        toggleErrorMessage(std::nullopt);
}

bool PNPlayerViewController::showButtonsControls() const {
    return panel_->showButtonsControls();
}

void PNPlayerViewController::setShowButtonsControls(bool show) {
    panel_->setShowButtonsControls(show);
}

std::string PNPlayerViewController::uid() const {
    std::lock_guard lock(lock_);
    return uid_;
}

void PNPlayerViewController::setUid(std::string uid) {
    std::lock_guard lock(lock_);
    uid_ = std::move(uid);
}

int PNPlayerViewController::playersCount() const {
    std::lock_guard lock(lock_);
    return playersCount_;
}

void PNPlayerViewController::setPlayersCount(int count) {
    std::lock_guard lock(lock_);
    playersCount_ = count;
}

int PNPlayerViewController::videosPreloadCount() const {
    std::lock_guard lock(lock_);
    return videosPreloadCount_;
}

void PNPlayerViewController::setVideosPreloadCount(int count) {
    std::lock_guard lock(lock_);
    videosPreloadCount_ = count;
}

void PNPlayerViewController::setInternalLoadingControl(bool internal) {
    internalLoadingControl_ = internal;
}

void PNPlayerViewController::setHoldLastPic(bool hold) {
    holdLastPic_ = hold;
}

void PNPlayerViewController::setItemFactory(PNPlayerView::ItemFactory factory) {
    std::lock_guard lock(lock_);
    itemFactory_ = std::move(factory);
}

PNVideoPtr PNPlayerViewController::video() const {
    std::lock_guard lock(lock_);
    return video_;
}

void PNPlayerViewController::setVideo(PNVideoPtr video) {
    {
        Hold hold(*this);
        video_ = std::move(video);
        announce("video");
    }
    updateButtons();
}

PNPlaylistPtr PNPlayerViewController::playlist() const {
    std::lock_guard lock(lock_);
    return playbackQueue_ ? playbackQueue_->playlist() : nullptr;
}

std::int64_t PNPlayerViewController::playlistIndex() const {
    auto queue = playbackQueue();
    return queue ? queue->videoIndex() : 0;
}

bool PNPlayerViewController::isReadyToPlay() const {
    auto current = currentPlayer();
    return current && current->isReadyToPlay();
}

PNPlayState PNPlayerViewController::playState() const {
    std::lock_guard lock(lock_);
    return playState_;
}

double PNPlayerViewController::currentTime() const {
    std::lock_guard lock(lock_);
    return currentTime_;
}

double PNPlayerViewController::duration() const {
    std::lock_guard lock(lock_);
    return duration_;
}

std::shared_ptr<PNVideoLoader> PNPlayerViewController::videoLoader() const {
    std::lock_guard lock(lock_);
    return videoLoader_;
}

std::vector<std::shared_ptr<PNPlayerView>> PNPlayerViewController::players() const {
    return pool_->views();
}

std::shared_ptr<PNPlayerView> PNPlayerViewController::currentPlayer() const {
    return pool_->current();
}

std::shared_ptr<PNPlaybackQueue> PNPlayerViewController::playbackQueue() const {
    std::lock_guard lock(lock_);
    return playbackQueue_;
}

bool PNPlayerViewController::isCurrent(const PNPlayerView& view) const {
    return pool_->isCurrent(view);
}

PNVideoPtr PNPlayerViewController::shownVideo() const {
    if (auto single = video())
        return single;
    auto current = pool_->current();
    // What the view was last told to show: its own video() lags until its queue applies it.
    return current ? current->targetVideo() : nullptr;
}

bool PNPlayerViewController::shownVideoFailed() const {
    auto shown = shownVideo();
    std::lock_guard lock(lock_);
    return shown && videoErrors_.count(shown->videoID()) > 0;
}

// ---- loading the view ----

namespace {

// The control panel and the volume indicator, from the player library's storyboard.
struct Controls {
    std::shared_ptr<PNPlayerControlPanelControlViewController> panel;
    std::shared_ptr<PNPlayerVolumeIndicatorViewController> volumeIndicator;
};

// A scene of another class leaves its part empty.
Controls instantiateControls() {
    Controls controls;
    auto storyboard =
        ui::Storyboard::named(PNPlayerStoryboard::storyboardName, PNPlayerStoryboard::bundle());
    if (!storyboard)
        return controls;
    controls.panel = std::dynamic_pointer_cast<PNPlayerControlPanelControlViewController>(
        storyboard->instantiateViewController(PNPlayerStoryboard::controlViewScene));
    controls.volumeIndicator = std::dynamic_pointer_cast<PNPlayerVolumeIndicatorViewController>(
        storyboard->instantiateViewController(PNPlayerStoryboard::volumeIndicatorScene));
    return controls;
}

// The container of the player views fills the root view and takes its size changes along.
void fillContainer(ui::View& container, const ui::Rect& bounds) {
    container.setFrame(bounds);
    container.setAutoresizingMask(ui::View::flexibleWidth | ui::View::flexibleHeight);
    container.setAutoresizesSubviews(true);
}

// Hidden until the video on screen fails; centred on the root view.
ui::LabelPtr makeErrorLabel(ui::View& root) {
    auto label = ui::Label::make(root.bounds());
    label->setTextColor(ui::Color::whiteColor());
    label->setTranslatesAutoresizingMaskIntoConstraints(false);
    label->setHidden(true);
    root.addSubview(label);
    root.addConstraints({label->centerXAnchor().constraint(root.centerXAnchor()),
                         label->centerYAnchor().constraint(root.centerYAnchor())});
    return label;
}

// The dimming layer that carries the spinner: over the whole root view, transparent until
// buffering shows it.
ui::ViewPtr makeSpinnerView(ui::View& root, const ui::ActivityIndicatorViewPtr& spinner) {
    auto spinnerView = ui::View::make(root.bounds());
    spinnerView->setTranslatesAutoresizingMaskIntoConstraints(false);
    spinnerView->setAutoresizingMask(ui::View::flexibleWidth | ui::View::flexibleHeight);
    spinnerView->setBackgroundColor(ui::Color::white(0, 0.5));
    spinnerView->layer()->setOpacity(0);
    spinner->setTranslatesAutoresizingMaskIntoConstraints(false);
    spinner->startAnimating();
    spinnerView->addSubview(spinner);
    spinnerView->addConstraints(
        {spinner->centerXAnchor().constraint(spinnerView->centerXAnchor()),
         spinner->centerYAnchor().constraint(spinnerView->centerYAnchor())});
    root.addSubview(spinnerView);
    root.addConstraints({spinnerView->topAnchor().constraint(root.topAnchor()),
                         spinnerView->leadingAnchor().constraint(root.leadingAnchor()),
                         spinnerView->trailingAnchor().constraint(root.trailingAnchor()),
                         spinnerView->bottomAnchor().constraint(root.bottomAnchor())});
    return spinnerView;
}

// From back to front: the player views, the spinner, the volume indicator, the control panel,
// then the error label that was already there.
void stack(ui::View& root, const ui::ViewPtr& players, const ui::ViewPtr& spinnerView,
           const ui::ViewPtr& volumeView, const ui::ViewPtr& controlView) {
    root.addSubview(players);
    if (volumeView)
        root.addSubview(volumeView);
    if (controlView)
        root.addSubview(controlView);
    if (controlView)
        root.sendSubviewToBack(controlView);
    if (volumeView)
        root.sendSubviewToBack(volumeView);
    root.sendSubviewToBack(spinnerView);
    root.sendSubviewToBack(players);
}

// The volume bar along the top, the player views over everything, the panel near the bottom.
void constrain(const ui::ViewPtr& players, const ui::ViewPtr& volumeView,
               const ui::ViewPtr& controlView) {
    players->setTranslatesAutoresizingMaskIntoConstraints(false);
    std::map<std::string, ui::ViewPtr> views{{"player", players}};
    if (volumeView)
        views["volume"] = volumeView;
    if (controlView)
        views["control"] = controlView;
    std::vector<ui::LayoutConstraintPtr> constraints;
    for (const char* format : {"V:|[volume(==50)]", "H:|[volume]|", "H:|[player]|", "V:|[player]|",
                               "V:[control(80)]-30-|", "H:|-20-[control]-20-|"}) {
        auto made = ui::LayoutConstraint::constraintsWithVisualFormat(format, 0, {}, views);
        constraints.insert(constraints.end(), made.begin(), made.end());
    }
    ui::LayoutConstraint::activate(constraints);
}

}  // namespace

void PNPlayerViewController::configure(PNPlayerView& view) const {
    view.setInternalLoadingControl(false);
    view.setUID(uid_);
    view.setAspectMode(aspectMode_);
    view.setMuted(muted_);
    view.setLoop(loop_);
    if (itemFactory_)
        view.setItemFactory(itemFactory_);
}

void PNPlayerViewController::viewDidLoad() {
    ViewController::viewDidLoad();
    auto root = view();
    makeVideoLoader();
    root->setBackgroundColor(ui::Color::clear());
    fillContainer(*playerView_, root->bounds());
    auto label = makeErrorLabel(*root);
    {
        std::lock_guard lock(lock_);
        errorLabel_ = label;
    }
    auto spinnerView = makeSpinnerView(*root, spinner_);
    buffering_->attach(spinnerView);
    bindParts();

    const Controls controls = instantiateControls();
    if (controls.panel)
        controls.panel->setDelegate(listener());
    panel_->attachVolumeIndicator(controls.volumeIndicator);
    buildPlayerViews();

    ui::ViewPtr volumeView = controls.volumeIndicator ? controls.volumeIndicator->view() : nullptr;
    ui::ViewPtr controlView = controls.panel ? controls.panel->view() : nullptr;
    stack(*root, playerView_, spinnerView, volumeView, controlView);
    if (controls.panel)
        addChild(controls.panel);
    if (controls.volumeIndicator)
        addChild(controls.volumeIndicator);
    constrain(playerView_, volumeView, controlView);

    if (controlView)
        controlView->setHidden(!panel_->showControls());
    if (volumeView)
        volumeView->setHidden(!panel_->showControls());
    // Settings given before the panel existed apply now.
    if (controls.panel)
        panel_->attachPanel(controls.panel);
    updateButtons();
}

void PNPlayerViewController::makeVideoLoader() {
    // Only this step stores the loader, once: the registry is asked with the lock released.
    std::string uid;
    {
        std::lock_guard lock(lock_);
        uid = uid_;
    }
    const bool internal = internalLoadingControl_;
    auto loader = internal ? nullptr : PNVideoLoader::loader(uid);
    const bool own = !loader;
    if (own)
        loader = PNVideoLoader::make(uid, internal ? loaderRequests : sharedLoaderRequests);
    std::lock_guard lock(lock_);
    videoLoader_ = std::move(loader);
    ownsVideoLoader_ = own;
}

void PNPlayerViewController::bindParts() {
    auto weak = weakSelf();
    PNPlayerBuffering::Hooks hooks;
    hooks.currentView = [weak]() -> std::shared_ptr<PNPlayerView> {
        // by hand: answers a value, or what holds once the controller has gone
        auto self = weak.lock();
        return self ? self->currentPlayer() : nullptr;
    };
    hooks.shownVideoFailed = [weak] {
        // by hand: answers a value, or what holds once the controller has gone
        auto self = weak.lock();
        return self && self->shownVideoFailed();
    };
    hooks.report = platform::weakly(this, [](PNPlayerViewController& self, bool buffering) {
        self.events().buffering(buffering);
    });
    buffering_->bind(std::move(hooks));

    PNPlayerTransitions::Hooks shown;
    shown.views = [weak] {
        // by hand: answers a value, or what holds once the controller has gone
        auto self = weak.lock();
        return self ? self->players() : std::vector<std::shared_ptr<PNPlayerView>>{};
    };
    shown.currentShown = platform::weakly(
        this, [](PNPlayerViewController& self) { self.pool_->markCurrentShown(); });
    shown.isCurrent = [weak](const PNPlayerView& view) {
        // by hand: answers a value, or what holds once the controller has gone
        auto self = weak.lock();
        return !self || self->isCurrent(view);
    };
    shown.retire = [weak](PNPlayerView& view) {
        // by hand: answers a value, or what holds once the controller has gone
        auto self = weak.lock();
        if (!self) {
            view.stop();
            return true;
        }
        // Under the lock, so that no switch makes the view current between the look and the
        // stop.
        Hold hold(*self);
        if (self->isCurrent(view))
            return false;
        view.stop();
        return true;
    };
    transitions_->bind(std::move(shown));

    panel_->bind([weak]() -> PNPlaylistPtr {
        // by hand: answers a value, or what holds once the controller has gone
        auto self = weak.lock();
        return self ? self->playlist() : nullptr;
    });
}

void PNPlayerViewController::buildPlayerViews() {
    std::vector<std::shared_ptr<PNPlayerView>> views;
    for (int i = playersCount(); i > 0; --i) {
        auto player = PNPlayerView::make(ui::Rect::zero());
        player->setDelegate(listener());
        player->setHidden(true);
        player->setFrame(playerView_->bounds());
        player->setAutoresizingMask(ui::View::flexibleWidth | ui::View::flexibleHeight);
        player->setAutoresizesSubviews(true);
        player->setClipsToBounds(true);
        playerView_->addSubview(player);
        views.push_back(player);
    }
    // The settings and the pool under one hold: a setting changed meanwhile reaches every view.
    Hold hold(*this);
    for (const auto& player : views) configure(*player);
    pool_->fill(std::move(views));
}

void PNPlayerViewController::prepare(const ui::StoryboardSegue& segue, const platform::ObjectPtr&) {
    if (segue.identifier != embedControlPanelSegue)
        return;
    auto panel =
        std::dynamic_pointer_cast<PNPlayerControlPanelControlViewController>(segue.destination);
    if (!panel)
        return;
    panel->setDelegate(listener());
    panel_->attachPanel(panel);
}

// ---- switching videos ----

void PNPlayerViewController::set(PNVideoPtr video, Transition transition) {
    setToPrivate(std::move(video), PNPlayState::paused, transition);
}

void PNPlayerViewController::play(PNVideoPtr video, Transition transition) {
    setToPrivate(std::move(video), PNPlayState::playing, transition);
}

void PNPlayerViewController::set(PNPlaylistPtr playlist, std::int64_t index,
                                 Transition transition) {
    playPlaylist(std::move(playlist), index, PNPlayState::paused, transition);
}

void PNPlayerViewController::play(PNPlaylistPtr playlist, std::int64_t index,
                                  Transition transition) {
    playPlaylist(std::move(playlist), index, PNPlayState::playing, transition);
}

void PNPlayerViewController::set(std::int64_t playlistIndex, Transition transition) {
    playIndex(playlistIndex, PNPlayState::paused, transition);
}

void PNPlayerViewController::play(std::int64_t playlistIndex, Transition transition) {
    playIndex(playlistIndex, PNPlayState::playing, transition);
}

void PNPlayerViewController::playPlaylist(PNPlaylistPtr playlist, std::int64_t index,
                                          PNPlayState state, Transition transition) {
    if (!playlist || index < 0 || isAnimating())
        return;
    if (auto total = playlist->totalCount(); total && index >= *total)
        return;
    loadViewIfNeeded();
    setPlayState(state);
    setToPrivate(std::move(playlist), index, transition);
    updateButtons();
    propagateProgress();
}

void PNPlayerViewController::playIndex(std::int64_t index, PNPlayState state,
                                       Transition transition) {
    auto queue = playbackQueue();
    if (isAnimating() || index < 0 || !queue)
        return;
    if (auto total = queue->playlist()->totalCount(); total && index >= *total)
        return;
    loadViewIfNeeded();
    {
        Hold hold(*this);
        setPlayState(state);
        // Stored before the queue moves: a loaded playlist switches inside setVideoIndex, and
        // that switch is the one this transition was asked for. The time and duration start
        // again before it too: a switch to a neighbour that is ready sets its duration, which
        // its ready message, already sent, will not set again.
        playerTransition_ = transition;
        currentTime_ = 0;
        duration_ = 0;
        announce("currentTime");
        announce("duration");
    }
    // With the lock released: the queue announces its new window to this controller, which
    // switches then.
    moveQueue(queue, index);
    updateButtons();
    propagateProgress();
}

void PNPlayerViewController::reset() {
    loadViewIfNeeded();
    std::shared_ptr<PNPlaybackQueue> dropped;  // let go once the lock is released
    Hold hold(*this);
    setPlayState(PNPlayState::paused);
    if (auto current = currentPlayer())
        current->reset();
    setVideo(nullptr);
    dropped = std::move(playbackQueue_);
    updateButtons();
    propagateProgress();
}

void PNPlayerViewController::setToPrivate(PNVideoPtr video, PNPlayState state,
                                          Transition transition) {
    if (isAnimating())
        return;
    loadViewIfNeeded();
    const auto preloaded = preloadedResolution(video);
    std::shared_ptr<PNPlaybackQueue> dropped;  // let go once the lock is released
    Hold hold(*this);
    setPlayState(state);
    dropped = std::move(playbackQueue_);
    setVideo(video);
    currentTime_ = 0;
    duration_ = 0;
    announce("currentTime");
    announce("duration");
    playerTransition_ = transition;
    setVideos(video ? std::vector<PNVideoPtr>{video} : std::vector<PNVideoPtr>{}, preloaded);
    updateButtons();
    propagateProgress();
}

void PNPlayerViewController::setToPrivate(PNPlaylistPtr playlist, std::int64_t index,
                                          Transition transition) {
    setVideo(nullptr);
    std::shared_ptr<PNPlaybackQueue> current;
    std::int64_t queueLength;
    {
        Hold hold(*this);
        playerTransition_ = transition;
        currentTime_ = 0;
        duration_ = 0;
        announce("currentTime");
        announce("duration");
        current = playbackQueue_;
        queueLength = videosPreloadCount_;
    }
    // With the lock released: a queue that moves announces its window to this controller.
    if (current && current->playlist() == playlist) {
        moveQueue(current, index);
        return;
    }
    // Made with the lock released too: its first window may ask the playlist for a page.
    auto made = PNPlaybackQueue::make(playlist, index, queueLength);
    std::shared_ptr<PNPlaybackQueue> dropped;
    {
        std::lock_guard lock(lock_);
        dropped = std::exchange(playbackQueue_, made);
    }
    // Let go at once, with the lock released: it still tells this controller of its windows.
    dropped.reset();
    made->setDelegate(listener());
    // A new queue built its first window before this controller was its delegate, and an
    // equal list is never announced again: hand it over now, or a loaded playlist would show
    // nothing until it happens to change.
    if (auto firstWindow = made->videos(); !firstWindow.empty())
        setVideos(firstWindow);
}

void PNPlayerViewController::playbackQueueUpdated(const std::vector<PNVideoPtr>& videos) {
    setVideos(videos);
}

void PNPlayerViewController::moveQueue(const std::shared_ptr<PNPlaybackQueue>& queue,
                                       std::int64_t index) {
    std::uint64_t taken;
    {
        std::lock_guard lock(lock_);
        taken = windowsTaken_;
    }
    queue->setVideoIndex(index);
    {
        std::lock_guard lock(lock_);
        if (windowsTaken_ != taken || playbackQueue_ != queue)
            return;
    }
    // Nothing was announced: set then play of one index leaves the window as it was, and the
    // view on screen must still play.
    if (auto window = queue->videos(); !window.empty())
        setVideos(window);
}

std::optional<PNVideoResolution> PNPlayerViewController::preloadedResolution(
    const PNVideoPtr& video) {
    return video ? PNPlayerCache::shared()->getClosestPreloadedResolution(*video) : std::nullopt;
}

void PNPlayerViewController::setVideos(const std::vector<PNVideoPtr>& videos) {
    // Only a switch needs the cache's answer: a window whose first video is on screen already
    // costs no file work.
    std::optional<PNVideoResolution> preloaded;
    if (!videos.empty()) {
        auto current = currentPlayer();
        if (!current || current->targetVideo() != videos.front())
            preloaded = preloadedResolution(videos.front());
    }
    setVideos(videos, preloaded);
}

void PNPlayerViewController::setVideos(const std::vector<PNVideoPtr>& videos,
                                       std::optional<PNVideoResolution> frontPreloaded) {
    Hold hold(*this);
    ++windowsTaken_;
    if (internalLoadingControl_ && videoLoader_)
        videoLoader_->setVideosToPreload(videos);
    auto current = currentPlayer();
    if (!current)
        return;
    if (videos.empty()) {
        current->reset();
        return;
    }
    if (current->targetVideo() == videos.front()) {
        // Already on screen: it still takes the requested state, or play(video:) of the
        // video shown would leave it paused.
        applyPlayState(*current);
        prepareNextVideosToPlay();
        return;
    }
    switchTo(videos.front(), playerTransition_, nullptr, frontPreloaded);
}

void PNPlayerViewController::applyPlayState(PNPlayerView& current) {
    Hold hold(*this);
    if (playState_ == PNPlayState::playing)
        current.play();
    else if (playState_ == PNPlayState::paused)
        current.pause();
}

void PNPlayerViewController::prepareNextVideosToPlay() {
    Hold hold(*this);
    if (!playbackQueue_)
        return;
    const auto queued = playbackQueue_->videos();
    if (queued.size() < 2)
        return;
    for (const auto& assignment : pool_->planNeighbours(queued)) {
        logger_.log("preparing_" + assignment.video->videoID());
        if (assignment.previous && videoLoader_)
            videoLoader_->setPreload(assignment.previous->videoID(), true);
        pool_->forgetFailure(*assignment.view);
        assignment.view->setVideo(assignment.video, true);
    }
}

void PNPlayerViewController::switchTo(PNVideoPtr video, Transition transition,
                                      std::function<void()> completion) {
    const auto preloaded = preloadedResolution(video);
    switchTo(std::move(video), transition, std::move(completion), preloaded);
}

void PNPlayerViewController::switchTo(PNVideoPtr video, Transition transition,
                                      std::function<void()> completion,
                                      std::optional<PNVideoResolution> preloaded) {
    // An animation that never ends would block every later switch.
    if (transition && !std::isfinite(transition->duration))
        transition.reset();
    Hold hold(*this);
    setTime_ = secondsSince1970();
    auto old = currentPlayer();
    if (!old)
        return;
    if (!video) {
        old->reset();
        return;
    }
    if (old->targetVideo() == video) {
        // Asked to play what is already shown: play it.
        if (playState_ == PNPlayState::playing)
            old->play();
        return;
    }
    const auto resolution = preloaded.value_or(PNThroughputManager::shared().resolution());
    logger_.log("set_video_" + video->videoID() + "_" + toString(resolution) + "_" +
                (preloaded ? "true" : "false"));

    // In playlist mode `video` is none: the video about to be shown is this one.
    if (auto shown = video_ ? video_ : video) {
        auto error = videoErrors_.find(shown->videoID());
        if (showErrorMessages_ && error != videoErrors_.end())
            toggleErrorMessage(error->second.localizedDescription());
        else
            toggleErrorMessage(std::nullopt);
    }
    if (auto held = old->targetVideo(); held && videoLoader_)
        videoLoader_->setPreload(held->videoID(), true);
    if (playState_ == PNPlayState::playing && videoLoader_)
        videoLoader_->setPreload(video->videoID(), false);

    const auto change = pool_->switchTo(video);
    auto fresh = change.to;
    readyTold_ = false;
    bool held = change.held;
    if (held) {
        // The state is given first: a stop of this view that its queue has not run yet (the
        // switch away from it reached the screen just now) gives way to it...
        if (playState_ == PNPlayState::playing)
            fresh->play();
        else
            fresh->pause();
        // ...unless that stop let the video go before the command came: then it loads again.
        if (fresh->targetVideo() != video) {
            held = false;
            pool_->forgetFailure(*fresh);
        }
    }
    if (held) {
        duration_ = fresh->isReadyToPlay() ? itemDuration(*fresh) : 0;
        announce("duration");
        prepareNextVideosToPlay();
        // What the view said while it preloaded was not about the video on screen then: the
        // delegate hears it now that it is.
        if (change.failed) {
            auto recorded = videoErrors_.find(video->videoID());
            events().failedToPlay(recorded != videoErrors_.end()
                                      ? recorded->second
                                      : PNError(PNError::videoLoadFailed));
        } else if (fresh->isReadyToPlay() && fresh->video() == video) {
            readyTold_ = true;
            events().readyToPlay();
        }
    } else {
        fresh->setVideo(video, playState_ == PNPlayState::paused);
        if (playState_ == PNPlayState::playing)
            fresh->play();
    }
    // Judged once the new current view has applied the switch on its queue.
    checkPlayerBuffering();

    transitions_->present(old, fresh, transition, std::move(completion));
}

void PNPlayerViewController::playersTransition(std::shared_ptr<PNPlayerView> from,
                                               std::shared_ptr<PNPlayerView> to,
                                               PNPlayerTransition transition,
                                               std::function<void()> completion) {
    transitions_->animate(std::move(from), std::move(to), transition, std::move(completion));
}

// ---- playback ----

void PNPlayerViewController::setPlayState(PNPlayState state) {
    Hold hold(*this);
    playState_ = state;
    announce("playState");
    // The video on screen: in playlist mode `video` is none, yet the loader must hear that
    // the current video now feeds playback, or it downloads only its head.
    if (auto shown = shownVideo(); shown && videoLoader_)
        videoLoader_->setPreload(shown->videoID(), state != PNPlayState::playing);
}

void PNPlayerViewController::requestPlayState(PNPlayState state) {
    Hold hold(*this);
    setPlayState(state);
    if (auto current = currentPlayer()) {
        if (state == PNPlayState::playing)
            current->play();
        else
            current->pause();
    }
    updateButtons();
    checkPlayerBuffering();
}

void PNPlayerViewController::play() {
    loadViewIfNeeded();
    requestPlayState(PNPlayState::playing);
}

void PNPlayerViewController::pause() {
    loadViewIfNeeded();
    requestPlayState(PNPlayState::paused);
}

void PNPlayerViewController::playPause() {
    loadViewIfNeeded();
    // The state is read and changed under one hold, so two taps never both play.
    Hold hold(*this);
    requestPlayState(playState_ == PNPlayState::playing ? PNPlayState::paused
                                                        : PNPlayState::playing);
}

void PNPlayerViewController::seek(double seconds) {
    // A time that is no number would become the current time and the slider's value.
    if (!std::isfinite(seconds))
        return;
    loadViewIfNeeded();
    Hold hold(*this);
    currentTime_ = seconds;
    announce("currentTime");
    propagateProgress();
    seeking_ = true;
    if (auto current = currentPlayer())
        current->seekTo(seconds);
    auto strong = self();
    DispatchQueue::main()->asyncAfter(seekQuietTime, [strong] { strong->seeking_ = false; });
    // A seek from idle leaves the controller paused.
    requestPlayState(playState_ == PNPlayState::playing ? PNPlayState::playing
                                                        : PNPlayState::paused);
}

// ---- the players manager's steps ----

void PNPlayerViewController::pauseInPool() {
    // The state is read and changed under one hold: a play given meanwhile is not undone.
    Hold hold(*this);
    if (playState_ == PNPlayState::playing && isReadyToPlay())
        requestPlayState(PNPlayState::paused);
}

void PNPlayerViewController::addGestureRecognizer(ui::GestureRecognizerPtr recognizer) {
    auto weak = weakSelf();
    DispatchQueue::global(platform::DispatchQoS::background)->async([weak, recognizer] {
        DispatchQueue::main()->async(
            platform::weakly(weak, [recognizer](PNPlayerViewController& self) {
                self.view()->addGestureRecognizer(recognizer);
            }));
    });
}

void PNPlayerViewController::updateButtons() {
    PNPlayerPanelBinding::Buttons buttons;
    {
        std::lock_guard lock(lock_);
        buttons.playlist = playbackQueue_ ? playbackQueue_->playlist() : nullptr;
        buttons.index = playbackQueue_ ? playbackQueue_->videoIndex() : 0;
        buttons.hasVideo = video_ != nullptr;
        buttons.playing = playState_ == PNPlayState::playing;
    }
    panel_->showButtons(buttons);
}

void PNPlayerViewController::propagateProgress() {
    double progress;
    {
        std::lock_guard lock(lock_);
        const double total = usable(duration_);
        progress = total > 0 ? currentTime_ / total : 0;
    }
    panel_->showProgress(progress);
}

void PNPlayerViewController::checkPlayerBuffering() {
    buffering_->check();
}

void PNPlayerViewController::toggleSpinner(bool show) {
    buffering_->toggleSpinner(show);
}

void PNPlayerViewController::showError(const std::string& videoID, PNError error) {
    callOut(platform::weakly(this, [videoID, error](PNPlayerViewController& self) {
        // The error rides as a platform error: PNError::fromPlatformError gives it back.
        platform::Dictionary info{{"error", Value(error.toPlatformError())},
                                  {"videoID", Value(videoID)}};
        platform::NotificationCenter::defaultCenter().post(NotificationName::PNVideoPlaybackFailed,
                                                           Value(self.shared_from_this()),
                                                           std::move(info));
    }));
    Hold hold(*this);
    videoErrors_.insert_or_assign(videoID, error);
    auto shown = shownVideo();
    if (!shown)
        return;
    auto recorded = videoErrors_.find(shown->videoID());
    if (showErrorMessages_ && recorded != videoErrors_.end())
        toggleErrorMessage(recorded->second.localizedDescription());
    else
        toggleErrorMessage(std::nullopt);
    // A failed video on screen is not buffering: cancel a pending spinner, hide a shown one.
    checkPlayerBuffering();
}

void PNPlayerViewController::toggleErrorMessage(std::optional<std::string> text) {
    ui::LabelPtr label;
    {
        std::lock_guard lock(lock_);
        label = errorLabel_;
    }
    if (!label)
        return;
    auto strong = self();
    DispatchQueue::main()->async([strong, label, text] {
        if (text) {
            label->setText(*text);
            label->setHidden(false);
        } else if (!label->isHidden()) {
            label->setHidden(true);
        }
    });
}

// ---- what the player views say ----

void PNPlayerViewController::pnPlayerViewReadyToPlay(PNPlayerView& view) {
    bool tell = false;
    {
        Hold hold(*this);
        // A neighbour's readiness is told when it becomes current; a view's readiness for a
        // video it has since been told to replace is no news.
        if (!isCurrent(view) || view.video() != view.targetVideo())
            return;
        duration_ = itemDuration(view);
        announce("duration");
        checkPlayerBuffering();
        prepareNextVideosToPlay();
        const double started = setTime_ ? secondsSince1970() - *setTime_ : 0;
        logger_.log("startup_time_" + shortest(started));
        tell = !readyTold_;
        readyTold_ = true;
    }
    auto sender = std::static_pointer_cast<PNPlayerView>(view.shared_from_this());
    DispatchQueue::main()->async(platform::weakly(this, [sender](PNPlayerViewController& self) {
        if (!self.isCurrent(*sender))
            return;
        if (!self.isAnimating()) {
            for (const auto& p : self.players()) p->setHidden(p != sender);
        }
        sender->setHidden(false);
        self.pool_->markCurrentShown();
    }));
    if (tell)
        events().readyToPlay();
}

void PNPlayerViewController::pnPlayerViewBuffering(PNPlayerView& view, bool) {
    if (isCurrent(view))
        checkPlayerBuffering();
}

void PNPlayerViewController::pnPlayerViewCurrentTimeChanged(PNPlayerView& view) {
    if (!isCurrent(view) || seeking_)
        return;
    {
        Hold hold(*this);
        currentTime_ = view.currentTime();
        announce("currentTime");
    }
    events().currentTimeChanged();
    // The time arrives every few hundredths of a second: a main queue that falls behind (a
    // busy screen) would pile up one update per report ahead of everything else it runs, a
    // transition's end among them. One queued update shows the latest time.
    if (progressQueued_.exchange(true))
        return;
    auto strong = self();
    DispatchQueue::main()->async([strong] {
        strong->progressQueued_ = false;
        strong->propagateProgress();
    });
}

void PNPlayerViewController::pnPlayerViewPlayStateDidChange(PNPlayerView& view) {
    if (isCurrent(view))
        updateButtons();
}

void PNPlayerViewController::pnPlayerViewFailedToPlay(PNPlayerView& view, int error) {
    auto code = PNError::fromRawValue(error).value_or(PNError::unknown);
    auto failed = view.video();
    // Every failure is recorded and posted, a neighbour's too.
    showError(failed ? failed->videoID() : std::string(), code);
    Hold hold(*this);
    // A failure of a video the view has since been told to replace is no news.
    if (!failed || failed != view.targetVideo())
        return;
    pool_->markFailed(view, failed);
    // The delegate hears of the video on screen; a neighbour's failure reaches it when that
    // neighbour becomes current (switchTo).
    if (isCurrent(view))
        events().failedToPlay(code);
}

void PNPlayerViewController::pnPlayerViewDidPlayToEnd(PNPlayerView& view) {
    if (!isCurrent(view))
        return;
    events().didPlayToEnd();
    auto queue = playbackQueue();
    if (!queue)
        return;
    const auto index = queue->videoIndex();
    if (auto total = queue->playlist()->totalCount(); total && index + 1 >= *total)
        return;
    play(index + 1);
}

// ---- what the control panel says ----

void PNPlayerViewController::playerControlPanelControlViewControllerPlayPauseTap() {
    playPause();
}

void PNPlayerViewController::playerControlPanelControlViewControllerPrevTap() {
    auto queue = playbackQueue();
    if (!queue)
        return;
    const auto index = queue->videoIndex() - 1;
    if (index < 0)
        return;
    if (auto total = queue->playlist()->totalCount(); total && index >= *total)
        return;
    play(index);
}

void PNPlayerViewController::playerControlPanelControlViewControllerNextTap() {
    auto queue = playbackQueue();
    if (!queue)
        return;
    const auto index = queue->videoIndex() + 1;
    if (auto total = queue->playlist()->totalCount(); total && index >= *total)
        return;
    play(index);
}

void PNPlayerViewController::playerControlPanelControlViewControllerSliderDragged(double value) {
    auto current = currentPlayer();
    const double total = current ? itemDuration(*current) : 0;
    if (total > 0)
        seek(total * value);
}

}  // namespace pindle
