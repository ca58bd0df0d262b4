#include "platform/media/Player.hpp"

#include <algorithm>
#include <string_view>

#include "platform/audio/SoundServer.hpp"
#include "platform/dispatch/Clock.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/DispatchTime.hpp"
#include "platform/foundation/Weakly.hpp"
#include "platform/log/StandardError.hpp"
#include "platform/media/AudioRenderer.hpp"

namespace pindle::platform {

namespace {
constexpr std::int32_t microsPerSecond = 1000000;

// How long the timeline may wait for the sound server to start playing.
constexpr auto audioStartBound = std::chrono::seconds(1);

std::int64_t toMicros(MediaTime time) {
    return time.isNumeric() ? time.convertScale(microsPerSecond).value : 0;
}
}  // namespace

// One periodic time observer: a timer on the observer's queue while time moves.
class Player::PeriodicObserver : public Object {
  public:
    PeriodicObserver(std::weak_ptr<Player> player, std::int64_t intervalMicros,
                     std::shared_ptr<Executor> queue, std::function<void(MediaTime)> block)
        : player_(std::move(player)),
          interval_(intervalMicros),
          queue_(std::move(queue)),
          block_(std::move(block)) {}

    // Fires once now when asked, then at every multiple of the interval of media time
    // after `time` while `rate` is not 0.
    void restart(double rate, std::int64_t time, bool fireNow) {
        stop();
        // The time of the change, not of whenever the queue gets to it.
        if (fireNow)
            queue_->async([self = self(), time] { self->fire(MediaTime(time, microsPerSecond)); });
        if (rate <= 0)
            return;
        const std::int64_t next = (time / interval_ + 1) * interval_;
        const auto toNext = std::chrono::nanoseconds(
            static_cast<std::int64_t>(static_cast<double>(next - time) * 1000.0 / rate));
        const auto period = std::chrono::nanoseconds(
            static_cast<std::int64_t>(static_cast<double>(interval_) * 1000.0 / rate));
        auto timer = DispatchTimerSource::create(queue_);
        timer->setEventHandler(weakly(self(), [](PeriodicObserver& observer) {
            if (auto player = observer.player_.lock())
                observer.fire(player->currentTime());
        }));
        timer->schedule(DispatchTime::now() + toNext, period);
        timer->resume();
        std::lock_guard lock(mutex_);
        timer_ = std::move(timer);
    }

    void stop() {
        DispatchTimerSourcePtr timer;
        {
            std::lock_guard lock(mutex_);
            timer = std::move(timer_);
        }
        if (timer)
            timer->cancel();
    }

    void invalidate() {
        stopped_ = true;
        stop();
    }

  private:
    std::shared_ptr<PeriodicObserver> self() {
        return std::static_pointer_cast<PeriodicObserver>(shared_from_this());
    }
    void fire(MediaTime time) {
        if (!stopped_)
            block_(time);
    }

    const std::weak_ptr<Player> player_;
    const std::int64_t interval_;
    const std::shared_ptr<Executor> queue_;
    const std::function<void(MediaTime)> block_;
    std::atomic<bool> stopped_{false};
    std::mutex mutex_;
    DispatchTimerSourcePtr timer_;  // guarded by mutex_
};

PlayerPtr Player::make(PlayerItemPtr item) {
    auto player = std::make_shared<Player>(Private{});
    if (item)
        player->replaceCurrentItem(std::move(item));
    return player;
}

Player::Player(Private) {}

Player::~Player() {
    for (const auto& observer : observers_) observer->invalidate();
    if (audio_)
        audio_->close();
    if (auto item = currentItem_.get())
        item->detach();
}

MediaTime Player::currentTime() const {
    auto item = currentItem();
    return item ? item->currentTime() : MediaTime::zero();
}

void Player::setRate(double rate) {
    {
        std::lock_guard lock(mutex_);
        if (rate != 0 && rate_.get() == 0)
            waitingForBuffer_ = true;
    }
    if (!rate_.setIfChanged(rate))
        return;
    update(true);
}

void Player::setVolume(float volume) {
    volume_.set(std::clamp(volume, 0.0f, 1.0f));
    std::lock_guard lock(audioMutex_);
    if (audio_)
        audio_->setVolume(volume_.get(), muted_.get());
}

void Player::setMuted(bool muted) {
    muted_.set(muted);
    std::lock_guard lock(audioMutex_);
    if (audio_)
        audio_->setVolume(volume_.get(), muted_.get());
}

bool Player::automaticallyWaitsToMinimizeStalling() const {
    std::lock_guard lock(mutex_);
    return automaticallyWaits_;
}

void Player::setAutomaticallyWaitsToMinimizeStalling(bool waits) {
    {
        std::lock_guard lock(mutex_);
        automaticallyWaits_ = waits;
    }
    update(false);
}

Player::ActionAtItemEnd Player::actionAtItemEnd() const {
    std::lock_guard lock(mutex_);
    return actionAtItemEnd_;
}

void Player::setActionAtItemEnd(ActionAtItemEnd action) {
    std::lock_guard lock(mutex_);
    actionAtItemEnd_ = action;
}

void Player::replaceCurrentItem(PlayerItemPtr item) {
    auto old = currentItem_.get();
    if (old == item)
        return;
    if (old)
        old->detach();
    {
        std::lock_guard lock(mutex_);
        runningRate_ = 0;
        waitingForBuffer_ = true;
    }
    // Attached before it is announced, and the player ready first when the item already is
    // (it loads as soon as it is made): whoever looks at the item's status on the
    // announcement finds a player that agrees.
    if (item) {
        item->attach(std::static_pointer_cast<Player>(shared_from_this()));
        if (item->status() == PlayerItem::Status::readyToPlay)
            status_.setIfChanged(Status::readyToPlay);
    }
    currentItem_.set(item);
    update(false);
}

void Player::seek(MediaTime time, std::function<void(bool finished)> completion) {
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(mutex_);
        generation = ++seekGeneration_;
    }
    if (auto item = currentItem()) {
        const std::uint64_t audioGeneration = item->seekTo(time);
        std::lock_guard lock(audioMutex_);
        if (audio_ && audioItem_ == item)
            audio_->seek(toMicros(item->currentTime()), audioGeneration);
    }
    update(false);
    restartObservers(true);
    if (!completion)
        return;
    std::weak_ptr<Player> weak = std::static_pointer_cast<Player>(shared_from_this());
    DispatchQueue::main()->async([weak, generation, completion = std::move(completion)] {
        bool current = false;
        // by hand: the completion is called even when the player has gone
        if (auto self = weak.lock()) {
            std::lock_guard lock(self->mutex_);
            current = self->seekGeneration_ == generation;
        }
        completion(current);
    });
}

void Player::itemWillBecomeReady(const PlayerItemPtr&) {
    // Only an attached item calls, and one may do so before it is the current item (it is
    // attached before it is announced).
    status_.setIfChanged(Status::readyToPlay);
}

void Player::itemDidChange(const PlayerItemPtr& item) {
    if (item != currentItem())
        return;
    if (item->status() == PlayerItem::Status::readyToPlay)
        status_.setIfChanged(Status::readyToPlay);
    if (item->hasPlayedToEnd() && actionAtItemEnd() == ActionAtItemEnd::pause && rate_.get() != 0) {
        rate_.set(0);
        update(true);
        return;
    }
    update(false);
}

void Player::update(bool rateChanged) {
    bool runChanged = false;
    {
        // One decision at a time, applied to the item before the next is taken, so updates
        // racing from the caller's thread and the item's queue leave the latest in force.
        std::lock_guard lock(mutex_);
        const auto item = currentItem();
        const double rate = rate_.get();
        TimeControlStatus status = TimeControlStatus::waitingToPlayAtSpecifiedRate;
        double run = 0;
        if (rate == 0) {
            status = TimeControlStatus::paused;
        } else if (!item) {
            status = TimeControlStatus::waitingToPlayAtSpecifiedRate;
        } else if (item->hasPlayedToEnd()) {
            status = TimeControlStatus::playing;
        } else if (item->status() != PlayerItem::Status::readyToPlay ||
                   item->isPlaybackBufferEmpty()) {
            if (item->status() == PlayerItem::Status::readyToPlay)
                waitingForBuffer_ = true;
        } else if (!(automaticallyWaits_ && waitingForBuffer_ &&
                     !item->isPlaybackLikelyToKeepUp())) {
            status = TimeControlStatus::playing;
            run = rate;
            waitingForBuffer_ = false;
        }
        runChanged = run != runningRate_;
        runningRate_ = run;
        decidedStatus_ = status;
        if (item)
            item->setTimelineRate(run);
    }
    // Announce what is decided now, which a later update may already have changed.
    TimeControlStatus status;
    {
        std::lock_guard lock(mutex_);
        status = decidedStatus_;
    }
    timeControlStatus_.setIfChanged(status);
    updateAudio();
    if (runChanged || rateChanged)
        restartObservers(rateChanged);
}

void Player::updateAudio() {
    std::lock_guard lock(audioMutex_);
    // Read under the audio lock, so of updates racing from two threads the last one to get
    // here applies the latest decision.
    double run = 0;
    PlayerItemPtr item;
    {
        std::lock_guard decided(mutex_);
        run = runningRate_;
        item = currentItem();
    }
    if (audioItem_ != item) {
        if (audio_)
            audio_->close();
        audio_.reset();
        audioItem_ = item;
        audioSilent_ = false;
        audioRunning_ = false;
    }
    // Sound plays at the rate it was recorded at, or not at all.
    const bool sounding = item && run == 1.0;
    if (!sounding) {
        if (audio_ && audioRunning_)
            audio_->pause();
        audioRunning_ = false;
        return;
    }
    if (audioSilent_)
        return;
    if (audioRunning_) {
        if (audio_)
            audio_->refillIfStarved();
        return;
    }
    if (audio_ && !audio_->isAlive()) {
        // The server went away: the timeline goes on from where the sound left it.
        audio_.reset();
        audioSilent_ = true;
        return;
    }
    const std::uint64_t generation = item->audioGeneration();
    const std::int64_t from = toMicros(item->currentTime());
    if (!audio_) {
        if (SoundServer::isSilentByChoice()) {
            audioSilent_ = true;
            return;
        }
        Error error;
        auto reader = item->makeAudioReader(&error);
        if (!reader) {
            audioSilent_ = true;
            if (!error.domain().empty()) {
                const std::string line =
                    "pindle: " + error.localizedDescription() + "; the video plays silently\n";
                const std::string_view pieces[] = {line};
                StandardError::writeGathered(pieces);
            }
            return;
        }
        // The timeline waits at `from` while the sound starts; if none does, it goes on from
        // there.
        item->audioClockReport(generation, from, Clock::current()->uptime() + audioStartBound);
        auto context = SoundServer::shared();
        if (!context) {
            audioSilent_ = true;
            item->audioClockReport(generation, from, Clock::current()->uptime());
            return;
        }
        audio_ = std::make_shared<AudioRenderer>(std::move(context), item, std::move(reader),
                                                 volume_.get(), muted_.get());
    }
    audioRunning_ = true;
    audio_->play(from, generation);
}

void Player::restartObservers(bool fireNow) {
    std::vector<std::shared_ptr<PeriodicObserver>> observers;
    double rate = 0;
    {
        std::lock_guard lock(mutex_);
        observers = observers_;
        rate = runningRate_;
    }
    const std::int64_t time = currentTime().convertScale(microsPerSecond).value;
    for (const auto& observer : observers) observer->restart(rate, time, fireNow);
}

Player::TimeObserverToken Player::addPeriodicTimeObserver(MediaTime interval,
                                                          std::shared_ptr<Executor> queue,
                                                          std::function<void(MediaTime)> block) {
    const std::int64_t micros =
        interval.isNumeric() ? interval.convertScale(microsPerSecond).value : 0;
    auto observer = std::make_shared<PeriodicObserver>(
        std::static_pointer_cast<Player>(shared_from_this()), std::max<std::int64_t>(micros, 1000),
        queue ? std::move(queue) : DispatchQueue::main(), std::move(block));
    double rate = 0;
    {
        std::lock_guard lock(mutex_);
        observers_.push_back(observer);
        rate = runningRate_;
    }
    observer->restart(rate, currentTime().convertScale(microsPerSecond).value, false);
    return observer;
}

void Player::removeTimeObserver(const TimeObserverToken& token) {
    std::shared_ptr<PeriodicObserver> removed;
    {
        std::lock_guard lock(mutex_);
        const auto it = std::find(observers_.begin(), observers_.end(), token);
        if (it == observers_.end())
            return;
        removed = *it;
        observers_.erase(it);
    }
    removed->invalidate();
}

}  // namespace pindle::platform
