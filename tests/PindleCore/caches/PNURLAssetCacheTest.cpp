#include "PindleCore/caches/PNURLAssetCache.hpp"
#include "platform/media/URLAsset.hpp"

#include <gtest/gtest.h>

#include <regex>

#include "platform/foundation/StandardOutput.hpp"

namespace pindle {
namespace {

platform::AssetPtr someAsset() {
    return platform::URLAsset::make(platform::URL::fileURLWithPath("/nonexistent/clip.mp4"));
}

// Puts assets until the list holds `target` (the list is process-wide; it never holds more
// than the threshold, so this always gets there).
void fillTo(std::size_t target) {
    while (PNURLAssetCache::count() < target) PNURLAssetCache::put(someAsset());
}

TEST(PNURLAssetCacheTest, FlushesOnlyOnceTheListHasReachedTheThreshold) {
    platform::StandardOutput::Capture output;
    if (PNURLAssetCache::count() == PNURLAssetCache::flushThreshold)
        PNURLAssetCache::put(someAsset());  // start from a known size
    fillTo(PNURLAssetCache::flushThreshold - 1);
    const std::size_t printedBefore = output.lines().size();

    PNURLAssetCache::put(someAsset());  // the 350th
    EXPECT_EQ(PNURLAssetCache::count(), PNURLAssetCache::flushThreshold);
    EXPECT_EQ(output.lines().size(), printedBefore);

    auto last = someAsset();
    std::weak_ptr<platform::Asset> held = last;
    PNURLAssetCache::put(std::move(last));  // the 351st
    EXPECT_EQ(PNURLAssetCache::count(), 1u);
    EXPECT_FALSE(held.expired());
    const auto lines = output.lines();
    ASSERT_EQ(lines.size(), printedBefore + 1);
    EXPECT_TRUE(std::regex_match(lines.back(), std::regex(R"(flush assets -?[0-9.e+-]+)")))
        << lines.back();
}

TEST(PNURLAssetCacheTest, HoldsAssetsStronglyEvenTwiceAndReleasesThemOnFlush) {
    platform::StandardOutput::Capture output;
    fillTo(PNURLAssetCache::flushThreshold);
    PNURLAssetCache::put(someAsset());  // flush: one asset left
    ASSERT_EQ(PNURLAssetCache::count(), 1u);

    auto asset = someAsset();
    std::weak_ptr<platform::Asset> held = asset;
    PNURLAssetCache::put(asset);
    PNURLAssetCache::put(asset);
    EXPECT_EQ(PNURLAssetCache::count(), 3u);
    asset.reset();
    EXPECT_FALSE(held.expired());

    fillTo(PNURLAssetCache::flushThreshold);
    PNURLAssetCache::put(someAsset());
    EXPECT_TRUE(held.expired());
}

}  // namespace
}  // namespace pindle
