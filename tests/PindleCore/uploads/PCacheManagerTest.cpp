#include "PindleCore/uploads/PCacheManager.hpp"

#include <gtest/gtest.h>

#include <algorithm>

#include "UploadsTestSupport.hpp"

namespace pindle::legacy {
namespace {

using Names = std::vector<std::string>;

class PCacheManagerTest : public testing::UploadsTest {};

TEST_F(PCacheManagerTest, NamesAndFindsTheFilesOfAVideo) {
    auto& names = PCacheManager::getInstance();
    const std::string folder = home_ + "/Documents/psdk";
    EXPECT_EQ(names.pathForMOVVideoCache("abc"), folder + "/abc.mov");
    EXPECT_EQ(names.pathForVideoCache("abc", "720p"), folder + "/abc_720p.mp4");
    EXPECT_EQ(names.pathPatternForVideoCache("abc"), folder + "/abc_%@.mp4");
    EXPECT_TRUE(names.resolutionsForVideoCache("abc").empty());
    for (const char* unsafe : {"../abc", "..", "a/b"}) {
        EXPECT_FALSE(names.pathForMOVVideoCache(unsafe)) << unsafe;
        EXPECT_FALSE(names.pathForVideoCache(unsafe, "720p")) << unsafe;
        EXPECT_FALSE(names.pathPatternForVideoCache(unsafe)) << unsafe;
    }
    EXPECT_FALSE(names.pathForVideoCache("abc", "/../../x"));

    struct Case {
        std::vector<std::string> files;
        Names resolutions;
    };
    const Case cases[] = {
        {{"abc.mov", "abc_720p.mp4"}, {"720p"}},
        {{"abc_720p.mp4", "xabc_360p.mp4"}, {"360p", "720p"}},
        {{"other_720p.mp4", "abc.mov"}, {}},
    };
    for (const auto& c : cases) {
        platform::FileManager::defaultManager().removeItem(folder).ignoreError();
        for (const auto& file : c.files)
            testing::writeMedia(platform::URL::fileURLWithPath(folder + "/" + file), 1);
        auto found = names.resolutionsForVideoCache("abc");
        std::sort(found.begin(), found.end());
        EXPECT_EQ(found, c.resolutions);
        EXPECT_EQ(names.pathesForVideoCache("abc").size(), c.resolutions.size());
    }
}

}  // namespace
}  // namespace pindle::legacy
