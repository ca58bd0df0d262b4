#include "platform/log/ExclusiveFile.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <thread>
#include <vector>

#include "platform/files/FileManager.hpp"
#include "platform/foundation/Status.hpp"
#include "tests/support/TestFolders.hpp"

namespace pindle::platform {
namespace {

TEST(ExclusiveFileTest, OnlyOneOfManyRacingCreatorsGetsTheName) {
    const std::string folder = pindle::testing::makeScratchFolder("exclusive-file-");
    const std::string path = folder + "/taken.log";

    std::atomic<int> created{0}, collisions{0};
    std::vector<std::thread> racers;
    for (int i = 0; i < 8; ++i) {
        racers.emplace_back([&] {
            const platform::Status made = ExclusiveFile::create(path);
            if (made.ok()) {
                ++created;
            } else if (ExclusiveFile::isCollision(made.error())) {
                ++collisions;
            }
        });
    }
    for (auto& racer : racers) {
        racer.join();
    }
    EXPECT_EQ(created.load(), 1);
    EXPECT_EQ(collisions.load(), 7);
    auto attributes = FileManager::defaultManager().attributesOfItem(path);
    ASSERT_TRUE(attributes);
    EXPECT_EQ(attributes->size, 0u);

    const platform::Status missingFolder = ExclusiveFile::create(folder + "/no/such/folder.log");
    ASSERT_FALSE(missingFolder.ok());
    EXPECT_FALSE(ExclusiveFile::isCollision(missingFolder.error()));
    FileManager::defaultManager().removeItem(folder).ignoreError();
}

}  // namespace
}  // namespace pindle::platform
