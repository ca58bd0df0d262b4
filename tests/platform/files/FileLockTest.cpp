#include "platform/files/FileLock.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <future>

#include "tests/platform/files/FileTestSupport.hpp"
#include "tests/support/OpenDescriptors.hpp"
#include "tests/support/SpinUntil.hpp"

namespace pindle::platform {
namespace {

using testing::TemporaryFolder;
using Kind = FileLock::Kind;

TEST(FileLockTest, HoldersExcludeOneAnotherUntilReleased) {
    TemporaryFolder folder;
    const std::string path = folder / "lock";
    EXPECT_FALSE(FileLock::isHeld(path));
    EXPECT_FALSE(FileManager::defaultManager().fileExists(path));  // looking makes nothing

    auto first = FileLock::tryAcquire(path);
    ASSERT_TRUE(first);
    Error error;
    EXPECT_FALSE(FileLock::tryAcquire(path, Kind::exclusive, &error));
    EXPECT_TRUE(error.domain().empty());  // held, not failed
    EXPECT_FALSE(FileLock::tryAcquire(path, Kind::shared));
    EXPECT_TRUE(FileLock::isHeld(path));
    first.reset();
    EXPECT_FALSE(FileLock::isHeld(path));
    EXPECT_TRUE(FileManager::defaultManager().fileExists(path));

    // Shared holders share; an exclusive one waits for all of them.
    auto reader = FileLock::tryAcquire(path, Kind::shared);
    auto another = FileLock::tryAcquire(path, Kind::shared);
    EXPECT_TRUE(reader && another);
    EXPECT_FALSE(FileLock::tryAcquire(path));
    reader.reset();
    another.reset();

    // A holder outside FileLock (another process's descriptor) counts as much.
    const int foreign = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(foreign, 0);
    ASSERT_EQ(::flock(foreign, LOCK_EX | LOCK_NB), 0);
    EXPECT_FALSE(FileLock::tryAcquire(path));
    EXPECT_TRUE(FileLock::isHeld(path));
    ::close(foreign);
    EXPECT_TRUE(FileLock::acquire(path));

    // No folder: a failure, not a holder.
    error = Error();
    EXPECT_FALSE(FileLock::tryAcquire(folder / "missing/lock", Kind::exclusive, &error));
    EXPECT_FALSE(error.domain().empty());
}

// A taker that opened the lock file before its holder removed it must not end up holding the
// removed file while the path names a new one that someone else may lock.
TEST(FileLockTest, ALockFileRemovedUnderAWaitingTakerIsNeverHeldTwice) {
    TemporaryFolder folder;
    const std::string path = folder / "claim";
    auto holder = FileLock::tryAcquire(path);
    ASSERT_TRUE(holder);
    auto taken = std::async(std::launch::async, [&] { return FileLock::acquire(path); });
    // The taker has the file open, and waits for its lock (or is about to).
    ASSERT_TRUE(
        pindle::testing::spinUntil([&] { return pindle::testing::descriptorsOpenOn(path) == 2; }));
    holder->removeAndRelease();
    ASSERT_EQ(taken.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    auto waiter = taken.get();
    ASSERT_TRUE(waiter);
    EXPECT_TRUE(FileManager::defaultManager().fileExists(path));
    EXPECT_TRUE(FileLock::isHeld(path));
    EXPECT_FALSE(FileLock::tryAcquire(path));
}

}  // namespace
}  // namespace pindle::platform
