// The player's sound against a real sound server: a private pulseaudio daemon with a null
// sink whose monitor the tests record.
#include <gtest/gtest.h>

#include <sys/mman.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <fstream>
#include <functional>
#include <thread>

#include "platform/audio/private/SoundServer.hpp"
#include "platform/dispatch/Clock.hpp"
#include "platform/dispatch/MainThread.hpp"
#include "platform/log/StandardError.hpp"
#include "platform/media/Player.hpp"
#include "platform/media/PlayerItemVideoOutput.hpp"
#include "platform/media/URLAsset.hpp"
#include "tests/support/MediaFixtures.hpp"
#include "tests/support/PulseAudioServer.hpp"
#include "tests/support/TestFolders.hpp"

namespace pindle::platform {
namespace {

using pindle::testing::MonitorRecording;
using pindle::testing::PulseAudioServer;
using testing::ClipOptions;
using Streams = std::vector<PulseAudioServer::PlaybackStream>;
namespace sound = pindle::testing::sound;

constexpr double bound = 10.0;
// What the player names its stream on the server.
constexpr const char* playbackStreamName = "Pindle playback";

double seconds(MediaTime time) {
    return time.isNumeric() ? time.seconds() : 0;
}

class PlayerSoundTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { server_ = PulseAudioServer::start(&skip_, &failure_).release(); }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }

    void SetUp() override {
#if defined(__SANITIZE_THREAD__)
        // These tests judge sound and picture against the wall clock to tens of milliseconds;
        // instrumented for races, the player runs several times slower than a user's build and
        // the judgement would be of the instrumentation. They run in the other builds.
        GTEST_SKIP() << "timing of sound and picture is not judged under the thread sanitizer";
#endif
        if (!server_) {
            if (!skip_.empty())
                GTEST_SKIP() << skip_;
            FAIL() << failure_;
        }
        SoundServer::useServer(server_->address());
    }
    void TearDown() override {
        player_.reset();
        MainThread::drain();
        SoundServer::useServer(std::nullopt);
    }

    // A player of a clip, ready to play, with a video output on its item.
    PlayerPtr load(const ClipOptions& options) {
        const std::string path = pindle::testing::makeScratchFolder("sound-") + "/clip.mp4";
        EXPECT_TRUE(testing::writeClip(path, options).ok());
        auto item = PlayerItem::make(URLAsset::make(URL::fileURLWithPath(path)));
        output_ = PlayerItemVideoOutput::make();
        item->addOutput(output_);
        player_ = Player::make(item);
        EXPECT_TRUE(MainThread::runUntil(
            [&] { return item->status() == PlayerItem::Status::readyToPlay; }, bound));
        return player_;
    }

    std::unique_ptr<MonitorRecording> record() {
        std::string failure;
        auto recording = MonitorRecording::start(*server_, &failure);
        EXPECT_TRUE(recording) << failure;
        // Under way: the sink renders in small steps and the recording has a timeline.
        if (recording)
            recordUntil(*recording, 0.3);
        return recording;
    }

    // Lets the recording run until it holds `position` seconds.
    static void recordUntil(const MonitorRecording& recording, double position) {
        EXPECT_TRUE(MainThread::runUntil(
            [&] {
                return recording.positionNow().value_or(0) >= position &&
                       recording.recordedSeconds() >= position;
            },
            bound));
    }

    static double now(const MonitorRecording& recording) {
        return recording.positionNow().value_or(0);
    }

    static PulseAudioServer* server_;
    static std::string skip_;
    static std::string failure_;
    PlayerPtr player_;
    PlayerItemVideoOutputPtr output_;
};

PulseAudioServer* PlayerSoundTest::server_ = nullptr;
std::string PlayerSoundTest::skip_;
std::string PlayerSoundTest::failure_;

ClipOptions tone(double hz, double length = 3) {
    ClipOptions options;
    options.seconds = length;
    options.bFrames = false;
    options.width = 160;
    options.height = 120;
    options.toneHz = hz;
    return options;
}

TEST_F(PlayerSoundTest, TheToneIsHeardFromTheTimePlayedAtItsFrequency) {
    // The pitch changes at a known media time, which marks the recording: a sound that starts
    // late skips its first samples to join the picture, so the clip's start marks nothing.
    constexpr double changeAt = 0.7;
    ClipOptions options = tone(440);
    options.laterToneHz = 660;
    options.toneChangeAt = changeAt;
    auto player = load(options);
    auto recording = record();
    const double playedAt = now(*recording);
    player->play();
    ASSERT_TRUE(MainThread::runUntil([&] { return seconds(player->currentTime()) >= 1.2; }, bound));
    player->pause();
    const double pausedAt = now(*recording);
    const double timeline = seconds(player->currentTime());
    recordUntil(*recording, pausedAt + 0.2);

    const auto samples = recording->samples();
    const auto start = sound::onset(samples, playedAt - 0.01, 0.02f);
    ASSERT_TRUE(start);
    EXPECT_LT(*start - playedAt, 0.3) << "the sound began long after play()";
    // The change: the first 20 ms in which the later pitch is far the stronger (a click where
    // the sound was spliced to catch up is loud at every pitch).
    const auto power = [&](double hz, double from) {
        const double w = 2 * M_PI * hz / PulseAudioServer::sampleRate;
        double s1 = 0, s2 = 0;
        const auto first = static_cast<std::size_t>(from * PulseAudioServer::sampleRate);
        const std::size_t last =
            std::min(samples.size(), first + PulseAudioServer::sampleRate / 50);
        for (std::size_t i = first; i < last; ++i) {
            const double next = samples[i] + 2 * std::cos(w) * s1 - s2;
            s2 = s1;
            s1 = next;
        }
        return s1 * s1 + s2 * s2 - 2 * std::cos(w) * s1 * s2;
    };
    std::optional<double> change, end;
    for (double at = *start; at < pausedAt + 0.1; at += 0.0025) {
        if (!change && power(660, at) > 10 * power(440, at))
            change = at;
        if (sound::rms(samples, at, at + 0.0025) > 0.01)
            end = at + 0.0025;
    }
    ASSERT_TRUE(change) << "the later pitch was never heard";
    ASSERT_TRUE(end);
    // As much tone was played after the change as the timeline says.
    EXPECT_NEAR(*end - *change, timeline - changeAt, 0.045)
        << "the timeline does not follow the sound the server played";
    EXPECT_NEAR(sound::dominantFrequency(samples, *change - 0.25, *change - 0.02), 440, 3);
    EXPECT_NEAR(sound::dominantFrequency(samples, *change + 0.02, *end - 0.02), 660, 3);
    // 8000 of 32768 peak, as written: about -15 dBFS.
    EXPECT_NEAR(sound::decibels(samples, *change - 0.25, *change - 0.02), -15.2, 1.5);
}

TEST_F(PlayerSoundTest, VolumeHalfIsSixDecibelsDownAndMutedIsSilence) {
    auto player = load(tone(440, 4));
    auto recording = record();
    player->play();
    ASSERT_TRUE(MainThread::runUntil([&] { return seconds(player->currentTime()) >= 0.5; }, bound));
    const double fullFrom = now(*recording);
    recordUntil(*recording, fullFrom + 0.5);
    const double halfFrom = now(*recording);
    player->setVolume(0.5f);
    recordUntil(*recording, halfFrom + 0.6);
    const double mutedFrom = now(*recording);
    player->setMuted(true);
    recordUntil(*recording, mutedFrom + 0.6);
    player->pause();

    const auto samples = recording->samples();
    const double full = sound::decibels(samples, fullFrom, fullFrom + 0.45);
    // The server applies a change within its own latency; measured after it.
    const double half = sound::decibels(samples, halfFrom + 0.15, halfFrom + 0.55);
    EXPECT_NEAR(half - full, -6.02, 0.5);
    EXPECT_LT(sound::rms(samples, mutedFrom + 0.15, mutedFrom + 0.55), 1e-4);
    EXPECT_TRUE(player->isMuted());
}

TEST_F(PlayerSoundTest, PauseStopsTheSoundAndSeekPlaysTheNewPosition) {
    ClipOptions options = tone(440, 4);
    options.laterToneHz = 880;
    options.toneChangeAt = 2;
    auto player = load(options);
    auto recording = record();
    player->play();
    ASSERT_TRUE(MainThread::runUntil([&] { return seconds(player->currentTime()) >= 0.6; }, bound));
    const double pausedAt = now(*recording);
    player->pause();
    const double pausedTime = seconds(player->currentTime());
    recordUntil(*recording, pausedAt + 0.4);

    auto samples = recording->samples();
    EXPECT_GT(sound::rms(samples, pausedAt - 0.2, pausedAt), 0.05);
    EXPECT_LT(sound::rms(samples, pausedAt + 0.05, pausedAt + 0.35), 1e-4)
        << "sound went on for more than 50 ms after pause";

    player->seek(MediaTime(3, 1));
    const double resumedAt = now(*recording);
    player->play();
    ASSERT_TRUE(MainThread::runUntil([&] { return seconds(player->currentTime()) >= 3.5; }, bound));
    player->pause();
    samples = recording->samples();
    const auto start = sound::onset(samples, resumedAt, 0.02f);
    ASSERT_TRUE(start);
    EXPECT_NEAR(sound::dominantFrequency(samples, *start + 0.05, *start + 0.4), 880, 3);
    EXPECT_NEAR(pausedTime, 0.6, 0.1);
}

// The flash frame is the video output's frame while the click is heard. Where the timeline
// stands against the recording is sampled all through playback (each sample a position and a
// time read within a few milliseconds of one another); the median of those samples places the
// flash frame's time on the recording, so that a thread descheduled between two reads on a
// busy machine, or one that misses the flash frame's 33 ms altogether, moves nothing.
TEST_F(PlayerSoundTest, TheClickLandsWithTheFlashFrame) {
    constexpr double flashTime = 1.5;
    constexpr double fps = 30;
    ClipOptions options;
    options.seconds = 2.5;
    options.fps = fps;
    options.bFrames = false;
    options.width = 160;
    options.height = 120;
    options.flashAt = flashTime;
    auto player = load(options);
    auto recording = record();
    const double playedAt = now(*recording);
    player->play();
    const auto uptime = [] {
        return std::chrono::duration<double>(Clock::current()->uptime()).count();
    };
    std::vector<double> timelineOnRecording;  // recording position less media time
    ASSERT_TRUE(MainThread::runUntil(
        [&] {
            const double before = uptime();
            const auto position = recording->positionNow();
            const double between = uptime();
            const double time = seconds(player->currentTime());
            const double after = uptime();
            // The timeline runs at rate 1: the time as it was when the position was read.
            const double then = time - (after + between) / 2 + (before + between) / 2;
            if (position && between - before < 0.005 && after - between < 0.001 && time > 0.5)
                timelineOnRecording.push_back(*position - then);
            return time >= flashTime + 0.3;
        },
        bound));
    player->pause();
    ASSERT_GE(timelineOnRecording.size(), 5u);
    std::sort(timelineOnRecording.begin(), timelineOnRecording.end());
    const double flashAt = flashTime + timelineOnRecording[timelineOnRecording.size() / 2];
    recordUntil(*recording, flashAt + 0.3);

    // The output gives the flash frame from its time on, and not a frame earlier.
    MediaTime shown;
    auto flash = output_->copyImage(MediaTime::makeWithSeconds(flashTime + 0.5 / fps), &shown);
    ASSERT_TRUE(flash && testing::isFlashFrame(*flash));
    EXPECT_NEAR(seconds(shown), flashTime, 0.001);
    auto before = output_->copyImage(MediaTime::makeWithSeconds(flashTime - 0.5 / fps));
    ASSERT_TRUE(before);
    EXPECT_FALSE(testing::isFlashFrame(*before));

    const auto click = sound::onset(recording->samples(), playedAt, 0.1f);
    ASSERT_TRUE(click);
    RecordProperty("clickAfterFlashMilliseconds",
                   static_cast<int>(std::lround((*click - flashAt) * 1000)));
    EXPECT_NEAR(*click, flashAt, 0.045);
}

TEST_F(PlayerSoundTest, AnUndecodableTrackPlaysTheVideoSilently) {
    // The audio sample description renamed, and its decoder configuration naming an object
    // type nobody decodes.
    const std::string path = pindle::testing::makeScratchFolder("sound-") + "/clip.mp4";
    std::string bytes = testing::clipBytes(tone(440, 2));
    const auto at = bytes.find("mp4a");
    ASSERT_NE(at, std::string::npos);
    bytes.replace(at, 4, "zzzz");
    auto config = bytes.find("esds", at);
    ASSERT_NE(config, std::string::npos);
    config = bytes.find('\x04', config + 8);
    ASSERT_NE(config, std::string::npos);
    std::size_t type = config + 1;
    while (static_cast<unsigned char>(bytes[type]) & 0x80) ++type;
    ASSERT_EQ(bytes[type + 1], '\x40');
    bytes[type + 1] = '\xE0';
    {
        std::ofstream file(path, std::ios::binary);
        file << bytes;
    }
    StandardError::Capture capture;
    auto item = PlayerItem::make(URLAsset::make(URL::fileURLWithPath(path)));
    auto player = Player::make(item);
    ASSERT_TRUE(MainThread::runUntil(
        [&] { return item->status() == PlayerItem::Status::readyToPlay; }, bound));
    player->play();
    ASSERT_TRUE(MainThread::runUntil([&] { return seconds(player->currentTime()) >= 0.3; }, bound));
    EXPECT_EQ(item->status(), PlayerItem::Status::readyToPlay);
    std::size_t said = 0;
    for (const auto& line : capture.writes())
        said += line.find("audio track cannot be decoded") != std::string::npos;
    EXPECT_EQ(said, 1u);
}

TEST_F(PlayerSoundTest, AServerThatDiesLeavesTheTimelineRunningFromTheSamePlace) {
    std::string skip, failure;
    auto dying = PulseAudioServer::start(&skip, &failure);
    ASSERT_TRUE(dying) << failure;
    SoundServer::useServer(dying->address());
    auto rendering = MonitorRecording::start(*dying, &failure);  // the sink renders as a device
    ASSERT_TRUE(rendering) << failure;
    auto player = load(tone(440, 4));
    player->play();
    ASSERT_TRUE(MainThread::runUntil([&] { return seconds(player->currentTime()) >= 0.5; }, bound));
    const auto before = std::chrono::steady_clock::now();
    const double timeBefore = seconds(player->currentTime());
    StandardError::Capture said;
    dying->kill();
    // Read the timeline often across the death: it never jumps.
    double last = timeBefore;
    double largestStep = 0;
    ASSERT_TRUE(MainThread::runUntil(
        [&] {
            const double time = seconds(player->currentTime());
            largestStep = std::max(largestStep, std::fabs(time - last));
            last = time;
            return time >= timeBefore + 0.8;
        },
        bound));
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - before).count();
    EXPECT_LT(largestStep, 0.1);
    EXPECT_NEAR(last - timeBefore, elapsed, 0.1)
        << "the timeline did not go on at the clock's pace";
    EXPECT_EQ(player->timeControlStatus(), Player::TimeControlStatus::playing);
    // The loss is said, once, as a lost desktop is.
    std::size_t lost = 0;
    for (const auto& line : said.writes())
        lost += line.find("the sound server went away") != std::string::npos;
    EXPECT_EQ(lost, 1u);
}

// The server's view of the player's stream: none until it plays, one while it plays (corked
// while paused, at the player's volume), none once the player is released. A preloaded
// neighbour opens nothing.
TEST_F(PlayerSoundTest, OneStreamWhilePlayingCorkedWhenPausedClosedWhenReleased) {
    auto neighbour = load(tone(440));
    auto player = load(tone(440));
    const auto streams = [&] {
        return server_->playbackStreams(playbackStreamName).value_or(Streams(9));
    };
    const auto becomes = [&](const std::function<bool(const Streams&)>& wanted) {
        return MainThread::runUntil([&] { return wanted(streams()); }, bound);
    };
    EXPECT_TRUE(streams().empty());

    // A pause that comes while the stream is still being set up holds once it is.
    player->play();
    player->pause();
    EXPECT_TRUE(becomes([](const auto& found) { return found.size() == 1 && found[0].corked; }));
    player->play();
    EXPECT_TRUE(becomes([](const auto& found) { return found.size() == 1 && !found[0].corked; }));
    player->setVolume(0.5f);
    EXPECT_TRUE(becomes([](const auto& found) {
        return found.size() == 1 && std::fabs(found[0].volume - 0.5) < 0.01;
    }));
    player->setMuted(true);
    EXPECT_TRUE(becomes([](const auto& found) { return found.size() == 1 && found[0].muted; }));
    player->pause();
    EXPECT_TRUE(becomes([](const auto& found) { return found.size() == 1 && found[0].corked; }));
    player->seek(MediaTime(1, 1));
    player->play();
    EXPECT_TRUE(becomes([](const auto& found) { return found.size() == 1 && !found[0].corked; }));
    EXPECT_EQ(neighbour->timeControlStatus(), Player::TimeControlStatus::paused);

    player.reset();
    player_.reset();
    EXPECT_TRUE(becomes([](const auto& found) { return found.empty(); }));
}

// Audio and video of different lengths: the item ends with the longer, the timeline going on
// at the clock's pace once the shorter has ended.
TEST_F(PlayerSoundTest, PlaysOnToTheEndOfTheLongerTrack) {
    // (Recording keeps the null sink rendering in small steps, as a device does; idle, it
    // sleeps for seconds at a time and starts a new stream only when it wakes.)
    auto recording = record();
    for (const double audioSeconds : {0.8, 2.2}) {
        ClipOptions options = tone(440, 1.5);
        options.audioSeconds = audioSeconds;
        auto player = load(options);
        auto item = player->currentItem();
        const double duration = seconds(item->duration());
        EXPECT_NEAR(duration, std::max(1.5, audioSeconds), 0.05);
        player->play();
        // Timed from a moment the sound is surely under way.
        ASSERT_TRUE(
            MainThread::runUntil([&] { return seconds(player->currentTime()) >= 0.2; }, bound));
        const auto started = std::chrono::steady_clock::now();
        const double startedAt = seconds(player->currentTime());
        EXPECT_TRUE(MainThread::runUntil([&] { return item->hasPlayedToEnd(); }, bound))
            << "audio of " << audioSeconds << " s; the timeline stopped at "
            << seconds(player->currentTime());
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        EXPECT_NEAR(elapsed, duration - startedAt, 0.3) << "audio of " << audioSeconds << " s";
        EXPECT_NEAR(seconds(player->currentTime()), duration, 0.05);
    }
}

// Without a server (PINDLE_AUDIO=none, as the suite runs), players play silently on the
// system clock, and the log says so once.
TEST_F(PlayerSoundTest, SilenceByChoiceIsSaidOnceAndTheClockRuns) {
    SoundServer::useServer(std::nullopt);
    ASSERT_STREQ(std::getenv(SoundServer::environmentVariable), "none");
    StandardError::Capture capture;
    auto first = load(tone(440));
    auto second = load(tone(440));
    const auto started = std::chrono::steady_clock::now();
    first->play();
    second->play();
    ASSERT_TRUE(MainThread::runUntil([&] { return seconds(second->currentTime()) >= 0.5; }, bound));
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_NEAR(seconds(second->currentTime()), elapsed, 0.1);
    EXPECT_TRUE(server_->playbackStreams(playbackStreamName).value_or(Streams(1)).empty());
    std::size_t said = 0;
    for (const auto& line : capture.writes())
        said += line.find("sound is off") != std::string::npos;
    EXPECT_EQ(said, 1u);
}

}  // namespace
}  // namespace pindle::platform
