#include "platform/foundation/Cache.hpp"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace pindle::platform {
namespace {

TEST(CacheTest, ConcurrentWritersAndAWholesaleEmptyingKeepTheMapConsistent) {
    Cache<std::string, int> cache;
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([&cache, t] {
            for (int i = 0; i < 500; ++i) {
                cache.setObject(i, std::to_string(t) + "-" + std::to_string(i));
                if (i % 100 == 0)
                    cache.removeAll();
            }
        });
    }
    for (auto& writer : writers) writer.join();
    EXPECT_LE(cache.count(), 4u * 100u);
    cache.setObject(7, "seven");
    EXPECT_EQ(cache.object("seven"), 7);
    cache.setObject(8, "seven");
    EXPECT_EQ(cache.object("seven"), 8);
    cache.removeObject("seven");
    EXPECT_FALSE(cache.contains("seven"));
    cache.removeAll();
    EXPECT_EQ(cache.count(), 0u);
    EXPECT_EQ(cache.object("0-499"), std::nullopt);
}

}  // namespace
}  // namespace pindle::platform
