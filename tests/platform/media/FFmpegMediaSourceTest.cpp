#include "platform/media/private/FFmpegMediaSource.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "support/MediaFixtures.hpp"

namespace pindle::platform {
namespace {

using testing::ClipOptions;
using Micros = MediaSource::Micros;

constexpr std::int64_t openStep = 16 * 1024;

struct Loaded {
    std::string bytes;
    std::shared_ptr<MediaByteStore> store = std::make_shared<MediaByteStore>();
    std::unique_ptr<FFmpegMediaSource> source = std::make_unique<FFmpegMediaSource>(store);
    int attempts = 0;
    std::vector<std::int64_t> misses;

    explicit Loaded(const ClipOptions& options) : bytes(testing::clipBytes(options)) {
        store->setContentLength(static_cast<std::int64_t>(bytes.size()));
    }
    void put(std::int64_t offset, std::int64_t size) {
        size = std::min<std::int64_t>(size, static_cast<std::int64_t>(bytes.size()) - offset);
        store->write(offset, reinterpret_cast<const std::uint8_t*>(bytes.data()) + offset,
                     static_cast<std::size_t>(size));
    }
    // Opens as the player does: answers each miss with a step of bytes at the missed offset.
    MediaSource::OpenState open(std::int64_t step = openStep) {
        put(0, 2);
        while (true) {
            std::int64_t wanted = -1;
            Error error;
            const auto state = source->open("public.mpeg-4", &wanted, &error);
            ++attempts;
            if (state != MediaSource::OpenState::needsBytes || attempts > 40)
                return state;
            misses.push_back(wanted);
            put(wanted, step);
        }
    }
};

ClipOptions clip(bool faststart) {
    ClipOptions options;
    options.seconds = 4;
    options.bFrames = false;
    options.toneHz = 440;
    options.faststart = faststart;
    return options;
}

TEST(FFmpegMediaSourceTest, OpensByRetryingAtEachMissWhereverTheIndexLies) {
    for (const bool faststart : {true, false}) {
        Loaded loaded(clip(faststart));
        ASSERT_FALSE(loaded.bytes.empty());
        ASSERT_EQ(loaded.open(), MediaSource::OpenState::opened) << faststart;
        EXPECT_LE(loaded.attempts, 8) << faststart;
        EXPECT_NEAR(static_cast<double>(loaded.source->duration()), 4e6, 0.1e6);
        const auto tracks = loaded.source->tracks();
        ASSERT_EQ(tracks.size(), 2u);
        EXPECT_EQ(tracks[0].naturalSize.width, 320);
        if (!faststart) {
            // The index sits at the end, so a request near the tail was needed.
            ASSERT_FALSE(loaded.misses.empty());
            EXPECT_GT(loaded.misses.back(), static_cast<std::int64_t>(loaded.bytes.size()) / 2);
        }
        // Opening took only a little of the media data.
        const auto spans = loaded.source->loadedSpans();
        EXPECT_TRUE(spans.empty() || spans[0].end < 1000000) << faststart;
        EXPECT_FALSE(loaded.source->hasFrameAt(3000000));
    }
}

TEST(FFmpegMediaSourceTest, RefusesBytesThatAreNoMedia) {
    for (const std::string& text :
         {std::string(5000, 'x'), std::string("\x89PNG\r\n\x1a\n") + std::string(3000, '\0')}) {
        auto store = std::make_shared<MediaByteStore>();
        store->setContentLength(static_cast<std::int64_t>(text.size()));
        store->write(0, reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
        FFmpegMediaSource source(store);
        std::int64_t wanted = -1;
        Error error;
        for (const char* type : {"public.mpeg-4", "application/octet-stream"})
            EXPECT_EQ(source.open(type, &wanted, &error), MediaSource::OpenState::failed) << type;
    }
}

TEST(FFmpegMediaSourceTest, LoadedSpansFollowThePresentSamplesExactly) {
    ClipOptions options = clip(true);
    options.toneHz = 0;  // audio samples would cut the spans between frames
    Loaded loaded(options);
    ASSERT_EQ(loaded.open(1024), MediaSource::OpenState::opened);
    const auto size = static_cast<std::int64_t>(loaded.bytes.size());
    // Feed the media data up to the byte playback wants, in order, until 2 s are there. Each
    // feed fills the start of a gap, so a source whose wishes stop moving fails the bound.
    const auto feedLimit = 2 * (size / 512 + 1);
    for (std::int64_t feeds = 0;
         loaded.source->loadedSpans().empty() || loaded.source->loadedSpans()[0].end < 2000000;
         ++feeds) {
        ASSERT_LT(feeds, feedLimit);
        const auto wanted = loaded.source->wantedOffset(0);
        ASSERT_TRUE(wanted);
        loaded.put(*wanted, 512);
    }
    const auto spans = loaded.source->loadedSpans();
    ASSERT_EQ(spans.size(), 1u);
    EXPECT_EQ(spans[0].start, 0);
    // Whole frames of a 30 fps clip: the boundary is a frame time.
    const double frames = static_cast<double>(spans[0].end) * 30 / 1e6;
    EXPECT_NEAR(frames, std::round(frames), 1e-3);
    EXPECT_LT(spans[0].end, loaded.source->duration());
    EXPECT_TRUE(loaded.source->hasFrameAt(spans[0].end - 1));
    EXPECT_FALSE(loaded.source->hasFrameAt(spans[0].end + 100000));
    // The next byte wanted for a time past the loaded span is at or beyond what is present.
    const auto wanted = loaded.source->wantedOffset(spans[0].end);
    ASSERT_TRUE(wanted);
    EXPECT_EQ(*wanted, loaded.store->runs().back().second);

    loaded.put(0, size);
    const auto all = loaded.source->loadedSpans();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].end, loaded.source->duration());
    EXPECT_EQ(loaded.source->wantedOffset(0), std::nullopt);
}

TEST(FFmpegMediaSourceTest, DecodesTheFrameShownAtATimeFromPresentBytesOnly) {
    for (const bool bFrames : {false, true}) {
        ClipOptions options = clip(true);
        options.bFrames = bFrames;
        Loaded loaded(options);
        ASSERT_EQ(loaded.open(), MediaSource::OpenState::opened);
        Micros shown = -1;
        loaded.put(0, static_cast<std::int64_t>(loaded.bytes.size()));
        struct Step {
            Micros time;
            int frame;
        };
        // Forwards, backwards across key frames, and forwards again.
        for (const Step step : {Step{2000000, 60}, Step{2010000, 60}, Step{2050000, 61},
                                Step{500000, 15}, Step{3990000, 119}, Step{0, 0}}) {
            const auto image = loaded.source->frameAt(step.time, &shown);
            ASSERT_NE(image, nullptr) << step.time;
            EXPECT_EQ(testing::readFrameNumber(*image), step.frame)
                << "at " << step.time << " bFrames " << bFrames;
            EXPECT_LE(shown, step.time);
        }
    }
}

TEST(FFmpegMediaSourceTest, HoldsTheLastDecodableFrameWhenBytesRunOut) {
    Loaded loaded(clip(true));
    ASSERT_EQ(loaded.open(), MediaSource::OpenState::opened);
    const auto feedLimit = 2 * (static_cast<std::int64_t>(loaded.bytes.size()) / 4096 + 1);
    for (std::int64_t feeds = 0;
         loaded.source->loadedSpans().empty() || loaded.source->loadedSpans()[0].end < 1000000;
         ++feeds) {
        ASSERT_LT(feeds, feedLimit);
        const auto wanted = loaded.source->wantedOffset(0);
        ASSERT_TRUE(wanted);
        loaded.put(*wanted, 4096);
    }
    const Micros end = loaded.source->loadedSpans()[0].end;
    Micros shown = -1;
    const auto image = loaded.source->frameAt(3000000, &shown);
    ASSERT_NE(image, nullptr);
    EXPECT_LT(shown, end);
    EXPECT_GE(shown, end - 2 * 34000);
}

}  // namespace
}  // namespace pindle::platform
