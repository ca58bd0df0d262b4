#include "platform/media/MediaByteStore.hpp"

#include <gtest/gtest.h>

#include <numeric>

namespace pindle::platform {
namespace {

using Runs = std::vector<std::pair<std::int64_t, std::int64_t>>;

std::vector<std::uint8_t> bytes(std::size_t count, std::uint8_t first) {
    std::vector<std::uint8_t> result(count);
    std::iota(result.begin(), result.end(), first);
    return result;
}

TEST(MediaByteStoreTest, WritesMergeIntoDisjointRuns) {
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
        MediaByteStore store;
        for (auto [offset, size] : c.writes)
            store.write(offset, bytes(size, static_cast<std::uint8_t>(offset)).data(), size);
        EXPECT_EQ(store.runs(), c.runs) << c.name;
        std::int64_t total = 0;
        for (auto [start, end] : c.runs) total += end - start;
        EXPECT_EQ(store.bytesStored(), total) << c.name;
    }
}

TEST(MediaByteStoreTest, ReadsOnlyContiguousPresentBytes) {
    MediaByteStore store;
    store.write(100, bytes(50, 100).data(), 50);
    store.write(160, bytes(10, 160).data(), 10);
    std::uint8_t buffer[100] = {};
    EXPECT_EQ(store.read(99, buffer, 100), 0u);
    ASSERT_EQ(store.read(120, buffer, 100), 30u);  // stops at the hole at 150
    EXPECT_EQ(buffer[0], 120);
    EXPECT_EQ(buffer[29], 149);
    EXPECT_TRUE(store.present(100, 50));
    EXPECT_FALSE(store.present(100, 51));
    EXPECT_EQ(store.firstMissing(100), 150);
    EXPECT_EQ(store.firstMissing(10), 10);
    store.setContentLength(170);
    EXPECT_EQ(store.firstMissing(160), std::nullopt);
}

TEST(MediaByteStoreTest, StaysWithinCapacityByDroppingDiscardableRuns) {
    MediaByteStore store(100);
    store.setContentLength(1000);
    EXPECT_FALSE(store.write(1000, bytes(10, 0).data(), 10));  // past the end
    ASSERT_TRUE(store.write(995, bytes(10, 0).data(), 10));    // clipped to the end
    EXPECT_EQ(store.runs(), (Runs{{995, 1000}}));
    ASSERT_TRUE(store.write(0, bytes(60, 0).data(), 60));
    EXPECT_FALSE(store.write(200, bytes(60, 0).data(), 60));  // nothing may be dropped yet
    store.setDiscardableBefore(100);
    ASSERT_TRUE(store.write(200, bytes(60, 0).data(), 60));
    EXPECT_EQ(store.runs(), (Runs{{200, 260}, {995, 1000}}));
    EXPECT_LE(store.bytesStored(), 100);
}

}  // namespace
}  // namespace pindle::platform
