// PlayerItem: one asset as a player plays it: whether it can play (status, error), its
// duration, which spans of time have their bytes (loaded time ranges), whether playback can
// go on (buffer empty, likely to keep up), and the current time of its timeline.
//
// An item loads only while it is a player's current item, and never waits for bytes: every
// byte of the asset comes through the asset's resource loader (a file URL is fed by an
// internal feeder), lands in a sparse byte store, and the media is read only where bytes are
// present. A missing byte becomes a loading request. The request pattern:
// - the first request asks for the content information and bytes 0..1; a finish with an
//   error fails the item;
// - then data requests run from a missing byte to the end of the resource: while the
//   header is being read, from the byte the last attempt missed; afterwards, from the first
//   byte still missing at or after the playhead's sample;
// - no new request is made while an open one will reach the wanted byte within 512 KiB,
//   nor for a byte the store holds (one that arrived while the item looked for it): every
//   byte is asked for once while it streams in;
// - at most two data requests are open, a third cancels the one farthest from the playhead,
//   and a seek cancels the open requests that do not cover the new position;
// - without byte-range access there is one request, for everything;
// - replacing or releasing the item cancels its open requests. Every cancellation reaches
//   the delegate as didCancelLoadingRequest, on its queue.
// The item becomes readyToPlay once the header is read and the frame at the playhead has
// its bytes, and never goes back; it becomes failed when a request ends with an error, or
// the bytes are not media.
//
// KVO keys: "status", "error", "duration", "loadedTimeRanges", "playbackBufferEmpty",
// "playbackLikelyToKeepUp". Notifications, with the item as the object: the stalled one
// when the playhead reaches the end of its loaded bytes before the duration while playing;
// the played-to-end one at the duration.
//
// Thread-safety: all public operations are safe from any thread. Public calls change the
// state at once and announce on the calling thread; byte arrivals, opens and timeline events
// run on the item's serial queue ("com.pindle.platform.playeritem.<n>") and announce there.
// No lock is held while announcing or posting.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "platform/dispatch/Clock.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/foundation/Error.hpp"
#include "platform/foundation/KeyValueObserving.hpp"
#include "platform/foundation/MediaTime.hpp"
#include "platform/media/Asset.hpp"
#include "platform/media/AssetResourceLoader.hpp"
#include "platform/media/AssetResourceLoadingRequest.hpp"
#include "platform/media/Image.hpp"
#include "platform/media/MediaByteStore.hpp"
#include "platform/media/MediaSource.hpp"
#include "platform/media/TimeRange.hpp"

namespace pindle::platform {

class Player;
class PlayerItem;
class PlayerItemVideoOutput;
using PlayerItemPtr = std::shared_ptr<PlayerItem>;

class PlayerItem : public KeyValueObservable, public AssetResourceLoadingRequest::Receiver {
  public:
    enum class Status { unknown, readyToPlay, failed };
    static constexpr const char* didPlayToEndTimeNotification =
        "AVPlayerItemDidPlayToEndTimeNotification";
    static constexpr const char* playbackStalledNotification =
        "AVPlayerItemPlaybackStalledNotification";
    // The forward buffer that counts as likely to keep up when none is preferred.
    static constexpr double defaultForwardBufferDuration = 2.0;

    static PlayerItemPtr make(std::shared_ptr<Asset> asset);
    // An item whose media answers come from `source` instead of the asset's bytes (a test
    // seam: no request is made).
    static PlayerItemPtr make(std::shared_ptr<Asset> asset, std::shared_ptr<MediaSource> source);

    struct Private {
        explicit Private() = default;
    };
    PlayerItem(Private, std::shared_ptr<Asset> asset, std::shared_ptr<MediaSource> source);
    ~PlayerItem() override;

    Status status() const { return status_.get(); }
    std::optional<Error> error() const;
    // Indefinite until the header has been read.
    MediaTime duration() const { return duration_.get(); }
    std::vector<TimeRange> loadedTimeRanges() const { return loadedTimeRanges_.get(); }
    bool isPlaybackBufferEmpty() const { return bufferEmpty_.get(); }
    bool isPlaybackLikelyToKeepUp() const { return likelyToKeepUp_.get(); }
    void setPreferredForwardBufferDuration(double seconds);
    double preferredForwardBufferDuration() const;
    MediaTime currentTime() const;
    const std::shared_ptr<Asset>& asset() const { return asset_; }
    // What the item has been handed of the asset's bytes, and how much of it twice.
    MediaByteStore::Counters byteCounters() const { return store_->counters(); }
    // The serial queue byte arrivals, opens and timeline events run on; whoever must see the
    // item's reactions through (a test settling a scenario) waits on it.
    const std::shared_ptr<DispatchQueue>& queue() const { return queue_; }
    void addOutput(std::shared_ptr<PlayerItemVideoOutput> output);
    std::vector<std::shared_ptr<PlayerItemVideoOutput>> outputs() const;

    // The player's side.
    void attach(std::weak_ptr<Player> player);
    void detach();
    // Runs the timeline at `rate` (0 holds it) from the current time.
    void setTimelineRate(double rate);
    // Moves the playhead (clamped to the item) and loads from there. Returns the audio
    // generation the new position starts (see audioClockReport).
    std::uint64_t seekTo(MediaTime time);
    bool hasPlayedToEnd() const;
    // The audio generation of the current position; every seek starts a new one.
    std::uint64_t audioGeneration() const;
    // A reader of the item's sound; null without a track that can be decoded (`error` says
    // why when there is a track).
    std::unique_ptr<MediaSource::AudioReader> makeAudioReader(Error* error);
    // The sound's side: the sample of media time `time` is heard at `uptime` (which may lie
    // ahead), so the sound runs on the line through that point at the timeline's rate; and
    // `written` is the media time after the last sample handed to the server (nothing once
    // the track has ended). While the timeline runs, it follows such reports from the current
    // audio generation and never passes `written`, since nothing beyond it can have been
    // heard; without reports for a while, it runs on the Clock from where it stands. It never
    // goes back: a sound behind the playhead holds it until the sound gets there (which is
    // how the timeline waits at a new position for the first sample). When `hearing` (the
    // sample is of this generation's sound, not still to come after a flush) and the sound is
    // so far behind that holding would freeze the picture, the timeline is left as it is and
    // its playhead returned: the sound should go on from there instead.
    std::optional<std::int64_t> audioClockReport(std::uint64_t generation, std::int64_t time,
                                                 Clock::Duration uptime,
                                                 std::optional<std::int64_t> written = std::nullopt,
                                                 bool hearing = false);
    // The sound has stopped for good (its stream or server failed), or will not start: the
    // timeline runs on the Clock from where it stands.
    void audioClockStopped(std::uint64_t generation);

    // The video output's side: the frame shown at `time`.
    ImagePtr frameAt(MediaTime time, MediaTime* shownTime);
    VideoFramePtr videoFrameAt(MediaTime time, MediaTime* shownTime);
    std::optional<MediaTime> frameTimeAt(MediaTime time) const;

    Value valueForKey(std::string_view key) const override;

    void requestDidRespond(const AssetResourceLoadingRequestPtr& request, std::int64_t offset,
                           std::span<const std::uint8_t> bytes) override;
    void requestDidFinish(const AssetResourceLoadingRequestPtr& request,
                          const std::optional<Error>& error) override;

  private:
    using Micros = MediaSource::Micros;

    Micros playheadLocked() const;
    void reanchorLocked(Micros time, double rate);
    void armLocked();
    void scheduleRefresh();
    void refresh(bool seeking);
    void tryOpen();
    void updateLoading(bool seeking);
    void armBoundary();
    void boundaryReached(std::uint64_t generation);
    // Lifts the sound's ceiling once no report has come for a while.
    void audioCeilingCheck();
    void fail(const Error& error);
    void notifyPlayer();
    AssetResourceLoader* loader() const;

    const std::shared_ptr<Asset> asset_;
    const std::shared_ptr<DispatchQueue> queue_;
    const std::shared_ptr<MediaByteStore> store_;
    const std::shared_ptr<MediaSource> source_;
    const bool scripted_;

    ObservableProperty<Status> status_{*this, "status", Status::unknown};
    ObservableProperty<Value> error_{*this, "error"};
    ObservableProperty<MediaTime> duration_{*this, "duration", MediaTime::indefiniteTime()};
    ObservableProperty<std::vector<TimeRange>> loadedTimeRanges_{*this, "loadedTimeRanges"};
    ObservableProperty<bool> bufferEmpty_{*this, "playbackBufferEmpty", true};
    ObservableProperty<bool> likelyToKeepUp_{*this, "playbackLikelyToKeepUp", false};

    mutable std::mutex mutex_;
    std::weak_ptr<Player> player_;                                 // guarded by mutex_
    bool attached_ = false;                                        // guarded by mutex_
    std::shared_ptr<AssetResourceLoaderDelegate> feeder_;          // guarded by mutex_; file URLs
    double preferredForwardBuffer_ = 0;                            // guarded by mutex_
    std::vector<std::shared_ptr<PlayerItemVideoOutput>> outputs_;  // guarded by mutex_
    // What the content information said.
    bool infoKnown_ = false;                                    // guarded by mutex_
    std::string contentType_;                                   // guarded by mutex_
    std::int64_t contentLength_ = -1;                           // guarded by mutex_
    bool byteRangeAccess_ = true;                               // guarded by mutex_
    AssetResourceLoadingRequestPtr infoRequest_;                // guarded by mutex_
    std::vector<AssetResourceLoadingRequestPtr> dataRequests_;  // guarded by mutex_; open ones
    bool wholeResourceRequested_ = false;                       // guarded by mutex_
    std::optional<std::int64_t> openWanted_;  // guarded by mutex_; the last open's miss
    bool opened_ = false;                     // guarded by mutex_
    bool failed_ = false;                     // guarded by mutex_
    // The timeline: the playhead is anchorTime_ + (uptime - anchorUptime_) * rate_, held
    // at boundary_ (the end of the loaded run, or the duration). While sound plays, its
    // reports move the anchor (to an uptime ahead, before the first sample is heard).
    Micros anchorTime_ = 0;                 // guarded by mutex_
    Clock::Duration anchorUptime_{};        // guarded by mutex_
    double rate_ = 0;                       // guarded by mutex_
    Micros boundary_ = 0;                   // guarded by mutex_
    std::uint64_t boundaryGeneration_ = 0;  // guarded by mutex_
    bool ended_ = false;                    // guarded by mutex_
    std::uint64_t audioGeneration_ = 0;     // guarded by mutex_
    // While sound plays: the playhead stays at or below this (see audioClockReport); any
    // re-anchoring lifts it, as does a stretch without reports.
    std::optional<Micros> audioCeiling_;     // guarded by mutex_
    Clock::Duration lastAudioReport_{};      // guarded by mutex_
    bool audioCeilingCheckPending_ = false;  // guarded by mutex_
};

}  // namespace pindle::platform
