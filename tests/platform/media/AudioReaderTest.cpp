#include <gtest/gtest.h>

#include <algorithm>

#include "platform/media/private/FFmpegMediaSource.hpp"
#include "tests/support/MediaFixtures.hpp"
#include "tests/support/PulseAudioServer.hpp"

namespace pindle::platform {
namespace {

using testing::ClipOptions;
using Reader = MediaSource::AudioReader;
namespace sound = pindle::testing::sound;

struct Source {
    std::shared_ptr<MediaByteStore> store = std::make_shared<MediaByteStore>();
    FFmpegMediaSource source{store};
    std::string bytes;

    Source(const ClipOptions& options, double presentShare = 1.0)
        : bytes(testing::clipBytes(options)) {
        store->setContentLength(static_cast<std::int64_t>(bytes.size()));
        const auto present = static_cast<std::size_t>(bytes.size() * presentShare);
        store->write(0, reinterpret_cast<const std::uint8_t*>(bytes.data()), present);
        std::int64_t wanted = -1;
        Error error;
        EXPECT_EQ(source.open("public.mpeg-4", &wanted, &error), MediaSource::OpenState::opened);
    }
};

// Reads up to `seconds` of the left channel.
std::vector<float> readLeft(Reader& reader, double seconds, Reader::State* state) {
    std::vector<float> left;
    std::vector<float> block(2 * 1000);
    const auto wanted = static_cast<std::size_t>(seconds * reader.sampleRate());
    *state = Reader::State::more;
    while (left.size() < wanted && *state == Reader::State::more) {
        const std::size_t got =
            reader.read(block.data(), std::min<std::size_t>(1000, wanted - left.size()), state);
        for (std::size_t i = 0; i < got; ++i) left.push_back(block[2 * i]);
    }
    return left;
}

ClipOptions twoTones() {
    ClipOptions options;
    options.seconds = 3;
    options.bFrames = false;
    options.width = 160;
    options.height = 120;
    options.toneHz = 440;
    options.laterToneHz = 880;
    options.toneChangeAt = 1.5;
    return options;
}

TEST(AudioReaderTest, DecodesTheToneFromWhereItIsSoughtAndEndsWithTheTrack) {
    Source source(twoTones());
    Error error;
    auto reader = source.source.makeAudioReader(&error);
    ASSERT_TRUE(reader) << error.localizedDescription();
    const int rate = reader->sampleRate();
    EXPECT_EQ(rate, 44100);

    Reader::State state;
    auto left = readLeft(*reader, 1.0, &state);
    EXPECT_NEAR(sound::dominantFrequency(left, 0.1, 0.9, rate), 440, 3);
    EXPECT_NEAR(reader->position(), 1000000, 1000);

    // A seek lands on the sample asked for, not on the packet before it.
    reader->seek(2000000);
    EXPECT_EQ(reader->position(), 2000000);
    left = readLeft(*reader, 0.5, &state);
    EXPECT_NEAR(sound::dominantFrequency(left, 0.05, 0.45, rate), 880, 3);
    EXPECT_NEAR(reader->position(), 2500000, 1000);

    reader->seek(1000000);
    left = readLeft(*reader, 0.4, &state);
    EXPECT_NEAR(sound::dominantFrequency(left, 0.05, 0.35, rate), 440, 3);

    left = readLeft(*reader, 10, &state);
    EXPECT_EQ(state, Reader::State::ended);
    EXPECT_NEAR(reader->position(), 3000000, 50000);
}

TEST(AudioReaderTest, WaitsForMissingBytesAndGoesOnOnceTheyCome) {
    Source source(twoTones(), 0.3);
    auto reader = source.source.makeAudioReader(nullptr);
    ASSERT_TRUE(reader);
    Reader::State state;
    const auto before = readLeft(*reader, 10, &state);
    EXPECT_EQ(state, Reader::State::needsBytes);
    EXPECT_LT(before.size(), 3u * 44100);
    const auto stoppedAt = reader->position();

    source.store->write(0, reinterpret_cast<const std::uint8_t*>(source.bytes.data()),
                        source.bytes.size());
    const auto after = readLeft(*reader, 10, &state);
    EXPECT_EQ(state, Reader::State::ended);
    // Nothing skipped and nothing repeated across the wait.
    EXPECT_NEAR(static_cast<double>(before.size() + after.size()) / 44100, 3.0, 0.05);
    EXPECT_GT(reader->position(), stoppedAt);
}

TEST(AudioReaderTest, TheLongerTrackSetsTheEnd) {
    for (const double audioSeconds : {1.0, 3.0}) {
        ClipOptions options = twoTones();
        options.seconds = 2;
        options.audioSeconds = audioSeconds;
        Source source(options);
        EXPECT_NEAR(static_cast<double>(source.source.duration()) / 1e6,
                    std::max(2.0, audioSeconds), 0.05)
            << "audio of " << audioSeconds << " s";
        // Everything is present, so it is all loaded to that end.
        const auto spans = source.source.loadedSpans();
        ASSERT_FALSE(spans.empty());
        EXPECT_EQ(spans.back().end, source.source.duration());
    }
}

TEST(AudioReaderTest, NoTrackNoReader) {
    ClipOptions options = twoTones();
    options.toneHz = 0;
    Source source(options);
    Error error;
    EXPECT_FALSE(source.source.makeAudioReader(&error));
    EXPECT_TRUE(error.domain().empty());
}

}  // namespace
}  // namespace pindle::platform
