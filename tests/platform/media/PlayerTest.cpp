#include "platform/media/Player.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>

#include "platform/foundation/MediaError.hpp"
#include "platform/foundation/NotificationCenter.hpp"
#include "platform/media/AudioSession.hpp"
#include "platform/media/MediaWriter.hpp"
#include "platform/media/PlayerItemVideoOutput.hpp"
#include "platform/media/ScriptedMediaSource.hpp"
#include "platform/media/URLAsset.hpp"
#include "support/MediaFixtures.hpp"
#include "support/ScriptedLoaderDelegate.hpp"
#include "support/VirtualTimeTest.hpp"
#include "tests/support/TestFolders.hpp"

namespace pindle::platform {
namespace {

using testing::ClipOptions;
using testing::eventually;
using testing::ScriptedLoaderDelegate;

ClipOptions fourSeconds(bool faststart = true, double toneHz = 0) {
    ClipOptions options;
    options.seconds = 4;
    options.bFrames = false;
    options.faststart = faststart;
    options.toneHz = toneHz;
    return options;
}

// Clips are written once per process: writing one takes a while under the sanitizers.
const std::string& clip(const ClipOptions& options) {
    static std::mutex mutex;
    static std::map<std::tuple<bool, double, bool>, std::string> clips;
    std::lock_guard lock(mutex);
    auto& bytes = clips[{options.faststart, options.toneHz, options.bFrames}];
    if (bytes.empty())
        bytes = testing::clipBytes(options);
    return bytes;
}

// A clip of noise, about a megabyte, so that its parts lie further apart than an open
// request is allowed to reach.
const std::string& noisyClip(bool faststart) {
    static std::mutex mutex;
    static std::map<bool, std::string> clips;
    std::lock_guard lock(mutex);
    auto& bytes = clips[faststart];
    if (!bytes.empty())
        return bytes;
    const auto path = std::filesystem::path(pindle::testing::processFolder()) / "player-noise.mp4";
    MediaWriter::Settings settings;
    settings.video = MediaWriter::VideoSettings{};
    settings.video->width = 320;
    settings.video->height = 240;
    settings.video->bitRate = 2'000'000;
    settings.optimizeForNetworkUse = faststart;
    auto writer = MediaWriter::create(path.string(), settings);
    std::vector<std::uint8_t> pixels(320 * 240 * 4);
    std::uint32_t state = 12345;
    for (int frame = 0; frame < 120; ++frame) {
        for (auto& byte : pixels) {
            state = state * 1664525u + 1013904223u;
            byte = static_cast<std::uint8_t>(state >> 24);
        }
        EXPECT_TRUE(writer->appendVideoFrame(pixels.data(), 320 * 4, frame / 30.0).ok());
    }
    EXPECT_TRUE(writer->finish().ok());
    std::ifstream file(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(file), {});
    std::filesystem::remove(path);
    return bytes;
}

double seconds(MediaTime time) {
    return time.seconds();
}

class PlayerTest : public testing::VirtualTimeTest {
  protected:
    void TearDown() override {
        for (auto& registration : registrations_)
            NotificationCenter::defaultCenter().removeObserver(registration);
        player_.reset();
        item_.reset();
        testing::VirtualTimeTest::TearDown();
    }

    void load(const std::string& bytes, ScriptedLoaderDelegate::Options options = {}) {
        asset_ = URLAsset::make(*URL::fromString("pinlet://player-uid/video1"));
        delegate_ = std::make_shared<ScriptedLoaderDelegate>(bytes, options);
        asset_->resourceLoader().setDelegate(delegate_, delegate_->queue());
        item_ = PlayerItem::make(asset_);
        // What the new player asks for first must have settled before a test moves the clock,
        // or a late refresh could open requests the clock does not know to wait for.
        runSettled([this] { player_ = Player::make(item_); });
    }

    // Lets answers that need no clock run until `condition` holds.
    bool settle(const std::function<bool()>& condition) {
        return eventually([&] {
            advance(0);
            return condition();
        });
    }

    // For streaming answers, which move with the clock: once load() has settled, everything
    // follows from clock deliveries, which advance() waits for.
    bool advanceUntil(const std::function<bool()>& condition) {
        if (delegate_->ticksScheduled() == 0)
            return false;
        for (int step = 0; step < 200; ++step) {
            if (condition())
                return true;
            advance(ScriptedLoaderDelegate::tick);
        }
        return condition();
    }

    bool ready(const PlayerItemPtr& item) {
        return item->status() == PlayerItem::Status::readyToPlay;
    }
    bool ready() { return ready(item_); }

    // Records when (virtual seconds) each named notification about the item was posted.
    void recordNotifications() {
        for (const char* name :
             {PlayerItem::playbackStalledNotification, PlayerItem::didPlayToEndTimeNotification})
            registrations_.push_back(NotificationCenter::defaultCenter().addObserverForName(
                std::string(name), item_.get(), nullptr, [this, name](const Notification&) {
                    std::lock_guard lock(postsMutex_);
                    posts_.emplace_back(
                        name, std::chrono::duration<double>(clock_->uptime() - start_).count());
                }));
    }
    std::vector<std::pair<std::string, double>> posts() {
        std::lock_guard lock(postsMutex_);
        return posts_;
    }

    URLAssetPtr asset_;
    std::shared_ptr<ScriptedLoaderDelegate> delegate_;
    PlayerItemPtr item_;
    PlayerPtr player_;
    Clock::Duration start_{};
    std::vector<NotificationCenter::RegistrationPtr> registrations_;
    std::mutex postsMutex_;
    std::vector<std::pair<std::string, double>> posts_;
};

TEST_F(PlayerTest, AsksForContentInformationFirstThenStreamsToTheEnd) {
    const std::string& bytes = clip(fourSeconds());
    load(bytes);
    ASSERT_TRUE(settle([&] { return ready(); }));
    const auto requests = delegate_->requests();
    ASSERT_GE(requests.size(), 2u);
    EXPECT_TRUE(requests[0].contentInformation);
    EXPECT_EQ(requests[0].offset, 0);
    EXPECT_EQ(requests[0].length, 2);
    EXPECT_FALSE(requests[0].toEnd);
    EXPECT_FALSE(requests[1].contentInformation);
    EXPECT_EQ(requests[1].offset, 2);
    EXPECT_TRUE(requests[1].toEnd);
    EXPECT_EQ(requests[1].length, static_cast<std::int64_t>(bytes.size()) - 2);
    EXPECT_NEAR(seconds(item_->duration()), 4.0, 0.05);
    EXPECT_NEAR(seconds(asset_->duration()), 4.0, 0.05);
    EXPECT_EQ(player_->status(), Player::Status::readyToPlay);
    ASSERT_TRUE(settle([&] {
        const auto ranges = item_->loadedTimeRanges();
        return ranges.size() == 1 && ranges[0].end() == item_->duration();
    }));
    ASSERT_TRUE(settle([&] { return delegate_->requests().back().request->isFinished(); }));
    for (const auto& seen : delegate_->requests()) {
        EXPECT_TRUE(seen.request->isFinished());
        EXPECT_EQ(seen.request->diagnostics().respondsAfterEnd, 0);
        EXPECT_EQ(seen.request->diagnostics().finishesAfterEnd, 0);
    }
}

TEST_F(PlayerTest, ReadsAnIndexAtTheEndThroughATailRequest) {
    const std::string& bytes = noisyClip(false);
    ASSERT_GT(bytes.size(), 800'000u);
    ScriptedLoaderDelegate::Options options;
    options.bytesPerSecond = 50000;
    load(bytes, options);
    ASSERT_TRUE(advanceUntil([&] { return ready(); }));
    const auto requests = delegate_->requests();
    const auto size = static_cast<std::int64_t>(bytes.size());
    const bool tail = std::any_of(requests.begin(), requests.end(), [&](const auto& seen) {
        return seen.offset > size / 2 && seen.toEnd && seen.length == size - seen.offset;
    });
    EXPECT_TRUE(tail);
    EXPECT_LE(requests.size(), 4u);
}

TEST_F(PlayerTest, ASeekToMissingBytesAndAReplacedItemCancelOnTheDelegatesQueue) {
    const std::string& bytes = noisyClip(true);
    ScriptedLoaderDelegate::Options options;
    options.bytesPerSecond = 50000;
    load(bytes, options);
    ASSERT_TRUE(advanceUntil([&] { return ready(); }));
    ASSERT_TRUE(advanceUntil([&] { return ready(); }));
    const auto before = delegate_->requests();
    ASSERT_EQ(delegate_->cancelled().size(), 0u);
    const auto streaming = before.back().request;
    const int ticksBefore = delegate_->ticksScheduled();

    bool seekFinished = false;
    player_->seek(MediaTime::makeWithSeconds(3.5, 1000000),
                  [&](bool finished) { seekFinished = finished; });
    // Until the new request's first answer is given, which the replacement below would race.
    ASSERT_TRUE(settle([&] {
        return delegate_->cancelled().size() == 1 && seekFinished &&
               delegate_->requests().size() == before.size() + 1 &&
               delegate_->ticksScheduled() > ticksBefore;
    }));
    EXPECT_EQ(delegate_->cancelled()[0], streaming);
    const auto after = delegate_->requests();
    EXPECT_GT(after.back().offset, streaming->dataRequest()->currentOffset());
    EXPECT_NEAR(seconds(player_->currentTime()), 3.5, 1e-6);

    player_->replaceCurrentItem(nullptr);
    ASSERT_TRUE(settle([&] { return delegate_->cancelled().size() == 2; }));
    EXPECT_EQ(delegate_->cancelled()[1], after.back().request);
    EXPECT_EQ(delegate_->cancellationsOffQueue(), 0);
    for (const auto& seen : delegate_->requests()) {
        EXPECT_TRUE(seen.request->isFinished() || seen.request->isCancelled());
        EXPECT_EQ(seen.request->diagnostics().respondsAfterEnd, 0);
    }
}

TEST_F(PlayerTest, FailsOnAFinishWithAnErrorAndOnBytesThatAreNoMedia) {
    struct Case {
        const char* name;
        std::string bytes;
        ScriptedLoaderDelegate::Options options;
    };
    ScriptedLoaderDelegate::Options failing;
    failing.failWith = Error("NSURLErrorDomain", -1009, {});
    ScriptedLoaderDelegate::Options text;
    text.contentType = "public.plain-text";
    const Case cases[] = {
        {"error", clip(fourSeconds()), failing},
        {"text", std::string(3000, 'a'), text},
        {"png", std::string("\x89PNG\r\n\x1a\n", 8) + std::string(3000, '\0'), {}},
    };
    for (const auto& c : cases) {
        load(c.bytes, c.options);
        ASSERT_TRUE(settle([&] { return item_->status() == PlayerItem::Status::failed; }))
            << c.name;
        ASSERT_TRUE(item_->error()) << c.name;
        if (c.options.failWith)
            EXPECT_EQ(item_->error()->code(), -1009);
        else
            EXPECT_EQ(item_->error()->code(), MediaError::fileFormatNotRecognized) << c.name;
        EXPECT_NE(player_->status(), Player::Status::readyToPlay);
    }
}

TEST_F(PlayerTest, StallsWhereTheBytesRunOutResumesAndEndsAtTheDuration) {
    const std::string& bytes = clip(fourSeconds());
    ScriptedLoaderDelegate::Options options;
    options.holdFrom = static_cast<std::int64_t>(bytes.size()) / 2;
    load(bytes, options);
    player_->setAutomaticallyWaitsToMinimizeStalling(false);
    ASSERT_TRUE(settle([&] { return ready() && !item_->loadedTimeRanges().empty(); }));
    const auto ranges = item_->loadedTimeRanges();
    ASSERT_EQ(ranges.size(), 1u);
    const double loadedEnd = seconds(ranges[0].end());
    // Whole frames: without B-frames the index's times are the frames' times.
    EXPECT_NEAR(loadedEnd * 30, std::round(loadedEnd * 30), 1e-3);
    ASSERT_GT(loadedEnd, 0.5);
    ASSERT_LT(loadedEnd, 3.5);

    recordNotifications();
    start_ = clock_->uptime();
    player_->play();
    EXPECT_EQ(player_->timeControlStatus(), Player::TimeControlStatus::playing);
    advance(3.9);
    ASSERT_EQ(posts().size(), 1u);
    EXPECT_EQ(posts()[0].first, PlayerItem::playbackStalledNotification);
    EXPECT_NEAR(posts()[0].second, loadedEnd, 1e-6);
    EXPECT_NEAR(seconds(player_->currentTime()), loadedEnd, 1e-6);
    EXPECT_EQ(player_->timeControlStatus(),
              Player::TimeControlStatus::waitingToPlayAtSpecifiedRate);
    EXPECT_EQ(player_->rate(), 1.0);
    EXPECT_TRUE(item_->isPlaybackBufferEmpty());

    // While stalled the picture holds on the last frame that has its bytes.
    auto output = PlayerItemVideoOutput::make();
    item_->addOutput(output);
    MediaTime shown;
    auto image = output->copyImage(player_->currentTime(), &shown);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(testing::readFrameNumber(*image), std::lround(loadedEnd * 30) - 1);

    delegate_->release();
    const double resumedAt = 3.9;
    ASSERT_TRUE(
        settle([&] { return player_->timeControlStatus() == Player::TimeControlStatus::playing; }));
    const double duration = seconds(item_->duration());
    advance(duration - loadedEnd - 0.01);
    EXPECT_EQ(posts().size(), 1u);
    advance(0.02);
    ASSERT_EQ(posts().size(), 2u);
    EXPECT_EQ(posts()[1].first, PlayerItem::didPlayToEndTimeNotification);
    EXPECT_NEAR(posts()[1].second, resumedAt + duration - loadedEnd, 1e-6);
    EXPECT_EQ(player_->rate(), 0.0);
    EXPECT_EQ(player_->timeControlStatus(), Player::TimeControlStatus::paused);
    EXPECT_NEAR(seconds(player_->currentTime()), duration, 1e-6);
    EXPECT_FALSE(item_->isPlaybackBufferEmpty());
}

TEST_F(PlayerTest, WaitsUntilLikelyToKeepUpWhenAskedTo) {
    const std::string& bytes = clip(fourSeconds());
    ScriptedLoaderDelegate::Options options;
    options.holdFrom = static_cast<std::int64_t>(bytes.size()) / 4;
    load(bytes, options);
    ASSERT_TRUE(settle([&] { return ready() && !item_->loadedTimeRanges().empty(); }));
    ASSERT_LT(seconds(item_->loadedTimeRanges()[0].end()), 2.0);
    player_->play();
    advance(0.5);
    EXPECT_EQ(player_->timeControlStatus(),
              Player::TimeControlStatus::waitingToPlayAtSpecifiedRate);
    EXPECT_EQ(seconds(player_->currentTime()), 0.0);
    delegate_->release();
    ASSERT_TRUE(settle([&] { return item_->isPlaybackLikelyToKeepUp(); }));
    ASSERT_TRUE(
        settle([&] { return player_->timeControlStatus() == Player::TimeControlStatus::playing; }));
}

TEST_F(PlayerTest, PeriodicObserversFireOnEveryIntervalAndOnceOnRateChangesAndSeeks) {
    load(clip(fourSeconds()));
    ASSERT_TRUE(settle([&] { return ready() && item_->isPlaybackLikelyToKeepUp(); }));
    std::vector<double> times;
    auto token =
        player_->addPeriodicTimeObserver(MediaTime(3, 100), DispatchQueue::main(),
                                         [&](MediaTime time) { times.push_back(seconds(time)); });
    player_->play();
    ASSERT_EQ(player_->timeControlStatus(), Player::TimeControlStatus::playing);
    advance(1.0);
    MainThread::drain();
    // Once for the rate change, then at 0.03, 0.06, ... 0.99.
    ASSERT_EQ(times.size(), 34u);
    EXPECT_EQ(times[0], 0.0);
    EXPECT_NEAR(times[1], 0.03, 1e-6);
    EXPECT_NEAR(times.back(), 0.99, 1e-6);

    times.clear();
    player_->seek(MediaTime(2, 1));
    MainThread::drain();
    ASSERT_EQ(times.size(), 1u);
    EXPECT_NEAR(times[0], 2.0, 1e-6);

    times.clear();
    player_->pause();
    advance(1.0);
    MainThread::drain();
    EXPECT_EQ(times.size(), 1u);  // the rate change only

    player_->removeTimeObserver(token);
    player_->play();
    advance(0.5);
    MainThread::drain();
    EXPECT_EQ(times.size(), 1u);
}

TEST_F(PlayerTest, ObservesTheItemThroughTheCurrentItemPathAcrossReplacements) {
    load(clip(fourSeconds()));
    auto item = item_;
    player_->replaceCurrentItem(nullptr);
    // Told on the thread that changed the status: the item loads on its own queue.
    struct Statuses {
        std::mutex mutex;
        std::vector<Value> values;  // guarded by mutex
        void add(const Value& value) {
            std::lock_guard lock(mutex);
            values.push_back(value);
        }
        std::vector<Value> get() {
            std::lock_guard lock(mutex);
            return values;
        }
    } statuses;
    auto observation =
        player_->observe("currentItem.status", KVOOption::initial | KVOOption::newValue,
                         [&](const KVOChange& change) { statuses.add(change.newValue); });
    ASSERT_EQ(statuses.get().size(), 1u);
    EXPECT_TRUE(statuses.get()[0].isNull());

    const auto code = [](PlayerItem::Status status) {
        return Value(static_cast<long long>(status));
    };
    // Its bytes wait until it has been announced: an item starts loading as soon as it is
    // attached, which is before the announcement.
    ScriptedLoaderDelegate::Options held;
    held.holdFrom = 0;
    auto heldDelegate = std::make_shared<ScriptedLoaderDelegate>(clip(fourSeconds()), held);
    auto heldAsset = URLAsset::make(*URL::fromString("pinlet://player-uid/video3"));
    heldAsset->resourceLoader().setDelegate(heldDelegate, heldDelegate->queue());
    auto fresh = PlayerItem::make(heldAsset);
    player_->replaceCurrentItem(fresh);
    ASSERT_EQ(statuses.get().size(), 2u);
    EXPECT_EQ(statuses.get()[1], code(PlayerItem::Status::unknown));
    item_ = fresh;
    heldDelegate->release();
    ASSERT_TRUE(settle([&] { return statuses.get().size() == 3; }));
    EXPECT_EQ(statuses.get()[2], code(PlayerItem::Status::readyToPlay));

    // The old item's changes are no longer seen; the new one's are.
    auto other = PlayerItem::make(URLAsset::make(*URL::fromString("pinlet://player-uid/video2")));
    player_->replaceCurrentItem(other);
    ASSERT_EQ(statuses.get().size(), 4u);
    EXPECT_EQ(statuses.get()[3], code(PlayerItem::Status::unknown));
    player_->replaceCurrentItem(nullptr);
    ASSERT_EQ(statuses.get().size(), 5u);
    EXPECT_TRUE(statuses.get()[4].isNull());
    observation->invalidate();
}

TEST_F(PlayerTest, ShowsTheFrameAtTheSeekTarget) {
    load(clip(fourSeconds(true, 440)));
    ASSERT_TRUE(settle([&] {
        const auto ranges = item_->loadedTimeRanges();
        return ranges.size() == 1 && ranges[0].end() == item_->duration();
    }));
    auto output = PlayerItemVideoOutput::make();
    item_->addOutput(output);
    bool done = false;
    player_->seek(MediaTime(2000000, 1000000), [&](bool finished) { done = finished; });
    ASSERT_TRUE(settle([&] { return done; }));
    EXPECT_TRUE(output->hasNewImage(player_->currentTime()));
    MediaTime shown;
    auto image = output->copyImage(player_->currentTime(), &shown);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(testing::readFrameNumber(*image), 60);
    EXPECT_NEAR(seconds(shown), 2.0, 1e-6);
    EXPECT_FALSE(output->hasNewImage(player_->currentTime()));
}

TEST_F(PlayerTest, PlaysAFileURLWithoutADelegate) {
    const auto path = std::filesystem::path(pindle::testing::processFolder()) / "player-file.mp4";
    ASSERT_TRUE(testing::writeClip(path.string(), fourSeconds(false, 440)).ok());
    auto item = PlayerItem::make(URLAsset::make(URL::fileURLWithPath(path.string())));
    auto player = Player::make(item);
    ASSERT_TRUE(settle([&] {
        const auto ranges = item->loadedTimeRanges();
        return ranges.size() == 1 && ranges[0].end() == item->duration() &&
               item->status() == PlayerItem::Status::readyToPlay;
    }));
    player->play();
    ASSERT_EQ(player->timeControlStatus(), Player::TimeControlStatus::playing);
    advance(5.0);
    EXPECT_NEAR(seconds(player->currentTime()), seconds(item->duration()), 1e-6);
    EXPECT_EQ(player->rate(), 0.0);
    std::filesystem::remove(path);
}

TEST_F(PlayerTest, ScriptedSourceDrivesReadinessAndBuffering) {
    auto source = std::make_shared<ScriptedMediaSource>();
    source->setDuration(10);
    auto item = PlayerItem::make(URLAsset::make(*URL::fromString("pinlet://u/v")), source);
    auto player = Player::make(item);
    player->setAutomaticallyWaitsToMinimizeStalling(false);
    ASSERT_TRUE(settle([&] { return item->duration() == MediaTime(10, 1); }));
    EXPECT_EQ(item->status(), PlayerItem::Status::unknown);
    source->setLoadedRanges({{0, 1.5}});
    source->setFirstFramePresent(true);
    ASSERT_TRUE(settle([&] { return item->status() == PlayerItem::Status::readyToPlay; }));
    EXPECT_FALSE(item->isPlaybackBufferEmpty());
    EXPECT_FALSE(item->isPlaybackLikelyToKeepUp());
    item->setPreferredForwardBufferDuration(1.0);
    ASSERT_TRUE(settle([&] { return item->isPlaybackLikelyToKeepUp(); }));
    player->play();
    advance(2.0);
    EXPECT_NEAR(seconds(player->currentTime()), 1.5, 1e-6);
    EXPECT_TRUE(item->isPlaybackBufferEmpty());
}

TEST_F(PlayerTest, AnItemReadyBeforeItIsInstalledIsAnnouncedWithThePlayerReady) {
    auto source = std::make_shared<ScriptedMediaSource>();
    source->setDuration(10);
    source->setLoadedRanges({{0, 10}});
    source->setFirstFramePresent(true);
    auto item = PlayerItem::make(URLAsset::make(*URL::fromString("pinlet://u/v")), source);
    item->setPreferredForwardBufferDuration(1.0);  // a refresh, which finds the first frame
    ASSERT_TRUE(settle([&] { return ready(item); }));

    auto player = Player::make();
    std::mutex mutex;
    std::vector<Player::Status> seen;  // guarded by mutex
    auto observation = player->observe(
        "currentItem.status", static_cast<unsigned>(KVOOption::newValue), [&](const KVOChange&) {
            std::lock_guard lock(mutex);
            seen.push_back(player->status());
        });
    player->replaceCurrentItem(item);
    {
        std::lock_guard lock(mutex);
        ASSERT_FALSE(seen.empty());
        EXPECT_EQ(seen.front(), Player::Status::readyToPlay);
    }
    observation->invalidate();
}

// What the sound says moves the timeline forward at once, or holds it until the sound gets
// there, but never takes it back; a sound far behind the picture is left to catch up instead
// of freezing it; and the timeline never passes the last sample written.
TEST_F(PlayerTest, SoundReportsMoveTheTimelineOnOrHoldItButNeverBack) {
    using Micros = std::int64_t;
    const auto micros = [](double s) {
        return static_cast<Micros>(std::llround(s * 1e6));
    };
    struct Report {
        double time;  // the media time heard...
        double in;    // ...this long from now (negative: ago)
        std::optional<double> written;
        bool hearing;
    };
    struct Case {
        const char* what;
        Report report;
        bool catchesUp;
        std::vector<std::pair<double, double>> after;  // (seconds later, time read)
    };
    const std::vector<Case> cases = {
        {"ahead: moves on at once",
         {1.030, 0, std::nullopt, true},
         false,
         {{0, 1.030}, {0.1, 1.130}}},
        {"a little behind: holds until the sound gets there",
         {0.960, 0, std::nullopt, true},
         false,
         {{0, 1.0}, {0.02, 1.0}, {0.05, 1.010}}},
        {"agrees within the slack: left alone",
         {1.001, 0, std::nullopt, true},
         false,
         {{0, 1.0}, {0.1, 1.1}}},
        {"far behind while heard: runs on, the sound catches up",
         {0.0, 0, 0.2, true},
         true,
         {{0, 1.0}, {0.1, 1.1}}},
        {"first sample still to come: holds",
         {1.0, 0.5, std::nullopt, false},
         false,
         {{0.3, 1.0}, {0.6, 1.1}}},
        {"written so far: a ceiling, lifted when the reports stop",
         {1.0, 0, 1.05, true},
         false,
         {{0.1, 1.05}, {1.9, 1.05}, {2.2, 1.25}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto source = std::make_shared<ScriptedMediaSource>();
        source->setDuration(10);
        source->setLoadedRanges({{0, 10}});
        source->setFirstFramePresent(true);
        auto item = PlayerItem::make(URLAsset::make(*URL::fromString("pinlet://u/v")), source);
        auto player = Player::make(item);
        player->setAutomaticallyWaitsToMinimizeStalling(false);
        ASSERT_TRUE(settle([&] { return ready(item); }));
        player->play();
        advance(1.0);
        ASSERT_NEAR(seconds(player->currentTime()), 1.0, 1e-6);

        const auto uptime = clock_->uptime() + std::chrono::microseconds(micros(c.report.in));
        const auto written =
            c.report.written ? std::optional<Micros>(micros(*c.report.written)) : std::nullopt;
        const auto catchUpAt = item->audioClockReport(
            item->audioGeneration(), micros(c.report.time), uptime, written, c.report.hearing);
        EXPECT_EQ(catchUpAt.has_value(), c.catchesUp);
        EXPECT_EQ(catchUpAt.value_or(micros(1.0)), micros(1.0));
        double elapsed = 0;
        double last = 1.0;
        for (const auto& [at, expected] : c.after) {
            advance(at - elapsed);
            elapsed = at;
            const double time = seconds(player->currentTime());
            EXPECT_NEAR(time, expected, 1e-3) << at << " s after the report";
            EXPECT_GE(time, last);
            last = time;
        }
        player->pause();
    }
}

TEST_F(PlayerTest, AudioSessionAnnouncesVolumeChanges) {
    auto& session = AudioSession::sharedInstance();
    std::vector<double> volumes;
    auto observation = session.observe(
        "outputVolume", static_cast<unsigned>(KVOOption::newValue), [&](const KVOChange& change) {
            volumes.push_back(change.newValue.asDouble().value_or(-1));
        });
    session.simulateOutputVolumeChange(0.25f);
    session.simulateOutputVolumeChange(2.0f);
    EXPECT_EQ(volumes, (std::vector<double>{0.25, 1.0}));
    EXPECT_EQ(session.outputVolume(), 1.0f);
    observation->invalidate();
}

}  // namespace
}  // namespace pindle::platform
