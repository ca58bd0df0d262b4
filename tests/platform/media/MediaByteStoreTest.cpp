#include "platform/media/MediaByteStore.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <numeric>
#include <random>
#include <thread>

#include "tests/support/TestFolders.hpp"

namespace pindle::platform {
namespace {

using Runs = std::vector<std::pair<std::int64_t, std::int64_t>>;

std::vector<std::uint8_t> bytes(std::size_t count, std::uint8_t first) {
    std::vector<std::uint8_t> result(count);
    std::iota(result.begin(), result.end(), first);
    return result;
}

// Every case runs against both ways of keeping the bytes: blocks in memory, and a spill file.
class MediaByteStoreTest : public ::testing::TestWithParam<bool> {
  protected:
    std::unique_ptr<MediaByteStore> make(std::int64_t capacity = MediaByteStore::defaultCapacity) {
        const bool spilling = GetParam();
        auto store = std::make_unique<MediaByteStore>(
            capacity, spilling ? pindle::testing::makeScratchFolder("byte-store-") : "");
        EXPECT_EQ(store->spills(), spilling);
        return store;
    }
};

INSTANTIATE_TEST_SUITE_P(Backings, MediaByteStoreTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "SpillFile" : "Memory"; });

TEST_P(MediaByteStoreTest, WritesMergeIntoDisjointRuns) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::int64_t, std::size_t>> writes;
        Runs runs;
    };
    const Case cases[] = {
        {"apart", {{0, 10}, {20, 10}}, {{0, 10}, {20, 30}}},
        {"touching", {{0, 10}, {10, 10}}, {{0, 20}}},
        {"overlapping", {{5, 10}, {0, 8}}, {{0, 15}}},
        {"bridging", {{0, 10}, {20, 10}, {8, 14}}, {{0, 30}}},
        {"inside", {{0, 30}, {10, 5}}, {{0, 30}}},
    };
    for (const auto& c : cases) {
        auto store = make();
        std::int64_t handed = 0;
        for (auto [offset, size] : c.writes) {
            store->write(offset, bytes(size, static_cast<std::uint8_t>(offset)).data(), size);
            handed += static_cast<std::int64_t>(size);
        }
        EXPECT_EQ(store->runs(), c.runs) << c.name;
        std::int64_t total = 0;
        for (auto [start, end] : c.runs) total += end - start;
        EXPECT_EQ(store->bytesStored(), total) << c.name;
        EXPECT_EQ(store->counters().handed, handed) << c.name;
        EXPECT_EQ(store->counters().repeated, handed - total) << c.name;
    }
}

TEST_P(MediaByteStoreTest, ReadsOnlyContiguousPresentBytes) {
    auto store = make();
    store->write(100, bytes(50, 100).data(), 50);
    store->write(160, bytes(10, 160).data(), 10);
    std::uint8_t buffer[100] = {};
    EXPECT_EQ(store->read(99, buffer, 100), 0u);
    ASSERT_EQ(store->read(120, buffer, 100), 30u);  // stops at the hole at 150
    EXPECT_EQ(buffer[0], 120);
    EXPECT_EQ(buffer[29], 149);
    EXPECT_TRUE(store->present(100, 50));
    EXPECT_FALSE(store->present(100, 51));
    EXPECT_EQ(store->firstMissing(100), 150);
    EXPECT_EQ(store->firstMissing(10), 10);
    store->setContentLength(170);
    EXPECT_EQ(store->firstMissing(160), std::nullopt);
}

TEST_P(MediaByteStoreTest, StaysWithinCapacityByDroppingDiscardableRuns) {
    auto store = make(100);
    store->setContentLength(1000);
    EXPECT_FALSE(store->write(1000, bytes(10, 0).data(), 10));  // past the end
    ASSERT_TRUE(store->write(995, bytes(10, 0).data(), 10));    // clipped to the end
    EXPECT_EQ(store->runs(), (Runs{{995, 1000}}));
    ASSERT_TRUE(store->write(0, bytes(60, 0).data(), 60));
    EXPECT_FALSE(store->write(200, bytes(60, 0).data(), 60));  // nothing may be dropped yet
    store->setDiscardableBefore(100);
    ASSERT_TRUE(store->write(200, bytes(60, 0).data(), 60));
    EXPECT_EQ(store->runs(), (Runs{{200, 260}, {995, 1000}}));
    EXPECT_LE(store->bytesStored(), 100);
}

// A model of the store (one flag and one byte per offset) beside the real one, through writes
// that arrive in order, out of order, overlapping and of every size, including ones that
// continue a block into room it reserved and ones that land inside such room.
TEST_P(MediaByteStoreTest, ReadsBackExactlyWhatWasWrittenWhateverTheOrder) {
    constexpr std::int64_t length = 3 * MediaByteStore::blockSize + 777;
    std::vector<std::uint8_t> resource(length);
    for (std::int64_t i = 0; i < length; ++i) resource[i] = static_cast<std::uint8_t>(i * 7 + 3);
    std::mt19937 random(20261209);
    for (int round = 0; round < 10; ++round) {
        auto store = make();
        if (round % 2)
            store->setContentLength(length);
        std::vector<bool> present(length, false);
        for (int write = 0; write < 60; ++write) {
            const auto offset = static_cast<std::int64_t>(random() % length);
            const auto size = std::min<std::int64_t>(1 + random() % 40000, length - offset);
            ASSERT_TRUE(store->write(offset, resource.data() + offset, size));
            std::fill(present.begin() + offset, present.begin() + offset + size, true);
        }
        std::int64_t expectedStored = std::count(present.begin(), present.end(), true);
        ASSERT_EQ(store->bytesStored(), expectedStored) << "round " << round;
        Runs expectedRuns;
        for (std::int64_t i = 0; i < length; ++i) {
            if (!present[i])
                continue;
            if (!expectedRuns.empty() && expectedRuns.back().second == i)
                ++expectedRuns.back().second;
            else
                expectedRuns.emplace_back(i, i + 1);
        }
        ASSERT_EQ(store->runs(), expectedRuns) << "round " << round;
        for (auto [start, end] : expectedRuns) {
            std::vector<std::uint8_t> buffer(end - start + 10);
            ASSERT_EQ(store->read(start, buffer.data(), buffer.size()),
                      static_cast<std::size_t>(end - start));
            ASSERT_TRUE(std::equal(buffer.begin(), buffer.begin() + (end - start),
                                   resource.begin() + start))
                << "round " << round << " run at " << start;
            EXPECT_TRUE(store->present(start, end - start));
            EXPECT_FALSE(store->present(start, end - start + 1));
            if (end < length || round % 2 == 0) {
                EXPECT_EQ(store->firstMissing(start), end);
            }
        }
    }
}

// A bounded store drops whole blocks from the front as the playhead moves on: what it still
// says it holds must read back, and every run must be bytes it really holds.
TEST_P(MediaByteStoreTest, RunsStayTrueWhileBlocksAreDropped) {
    constexpr std::int64_t length = 40 * MediaByteStore::blockSize;
    std::vector<std::uint8_t> resource(length);
    for (std::int64_t i = 0; i < length; ++i) resource[i] = static_cast<std::uint8_t>(i * 13 + 1);
    std::mt19937 random(1209);
    auto store = make(6 * MediaByteStore::blockSize);
    store->setContentLength(length);
    std::int64_t playhead = 0;
    for (int step = 0; step < 400; ++step) {
        // Mostly in order just ahead of the playhead, sometimes a seek-like write further on.
        const std::int64_t ahead = random() % 8 == 0 ? random() % length : playhead;
        const auto offset = std::min<std::int64_t>(ahead + random() % 50000, length - 1);
        const auto size = std::min<std::int64_t>(1 + random() % 70000, length - offset);
        store->write(offset, resource.data() + offset, size);
        playhead = std::min<std::int64_t>(playhead + 30000, length);
        store->setDiscardableBefore(playhead);

        std::int64_t inRuns = 0;
        std::int64_t previousEnd = -1;
        for (auto [start, end] : store->runs()) {
            ASSERT_LT(previousEnd, start) << "runs touch or overlap at step " << step;
            previousEnd = end;
            inRuns += end - start;
            std::vector<std::uint8_t> buffer(end - start);
            ASSERT_EQ(store->read(start, buffer.data(), buffer.size()), buffer.size());
            ASSERT_TRUE(std::equal(buffer.begin(), buffer.end(), resource.begin() + start));
            EXPECT_EQ(store->firstMissing(start).value_or(length), end);
            if (start > 0) {
                EXPECT_FALSE(store->present(start - 1, 1));
            }
        }
        ASSERT_EQ(inRuns, store->bytesStored()) << "step " << step;
        ASSERT_LE(store->bytesStored(), 6 * MediaByteStore::blockSize);
    }
}

TEST_P(MediaByteStoreTest, AnInOrderDownloadReadsAcrossItsBlocks) {
    constexpr std::int64_t length = 5 * MediaByteStore::blockSize / 2;
    std::vector<std::uint8_t> resource(length);
    for (std::int64_t i = 0; i < length; ++i) resource[i] = static_cast<std::uint8_t>(i % 251);
    auto store = make();
    store->setContentLength(length);
    constexpr std::int64_t chunk = 16 * 1024 + 5;  // never a divisor of the block size
    for (std::int64_t offset = 0; offset < length; offset += chunk)
        ASSERT_TRUE(
            store->write(offset, resource.data() + offset, std::min(chunk, length - offset)));
    EXPECT_EQ(store->runs(), (Runs{{0, length}}));
    EXPECT_EQ(store->firstMissing(0), std::nullopt);
    std::vector<std::uint8_t> all(length);
    ASSERT_EQ(store->read(0, all.data(), all.size()), static_cast<std::size_t>(length));
    EXPECT_EQ(all, resource);
}

// The player reads what a download has just put in while the download makes room by dropping
// what lies behind: a read that meets a drop must never hand back the bytes of a hole (zeros
// here, where the movie has none).
TEST_P(MediaByteStoreTest, AReadRacingDropsNeverReturnsBytesThatAreGone) {
    constexpr std::int64_t length = 16 * 1024 * 1024;
    constexpr std::int64_t chunk = 4 * 1024;
    std::vector<std::uint8_t> resource(length);
    for (std::int64_t i = 0; i < length; ++i) resource[i] = static_cast<std::uint8_t>(i % 251 + 1);
    auto store = make(4 * chunk);
    store->setContentLength(length);
    std::atomic<bool> done{false};
    std::thread download([&] {
        for (std::int64_t offset = 0; offset < length; offset += chunk) {
            store->setDiscardableBefore(std::max<std::int64_t>(0, offset - chunk));
            store->write(offset, resource.data() + offset, chunk);
        }
        done = true;
    });
    std::vector<std::uint8_t> buffer(chunk);
    int reads = 0;
    while (!done) {
        const auto runs = store->runs();
        if (runs.empty())
            continue;
        // Again and again where the next drop will be, until it has gone.
        const std::int64_t start = runs.front().first;
        for (std::size_t read = 1; read > 0 && !done; ++reads) {
            read = store->read(start, buffer.data(), buffer.size());
            ASSERT_TRUE(std::equal(buffer.begin(),
                                   buffer.begin() + static_cast<std::ptrdiff_t>(read),
                                   resource.begin() + start))
                << "at " << start << " after " << reads << " reads";
        }
    }
    download.join();
}

}  // namespace
}  // namespace pindle::platform
