#include "PindleCore/api/PNDownloader.hpp"

#include <gtest/gtest.h>

#include <mutex>

#include "EmulatorFixture.hpp"
#include "PindleCore/caches/PNThroughputManager.hpp"

namespace pindle {
namespace {

using platform::Data;
using platform::Error;
using testing::Outcome;

struct Download {
    Data bytes;
    std::vector<std::int64_t> sizesSeen;
    int chunks = 0;
};

struct End {
    std::int64_t size = 0;
    std::optional<Error> error;
};

class PNDownloaderTest : public testing::EmulatorFixture {
  protected:
    void SetUp() override {
        EmulatorFixture::SetUp();
        for (std::size_t i = 0; i < media_.size(); ++i)
            media_[i] = static_cast<char>(i * 31 + i / 7);
        emulator_.server().media().add("/files/" + videoID_ + "/720p.mp4", media_);
    }

    platform::URL mediaURL() const {
        return *platform::URL::fromString(emulator_.baseURL() + "/files/" + videoID_ + "/720p.mp4");
    }

    // Downloads `range`; returns the bytes and sizes the data block saw, and the end.
    std::pair<Download, End> download(PNByteRange range) {
        auto collected = std::make_shared<Download>();
        auto mutex = std::make_shared<std::mutex>();
        Outcome<End> end;
        PNDownloader::data(
            mediaURL(), range,
            [collected, mutex](const platform::SharedData& chunk, std::int64_t total) {
                std::lock_guard lock(*mutex);
                collected->bytes.insert(collected->bytes.end(), chunk->begin(), chunk->end());
                collected->sizesSeen.push_back(total);
                ++collected->chunks;
            },
            [&](std::int64_t size, const std::optional<Error>& error) {
                end.set({size, error});
            });
        End result = end.wait();
        EXPECT_EQ(end.calls(), 1);
        std::lock_guard lock(*mutex);
        return {*collected, result};
    }

    const std::string videoID_ = "0E2D9A3B-5A1C-4C8B-9F00-1234567890AB";
    std::string media_ = std::string(3 * 1024 * 1024 + 123, '\0');
};

TEST(PNDownloaderRangeTest, RangeHeaderAsksForTheLastByteInclusively) {
    EXPECT_EQ(PNDownloader::httpHeader({0, 2}), "bytes=0-1");
    EXPECT_EQ(PNDownloader::httpHeader({100, 50}), "bytes=100-149");
    EXPECT_EQ(PNDownloader::httpHeader({0, 1}), "bytes=0-0");
    EXPECT_EQ(PNDownloader::httpHeader({500, 0}), "bytes=500-");
    EXPECT_EQ(PNDownloader::httpHeader({500, -1}), "bytes=500-");
    EXPECT_EQ(PNDownloader::httpHeader({-1, 5}), std::nullopt);
    EXPECT_EQ(PNDownloader::httpHeader({INT64_MAX, 2}), std::nullopt);
}

TEST_F(PNDownloaderTest, RangedDownloadArrivesByteExactWithTheFileSize) {
    const std::int64_t total = static_cast<std::int64_t>(media_.size());
    auto [whole, end] = download({1000, total - 1000});
    EXPECT_FALSE(end.error);
    EXPECT_EQ(end.size, total);
    ASSERT_EQ(whole.bytes.size(), media_.size() - 1000);
    EXPECT_TRUE(whole.bytes == Data(media_.begin() + 1000, media_.end()));
    EXPECT_GT(whole.chunks, 1);
    for (std::int64_t size : whole.sizesSeen) EXPECT_EQ(size, total);

    auto [tail, tailEnd] = download({total - 10, -1});
    EXPECT_FALSE(tailEnd.error);
    EXPECT_EQ(tail.bytes, Data(media_.end() - 10, media_.end()));

    auto request = emulator_.server().requestLog().requests().back();
    EXPECT_EQ(request.header("Range"), "bytes=" + std::to_string(total - 10) + "-");
    EXPECT_FALSE(request.header("Authorization"));
}

TEST_F(PNDownloaderTest, AWholeFileReplyToARangeHandsOnOnlyTheRangesBytes) {
    // A server that ignores "Range" and answers 200 with the whole file.
    emulator_.server().addReply("GET", "/whole.mp4", emulator::Response::text(200, media_));
    const std::int64_t total = static_cast<std::int64_t>(media_.size());
    const struct {
        PNByteRange range;
        std::int64_t first, last;  // the bytes expected, [first, last)
    } cases[] = {
        {{0, 2}, 0, 2},
        {{1000, 500}, 1000, 1500},
        {{200000, -1}, 200000, total},
        {{total - 3, 0}, total - 3, total},
    };
    for (const auto& c : cases) {
        auto collected = std::make_shared<Data>();
        Outcome<End> end;
        PNDownloader::data(
            *platform::URL::fromString(emulator_.baseURL() + "/whole.mp4"), c.range,
            [collected](const platform::SharedData& chunk, std::int64_t) {
                collected->insert(collected->end(), chunk->begin(), chunk->end());
            },
            [&](std::int64_t size, const std::optional<Error>& error) {
                end.set({size, error});
            });
        EXPECT_FALSE(end.wait().error) << c.range.location;
        EXPECT_EQ(end.wait().size, total);
        EXPECT_TRUE(*collected == Data(media_.begin() + c.first, media_.begin() + c.last))
            << c.range.location << " got " << collected->size();
    }
}

TEST_F(PNDownloaderTest, UnsatisfiableRangeDeliversNoBytesAndTheStatusError) {
    auto [nothing, end] = download({static_cast<std::int64_t>(media_.size()) + 10, 5});
    EXPECT_EQ(nothing.chunks, 0);
    ASSERT_TRUE(end.error);
    EXPECT_EQ(end.error->userInfo().at("statusCode"), platform::Value(416));
}

TEST_F(PNDownloaderTest, ARangeBeyondSixtyFourBitsSendsNothing) {
    Outcome<End> end;
    PNDownloader::data(
        mediaURL(), {INT64_MAX, 2},
        [](const platform::SharedData&, std::int64_t) { ADD_FAILURE(); },
        [&](std::int64_t size, const std::optional<Error>& error) {
            end.set({size, error});
        });
    EXPECT_TRUE(end.wait().error);
    EXPECT_EQ(end.wait().size, 0);
    EXPECT_EQ(requestsBesidesAProbe(), 0u);
}

TEST_F(PNDownloaderTest, FirstTwoBytesComeWithTheTotalSize) {
    Outcome<std::pair<Data, End>> outcome;
    PNDownloader::firstTwoBitesAndSize(
        mediaURL(), [&](const Data& bytes, std::int64_t size, const std::optional<Error>& error) {
            outcome.set({bytes, {size, error}});
        });
    const auto& [bytes, end] = outcome.wait();
    EXPECT_EQ(bytes, Data(media_.begin(), media_.begin() + 2));
    EXPECT_EQ(end.size, static_cast<std::int64_t>(media_.size()));
    EXPECT_FALSE(end.error);
}

TEST_F(PNDownloaderTest, CancellingBeforeAnyByteEndsOnceWithoutData) {
    emulator_.server().addFault("/files/" + videoID_ + "/720p.mp4",
                                emulator::Fault::delayed(std::chrono::seconds(5)));
    std::atomic<int> chunks{0};
    Outcome<End> end;
    PNCancellablePtr token = PNDownloader::data(
        mediaURL(), {0, 100}, [&](const platform::SharedData&, std::int64_t) { ++chunks; },
        [&](std::int64_t size, const std::optional<Error>& error) {
            end.set({size, error});
        });
    token->cancelIt();
    const End& result = end.wait();
    EXPECT_EQ(result.size, 0);
    ASSERT_TRUE(result.error);
    EXPECT_EQ(result.error->code(), platform::URLError::cancelled);
    exchangeAProbe();
    EXPECT_EQ(chunks.load(), 0);
    EXPECT_EQ(end.calls(), 1);
}

TEST_F(PNDownloaderTest, ChunksFeedTheThroughputEstimate) {
    // A few megabytes over loopback arrive in far more than twenty chunks within the two-second
    // window, at a rate well above the top band.
    download({0, static_cast<std::int64_t>(media_.size())});
    EXPECT_GT(PNThroughputManager::shared().bandwidth(), PNThroughputManager::defaultValue);
    EXPECT_EQ(PNThroughputManager::shared().resolution(), PNVideoResolution::r720p);
}

}  // namespace
}  // namespace pindle
