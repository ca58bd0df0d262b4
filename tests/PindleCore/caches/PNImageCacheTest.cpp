#include "PindleCore/caches/PNImageCache.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <map>
#include <string>

#include "platform/app/Application.hpp"

namespace pindle {
namespace {

using platform::Image;
using platform::URL;

URL urlNumber(int n) {
    return *URL::fromString("https://images.test/" + std::to_string(n) + ".png");
}

platform::ImagePtr picture(std::uint8_t shade = 0) {
    return Image::filled(1, 1, Image::Pixel{shade, shade, shade, 255});
}

class PNImageCacheTest : public ::testing::Test {
  protected:
    // Stores URLs 0..count-1 in order, so URL n has stamp n + 1.
    void fill(int count) {
        for (int n = 0; n < count; ++n) cache_.cache(image_, urlNumber(n));
    }

    PNImageCache cache_;
    platform::ImagePtr image_ = picture();
};

TEST_F(PNImageCacheTest, AFullCacheDropsTheTenLeastRecentlyUsed) {
    fill(static_cast<int>(PNImageCache::limit));
    EXPECT_EQ(cache_.count(), PNImageCache::limit);

    ASSERT_EQ(cache_.image(urlNumber(0)), image_);  // the oldest becomes the newest
    cache_.cache(image_, urlNumber(5000));
    EXPECT_EQ(cache_.count(), PNImageCache::limit - PNImageCache::evictionCount + 1);

    const auto map = cache_.cacheMap();
    EXPECT_TRUE(map.count(urlNumber(0)));
    for (int n = 1; n <= 10; ++n) EXPECT_FALSE(map.count(urlNumber(n))) << n;
    for (int n : {11, 1999, 5000}) EXPECT_TRUE(map.count(urlNumber(n))) << n;
}

TEST_F(PNImageCacheTest, RefreshingAnEntryOfAFullCacheAlsoCutsItButKeepsThatEntry) {
    fill(static_cast<int>(PNImageCache::limit));
    cache_.cache(picture(9), urlNumber(0));
    EXPECT_EQ(cache_.count(), PNImageCache::limit - PNImageCache::evictionCount);
    const auto map = cache_.cacheMap();
    ASSERT_TRUE(map.count(urlNumber(0)));
    EXPECT_EQ(map.at(urlNumber(0)).timestamp(), cache_.lastTimeStamp());
    EXPECT_FALSE(map.count(urlNumber(1)));
    EXPECT_FALSE(map.count(urlNumber(10)));
    EXPECT_TRUE(map.count(urlNumber(11)));
}

TEST_F(PNImageCacheTest, StoringAgainKeepsTheFirstImageAndRefreshesItsStamp) {
    const auto first = picture(1);
    cache_.cache(first, urlNumber(1));
    cache_.cache(picture(2), urlNumber(2));
    cache_.cache(picture(3), urlNumber(1));

    EXPECT_EQ(cache_.count(), 2u);
    const auto map = cache_.cacheMap();
    EXPECT_EQ(map.at(urlNumber(1)).image(), first);
    EXPECT_EQ(map.at(urlNumber(1)).timestamp(), 3);
    EXPECT_EQ(map.at(urlNumber(2)).timestamp(), 2);
    EXPECT_EQ(cache_.image(urlNumber(1)), first);
    EXPECT_EQ(cache_.image(urlNumber(3)), nullptr);
    cache_.cache(nullptr, urlNumber(3));
    EXPECT_EQ(cache_.count(), 2u);
}

TEST_F(PNImageCacheTest, MemoryWarningEmptiesTheCacheAndStampsGoOn) {
    fill(3);
    ASSERT_EQ(cache_.lastTimeStamp(), 3);
    platform::Application::shared().postDidReceiveMemoryWarning();

    EXPECT_EQ(cache_.count(), 0u);
    for (int n = 0; n < 3; ++n) EXPECT_EQ(cache_.image(urlNumber(n)), nullptr);
    EXPECT_EQ(cache_.lastTimeStamp(), 3);
    cache_.cache(image_, urlNumber(7));
    EXPECT_EQ(cache_.cacheMap().at(urlNumber(7)).timestamp(), 4);
}

TEST_F(PNImageCacheTest, ASpentCounterRenumbersEntriesInOrderOfUse) {
    constexpr auto largest = std::numeric_limits<std::int64_t>::max();
    const struct {
        const char* name;
        bool lookUp;  // a hit on URL 0, else a store of a new URL 9
        std::map<int, std::int64_t> stamps;
    } cases[] = {
        // Before: URL 0 has stamp 1, URL 2 stamp 3, URL 1 stamp 4 (it was read last).
        {"hit", true, {{0, 3}, {2, 1}, {1, 2}}},
        {"store", false, {{0, 0}, {2, 1}, {1, 2}, {9, 3}}},
    };
    for (const auto& c : cases) {
        PNImageCache cache;
        for (int n = 0; n < 3; ++n) cache.cache(image_, urlNumber(n));
        ASSERT_TRUE(cache.image(urlNumber(1)));
        cache.setLastTimeStamp(largest);

        if (c.lookUp)
            EXPECT_TRUE(cache.image(urlNumber(0)));
        else
            cache.cache(image_, urlNumber(9));

        EXPECT_EQ(cache.lastTimeStamp(), 3) << c.name;
        const auto map = cache.cacheMap();
        ASSERT_EQ(map.size(), c.stamps.size()) << c.name;
        for (const auto& [n, stamp] : c.stamps)
            EXPECT_EQ(map.at(urlNumber(n)).timestamp(), stamp) << c.name << " url " << n;
    }
}

}  // namespace
}  // namespace pindle
