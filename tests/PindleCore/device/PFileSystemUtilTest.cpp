#include "PindleCore/device/PFileSystemUtil.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "tests/support/TestFolders.hpp"

namespace pindle::legacy {
namespace {

class PFileSystemUtilTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = pindle::testing::makeScratchFolder("fsutil-");
        std::filesystem::remove_all(root_);
    }
    void TearDown() override { std::filesystem::remove_all(root_); }

    static platform::Data bytes(const std::string& text) {
        return platform::Data(text.begin(), text.end());
    }

    std::string root_;
};

TEST_F(PFileSystemUtilTest, CreatesListsMeasuresAndClears) {
    PFileSystemUtil::createFile(root_ + "/sub/a.mov", bytes("12345"));
    PFileSystemUtil::createFile(root_ + "/b.mp4", bytes("abc"));
    PFileSystemUtil::createFile(root_ + "/b.mp4", bytes("abcd"));  // replaces
    PFileSystemUtil::appendFile(root_ + "/b.mp4", bytes("ef"));
    PFileSystemUtil::appendFile(root_ + "/missing", bytes("x"));
    EXPECT_FALSE(PFileSystemUtil::fileExist(root_ + "/missing"));
    EXPECT_EQ(PFileSystemUtil::getFileSize(root_ + "/b.mp4"), 6u);
    EXPECT_EQ(PFileSystemUtil::getFileSize(root_ + "/nothing"), 0u);

    auto recursive = PFileSystemUtil::recursiveItemsInDirectory(root_);
    std::sort(recursive.begin(), recursive.end());
    EXPECT_EQ(recursive,
              (std::vector<std::string>{root_ + "/b.mp4", root_ + "/sub", root_ + "/sub/a.mov"}));
    auto own = PFileSystemUtil::nonRecursiveItemsInDirectory(root_);
    EXPECT_EQ(own.size(), 2u);
    EXPECT_EQ(PFileSystemUtil::nonRecursiveItemsInDirectory(root_, "b."),
              std::vector<std::string>{root_ + "/b.mp4"});
    EXPECT_EQ(PFileSystemUtil::nonRecursiveItemsInDirectory(root_, "").size(), 2u);
    EXPECT_GE(PFileSystemUtil::getFolderSize(root_), 11u);

    EXPECT_EQ(PFileSystemUtil::readDataFromFile(root_ + "/b.mp4", 4, 100), bytes("ef"));
    EXPECT_EQ(PFileSystemUtil::readDataFromFile(root_ + "/b.mp4", 1, 2), bytes("bc"));
    EXPECT_EQ(PFileSystemUtil::readDataFromFile(root_ + "/missing", 0, 2), platform::Data{});
    EXPECT_EQ(PFileSystemUtil::readDataFromFile(root_ + "/missing"), std::nullopt);

    EXPECT_TRUE(PFileSystemUtil::moveFile(root_ + "/b.mp4", root_ + "/c.mp4"));
    EXPECT_FALSE(PFileSystemUtil::moveFile(root_ + "/b.mp4", root_ + "/d.mp4"));

    PFileSystemUtil::clearFolder(root_);
    EXPECT_TRUE(PFileSystemUtil::fileExist(root_));
    EXPECT_TRUE(PFileSystemUtil::nonRecursiveItemsInDirectory(root_).empty());

    PFileSystemUtil::createFolderIfNotExist(root_ + "/x/y");
    EXPECT_TRUE(PFileSystemUtil::fileExist(root_ + "/x/y"));
    PFileSystemUtil::deletePath(root_ + "/x");
    EXPECT_FALSE(PFileSystemUtil::fileExist(root_ + "/x"));
}

}  // namespace
}  // namespace pindle::legacy
