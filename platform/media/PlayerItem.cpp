#include "platform/media/PlayerItem.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/files/AppContainer.hpp"
#include "platform/foundation/MediaError.hpp"
#include "platform/foundation/NotificationCenter.hpp"
#include "platform/foundation/Weakly.hpp"
#include "platform/media/Player.hpp"
#include "platform/media/PlayerItemVideoOutput.hpp"
#include "platform/media/URLAsset.hpp"
#include "platform/media/private/FFmpegMediaSource.hpp"
#include "platform/media/private/FileResourceFeeder.hpp"

namespace pindle::platform {

namespace {

constexpr std::int32_t microsPerSecond = 1000000;
// An open request this close before the wanted byte will reach it soon enough.
constexpr std::int64_t coveringDistance = 512 * 1024;
constexpr std::size_t maxOpenDataRequests = 2;
constexpr MediaSource::Micros discardableAfter = 60 * 1000000LL;
// A sound report this close to the timeline leaves it alone: the two clocks agree.
constexpr MediaSource::Micros audioSlack = 2000;
// Without a sound report for this long, the timeline stops waiting for the sound.
constexpr auto audioCeilingBound = std::chrono::seconds(2);
// A sound this far behind the playhead catches up with it rather than holding the picture.
// Short: a sound that starts late holds a picture already moving for at most this long, and
// playback as a whole starts at most this long after the start's own hold.
constexpr MediaSource::Micros audioCatchUpGap = 60000;

std::atomic<std::uint64_t> nextItemNumber{1};

MediaSource::Micros toMicros(MediaTime time) {
    if (!time.isNumeric())
        return 0;
    return time.convertScale(microsPerSecond).value;
}

MediaTime fromMicros(MediaSource::Micros micros) {
    return MediaTime(micros, microsPerSecond);
}

// The end of the span that holds `time`; nothing when no span holds it.
std::optional<MediaSource::Micros> spanEndAt(const std::vector<MediaSource::Span>& spans,
                                             MediaSource::Micros time) {
    for (const auto& span : spans)
        if (span.start <= time && time < span.end)
            return span.end;
    return std::nullopt;
}

}  // namespace

PlayerItemPtr PlayerItem::make(std::shared_ptr<Asset> asset) {
    return std::make_shared<PlayerItem>(Private{}, std::move(asset), nullptr);
}

PlayerItemPtr PlayerItem::make(std::shared_ptr<Asset> asset, std::shared_ptr<MediaSource> source) {
    auto item = std::make_shared<PlayerItem>(Private{}, std::move(asset), std::move(source));
    item->source_->setChangeHandler(weakly(item, [](PlayerItem& self) { self.scheduleRefresh(); }));
    return item;
}

PlayerItem::PlayerItem(Private, std::shared_ptr<Asset> asset, std::shared_ptr<MediaSource> source)
    : asset_(std::move(asset)),
      queue_(DispatchQueue::create("com.pindle.platform.playeritem." +
                                   std::to_string(nextItemNumber.fetch_add(1)))),
      // A file in the system's page cache rather than the process's memory: an item may be
      // handed a whole long movie ahead of its playhead.
      store_(std::make_shared<MediaByteStore>(MediaByteStore::defaultCapacity,
                                              AppContainer::temporaryDirectory())),
      source_(source ? std::move(source) : std::make_shared<FFmpegMediaSource>(store_)),
      scripted_(source_ && !std::dynamic_pointer_cast<FFmpegMediaSource>(source_)) {
    opened_ = scripted_;
    infoKnown_ = scripted_;
}

PlayerItem::~PlayerItem() {
    std::vector<AssetResourceLoadingRequestPtr> open = std::move(dataRequests_);
    if (infoRequest_)
        open.push_back(infoRequest_);
    if (auto* resourceLoader = loader())
        for (const auto& request : open) resourceLoader->cancelLoading(request);
}

AssetResourceLoader* PlayerItem::loader() const {
    auto* urlAsset = dynamic_cast<URLAsset*>(asset_.get());
    return urlAsset ? &urlAsset->resourceLoader() : nullptr;
}

std::optional<Error> PlayerItem::error() const {
    if (const auto error = error_.get().asError())
        return *error;
    return std::nullopt;
}

void PlayerItem::setPreferredForwardBufferDuration(double seconds) {
    {
        std::lock_guard lock(mutex_);
        preferredForwardBuffer_ = std::max(0.0, seconds);
    }
    scheduleRefresh();
}

double PlayerItem::preferredForwardBufferDuration() const {
    std::lock_guard lock(mutex_);
    return preferredForwardBuffer_;
}

MediaTime PlayerItem::currentTime() const {
    std::lock_guard lock(mutex_);
    return fromMicros(playheadLocked());
}

void PlayerItem::addOutput(std::shared_ptr<PlayerItemVideoOutput> output) {
    if (!output)
        return;
    output->setItem(std::static_pointer_cast<PlayerItem>(shared_from_this()));
    std::lock_guard lock(mutex_);
    outputs_.push_back(std::move(output));
}

std::vector<std::shared_ptr<PlayerItemVideoOutput>> PlayerItem::outputs() const {
    std::lock_guard lock(mutex_);
    return outputs_;
}

Value PlayerItem::valueForKey(std::string_view key) const {
    if (key == "currentTime")
        return toKVOValue(currentTime());
    return KeyValueObservable::valueForKey(key);
}

// --- The timeline

MediaSource::Micros PlayerItem::playheadLocked() const {
    if (rate_ == 0)
        return anchorTime_;
    const auto elapsed = std::max(Clock::Duration{}, Clock::current()->uptime() - anchorUptime_);
    const auto moved =
        static_cast<Micros>(std::floor(static_cast<double>(elapsed.count()) / 1000.0 * rate_));
    const Micros played = std::min(anchorTime_ + moved, boundary_);
    return audioCeiling_ ? std::min(played, std::max(*audioCeiling_, anchorTime_)) : played;
}

void PlayerItem::reanchorLocked(Micros time, double rate) {
    audioCeiling_.reset();
    anchorTime_ = time;
    anchorUptime_ = Clock::current()->uptime();
    rate_ = rate;
    boundary_ = time;
    armLocked();
}

void PlayerItem::armLocked() {
    ++boundaryGeneration_;
    if (rate_ <= 0 || ended_)
        return;
    // Playback runs to the end of the loaded run that holds the playhead, or the duration.
    const Micros time = playheadLocked();
    boundary_ =
        std::min(spanEndAt(source_->loadedSpans(), time).value_or(time), source_->duration());
    boundary_ = std::max(boundary_, time);
    const std::uint64_t generation = boundaryGeneration_;
    auto fire = weakly(this, [generation](PlayerItem& self) { self.boundaryReached(generation); });
    // Measured from the anchor and rounded up to the nanosecond, so virtual time stops on
    // the boundary itself.
    const auto span = std::chrono::nanoseconds(static_cast<std::int64_t>(
        std::ceil(static_cast<double>(boundary_ - anchorTime_) * 1000.0 / rate_)));
    queue_->asyncAfter(DispatchTime(anchorUptime_ + span), std::move(fire));
}

void PlayerItem::setTimelineRate(double rate) {
    std::lock_guard lock(mutex_);
    if (rate == rate_)
        return;
    reanchorLocked(playheadLocked(), rate);
}

std::uint64_t PlayerItem::seekTo(MediaTime time) {
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(mutex_);
        generation = ++audioGeneration_;
        const Micros duration = opened_ ? source_->duration() : 0;
        Micros target = std::max<Micros>(0, toMicros(time));
        if (opened_)
            target = std::min(target, duration);
        ended_ = false;
        reanchorLocked(target, rate_);
    }
    queue_->async(weakly(this, [](PlayerItem& self) { self.refresh(true); }));
    return generation;
}

std::uint64_t PlayerItem::audioGeneration() const {
    std::lock_guard lock(mutex_);
    return audioGeneration_;
}

std::unique_ptr<MediaSource::AudioReader> PlayerItem::makeAudioReader(Error* error) {
    {
        std::lock_guard lock(mutex_);
        if (!opened_ || failed_)
            return nullptr;
    }
    return source_->makeAudioReader(error);
}

std::optional<std::int64_t> PlayerItem::audioClockReport(std::uint64_t generation,
                                                         std::int64_t time, Clock::Duration uptime,
                                                         std::optional<std::int64_t> written,
                                                         bool hearing) {
    std::lock_guard lock(mutex_);
    if (generation != audioGeneration_ || rate_ <= 0 || ended_)
        return std::nullopt;
    const auto now = Clock::current()->uptime();
    const Micros playhead = playheadLocked();
    // Where the sound's line stands now: behind `time` while that sample is still to come.
    const Micros sound = time + static_cast<Micros>(std::floor(
                                    static_cast<double>((now - uptime).count()) / 1000.0 * rate_));
    if (hearing && playhead - sound > audioCatchUpGap) {
        // The picture ran on without the sound (a sink that took long to start, or sound that
        // stopped for a while): waiting would freeze it; the sound catches up instead.
        audioCeiling_.reset();
        return playhead;
    }
    audioCeiling_ = written;
    lastAudioReport_ = now;
    if (written && !audioCeilingCheckPending_) {
        audioCeilingCheckPending_ = true;
        queue_->asyncAfter(DispatchTime(now + audioCeilingBound),
                           weakly(this, [](PlayerItem& self) { self.audioCeilingCheck(); }));
    }
    if (std::abs(sound - playhead) >= audioSlack) {
        if (sound >= playhead) {
            anchorTime_ = sound;
            anchorUptime_ = now;
        } else {
            // Behind what has been shown: hold until the sound gets there.
            anchorTime_ = playhead;
            anchorUptime_ = now + std::chrono::nanoseconds(static_cast<std::int64_t>(
                                      static_cast<double>(playhead - sound) * 1000.0 / rate_));
        }
    }
    // Armed again either way: a boundary passed while the ceiling held was left unarmed.
    armLocked();
    return std::nullopt;
}

void PlayerItem::audioClockStopped(std::uint64_t generation) {
    std::lock_guard lock(mutex_);
    if (generation != audioGeneration_ || rate_ <= 0)
        return;
    reanchorLocked(playheadLocked(), rate_);
}

void PlayerItem::audioCeilingCheck() {
    std::lock_guard lock(mutex_);
    audioCeilingCheckPending_ = false;
    if (!audioCeiling_)
        return;
    const auto now = Clock::current()->uptime();
    const auto due = lastAudioReport_ + audioCeilingBound;
    if (now < due) {
        audioCeilingCheckPending_ = true;
        queue_->asyncAfter(DispatchTime(due),
                           weakly(this, [](PlayerItem& self) { self.audioCeilingCheck(); }));
        return;
    }
    // The sound server stopped asking without failing: the picture goes on without it.
    reanchorLocked(playheadLocked(), rate_);
}

bool PlayerItem::hasPlayedToEnd() const {
    std::lock_guard lock(mutex_);
    return ended_;
}

void PlayerItem::boundaryReached(std::uint64_t generation) {
    {
        std::lock_guard lock(mutex_);
        if (generation != boundaryGeneration_)
            return;
        // The sound put the timeline back a little since this was armed (the next report
        // arms it again), or holds it at what it has been given.
        if (rate_ > 0 && !ended_ && playheadLocked() < boundary_) {
            if (!audioCeiling_)
                armLocked();
            return;
        }
    }
    refresh(false);
}

// --- Loading

void PlayerItem::attach(std::weak_ptr<Player> player) {
    auto* urlAsset = dynamic_cast<URLAsset*>(asset_.get());
    const bool needsFeeder = !scripted_ && urlAsset && urlAsset->url().isFileURL() &&
                             !urlAsset->resourceLoader().delegate();
    {
        std::lock_guard lock(mutex_);
        player_ = std::move(player);
        attached_ = true;
        if (needsFeeder && !feeder_) {
            auto feeder = std::make_shared<FileResourceFeeder>(urlAsset->url());
            urlAsset->resourceLoader().setDelegate(feeder, feeder->queue());
            feeder_ = std::move(feeder);
        }
    }
    scheduleRefresh();
}

void PlayerItem::detach() {
    std::vector<AssetResourceLoadingRequestPtr> open;
    {
        std::lock_guard lock(mutex_);
        attached_ = false;
        player_.reset();
        reanchorLocked(playheadLocked(), 0);
        open = std::move(dataRequests_);
        dataRequests_.clear();
        if (infoRequest_ && !infoKnown_)
            open.push_back(infoRequest_);
        infoRequest_ = nullptr;
    }
    if (auto* resourceLoader = loader())
        for (const auto& request : open) resourceLoader->cancelLoading(request);
}

void PlayerItem::scheduleRefresh() {
    // One refresh per batch, queued by whoever delivered it: work that a virtual clock
    // tracks then includes the refresh it caused.
    queue_->async(weakly(this, [](PlayerItem& self) { self.refresh(false); }));
}

void PlayerItem::tryOpen() {
    std::string contentType;
    {
        std::lock_guard lock(mutex_);
        if (opened_ || failed_ || !infoKnown_)
            return;
        if (openWanted_ && !store_->present(*openWanted_, 1))
            return;
        contentType = contentType_;
    }
    std::int64_t wanted = -1;
    Error error;
    const auto state = source_->open(contentType, &wanted, &error);
    if (state == MediaSource::OpenState::failed) {
        fail(error);
        return;
    }
    if (state == MediaSource::OpenState::opened)
        if (auto* urlAsset = dynamic_cast<URLAsset*>(asset_.get()))
            urlAsset->noteLoaded(MediaTime(source_->duration(), microsPerSecond),
                                 source_->tracks());
    std::lock_guard lock(mutex_);
    if (state == MediaSource::OpenState::needsBytes)
        openWanted_ = wanted;
    else
        opened_ = true;
}

void PlayerItem::refresh(bool seeking) {
    tryOpen();
    Micros time = 0;
    bool opened = false, ended = false, failed = false;
    const char* post = nullptr;
    double preferred = 0;
    {
        std::lock_guard lock(mutex_);
        // Whoever refreshes first at the boundary handles it, so that the buffer is never
        // seen empty at a boundary that has not stalled or ended playback yet.
        if (opened_ && rate_ > 0 && playheadLocked() >= boundary_) {
            const Micros at = boundary_;
            ended_ = at >= source_->duration();
            post = ended_ ? didPlayToEndTimeNotification : playbackStalledNotification;
            reanchorLocked(at, 0);
        }
        opened = opened_;
        failed = failed_;
        ended = ended_;
        preferred = preferredForwardBuffer_;
        time = playheadLocked();
    }
    if (opened && !failed) {
        const Micros duration = source_->duration();
        duration_.setIfChanged(fromMicros(duration));
        const auto spans = source_->loadedSpans();
        std::vector<TimeRange> ranges;
        for (const auto& span : spans)
            ranges.push_back(
                TimeRange::fromStartToEnd(fromMicros(span.start), fromMicros(span.end)));
        loadedTimeRanges_.setIfChanged(std::move(ranges));

        const auto end = spanEndAt(spans, time);
        const Micros ahead = end ? *end - time : 0;
        const bool loadedToEnd = ended || (end && *end >= duration);
        const double wanted = preferred > 0 ? preferred : defaultForwardBufferDuration;
        bufferEmpty_.setIfChanged(ahead == 0 && !ended);
        likelyToKeepUp_.setIfChanged(loadedToEnd ||
                                     static_cast<double>(ahead) >= wanted * microsPerSecond);
        if (status_.get() == Status::unknown && source_->hasFrameAt(time)) {
            // Decoded here, off the main thread: the first picture is there when a screen
            // first asks, rather than costing that refresh the decoder's start.
            source_->videoFrameAt(time, nullptr);
            std::shared_ptr<Player> player;
            {
                std::lock_guard lock(mutex_);
                player = player_.lock();
            }
            if (player)
                player->itemWillBecomeReady(
                    std::static_pointer_cast<PlayerItem>(shared_from_this()));
            status_.set(Status::readyToPlay);
        }
        // Bytes well behind the playhead are the first to go when the store is full.
        if (const auto behind = source_->offsetAt(time - discardableAfter))
            store_->setDiscardableBefore(*behind);
        // More bytes may have moved the end of the loaded run.
        std::lock_guard lock(mutex_);
        if (rate_ > 0 && spanEndAt(spans, playheadLocked()).value_or(boundary_) != boundary_)
            armLocked();
    }
    updateLoading(seeking);
    if (post)
        NotificationCenter::defaultCenter().post(
            post, Value(std::static_pointer_cast<Object>(shared_from_this())));
    notifyPlayer();
}

void PlayerItem::updateLoading(bool seeking) {
    if (scripted_)
        return;
    std::vector<AssetResourceLoadingRequestPtr> cancelled;
    std::optional<AssetResourceLoadingRequest::Range> range;
    bool information = false;
    {
        std::lock_guard lock(mutex_);
        if (failed_ || !attached_)
            return;
        if (!infoKnown_) {
            if (infoRequest_)
                return;
            information = true;
            range = AssetResourceLoadingRequest::Range{0, 2, false};
        } else if (!byteRangeAccess_) {
            if (wholeResourceRequested_)
                return;
            wholeResourceRequested_ = true;
            range = AssetResourceLoadingRequest::Range{
                0, contentLength_ > 0 ? contentLength_ : std::numeric_limits<std::int64_t>::max(),
                true};
        } else {
            const auto wanted = opened_ ? source_->wantedOffset(playheadLocked()) : openWanted_;
            if (!wanted)
                return;
            const auto covers = [&](const AssetResourceLoadingRequestPtr& request) {
                const std::int64_t current = request->dataRequest()->currentOffset();
                return current <= *wanted && *wanted - current <= coveringDistance;
            };
            if (std::any_of(dataRequests_.begin(), dataRequests_.end(), covers))
                return;
            // Bytes keep arriving while the wanted byte is worked out: a request may have
            // brought it since, and then stands past it. Asked for again, it would come twice
            // (and the loader fetch it twice). Looked at only after the requests' offsets, so
            // that a byte delivered in between is seen here; the arrival has queued the
            // refresh that looks further.
            if (store_->present(*wanted, 1))
                return;
            if (seeking) {
                cancelled = std::move(dataRequests_);
                dataRequests_.clear();
            } else if (dataRequests_.size() >= maxOpenDataRequests) {
                const auto farthest = std::max_element(
                    dataRequests_.begin(), dataRequests_.end(), [&](const auto& a, const auto& b) {
                        return std::llabs(a->dataRequest()->currentOffset() - *wanted) <
                               std::llabs(b->dataRequest()->currentOffset() - *wanted);
                    });
                cancelled.push_back(*farthest);
                dataRequests_.erase(farthest);
            }
            const std::int64_t length = contentLength_ > 0
                                            ? contentLength_ - *wanted
                                            : std::numeric_limits<std::int64_t>::max() - *wanted;
            range = AssetResourceLoadingRequest::Range{*wanted, length, true};
        }
    }
    auto* urlAsset = dynamic_cast<URLAsset*>(asset_.get());
    if (!urlAsset)
        return;
    for (const auto& request : cancelled) urlAsset->resourceLoader().cancelLoading(request);
    // Known before the delegate sees it, since it may answer at once on another thread.
    auto request =
        AssetResourceLoadingRequest::make(urlAsset->url(), information, range,
                                          std::static_pointer_cast<PlayerItem>(shared_from_this()));
    {
        std::lock_guard lock(mutex_);
        // Detached or failed meanwhile: that took away every open request, and would miss
        // this one, which would then load for nobody.
        if (failed_ || !attached_)
            return;
        if (information)
            infoRequest_ = request;
        else
            dataRequests_.push_back(request);
    }
    if (urlAsset->resourceLoader().startLoading(request))
        return;
    // No delegate: nothing can be loaded, and the item stays unknown.
    std::lock_guard lock(mutex_);
    std::erase(dataRequests_, request);
}

void PlayerItem::requestDidRespond(const AssetResourceLoadingRequestPtr&, std::int64_t offset,
                                   std::span<const std::uint8_t> bytes) {
    store_->write(offset, bytes.data(), bytes.size());
    scheduleRefresh();
}

void PlayerItem::requestDidFinish(const AssetResourceLoadingRequestPtr& request,
                                  const std::optional<Error>& error) {
    bool endedEarly = false;
    {
        std::lock_guard lock(mutex_);
        if (request == infoRequest_ && !infoKnown_) {
            if (const auto* information = request->contentInformationRequest()) {
                contentType_ = information->contentType();
                const std::int64_t length = information->contentLength();
                contentLength_ = length > 0 ? length : -1;
                byteRangeAccess_ = information->isByteRangeAccessSupported();
            }
            infoKnown_ = !error;
            store_->setContentLength(contentLength_);
        }
        std::erase(dataRequests_, request);
        // A request that ends without a byte would be asked again for ever.
        const auto* data = request->dataRequest();
        endedEarly = request != infoRequest_ && data &&
                     data->currentOffset() == data->requestedOffset() &&
                     (contentLength_ < 0 || data->requestedOffset() < contentLength_);
    }
    if (error)
        fail(*error);
    else if (endedEarly)
        fail(MediaError::make(MediaError::fileFormatNotRecognized,
                              "The resource ended before the bytes asked for"));
    scheduleRefresh();
}

void PlayerItem::fail(const Error& error) {
    std::vector<AssetResourceLoadingRequestPtr> open;
    {
        std::lock_guard lock(mutex_);
        if (failed_)
            return;
        failed_ = true;
        open = std::move(dataRequests_);
        dataRequests_.clear();
        reanchorLocked(playheadLocked(), 0);
    }
    if (auto* resourceLoader = loader())
        for (const auto& request : open) resourceLoader->cancelLoading(request);
    error_.set(Value(error));
    status_.set(Status::failed);
    notifyPlayer();
}

void PlayerItem::notifyPlayer() {
    std::shared_ptr<Player> player;
    {
        std::lock_guard lock(mutex_);
        player = player_.lock();
    }
    if (player)
        player->itemDidChange(std::static_pointer_cast<PlayerItem>(shared_from_this()));
}

// --- Frames

ImagePtr PlayerItem::frameAt(MediaTime time, MediaTime* shownTime) {
    Micros shown = 0;
    auto image = source_->frameAt(toMicros(time), &shown);
    if (image && shownTime)
        *shownTime = fromMicros(shown);
    return image;
}

VideoFramePtr PlayerItem::videoFrameAt(MediaTime time, MediaTime* shownTime) {
    Micros shown = 0;
    auto frame = source_->videoFrameAt(toMicros(time), &shown);
    if (frame && shownTime)
        *shownTime = fromMicros(shown);
    return frame;
}

std::optional<MediaTime> PlayerItem::frameTimeAt(MediaTime time) const {
    const auto at = source_->frameTimeAt(toMicros(time));
    return at ? std::optional<MediaTime>(fromMicros(*at)) : std::nullopt;
}

}  // namespace pindle::platform
