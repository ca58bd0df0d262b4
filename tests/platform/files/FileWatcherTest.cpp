#include "platform/files/FileWatcher.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "platform/files/FileHandle.hpp"
#include "tests/platform/files/FileTestSupport.hpp"

namespace pindle::platform {
namespace {

using testing::ManualExecutor;
using testing::TemporaryFolder;
using testing::writeText;
using Event = FileWatcher::Event;

struct Recorder {
    std::mutex mutex;
    std::vector<Event> events;  // guarded by mutex
    FileWatcher::Handler handler() {
        return [this](Event event) {
            std::scoped_lock lock(mutex);
            events.push_back(event);
        };
    }
    std::vector<Event> taken() {
        std::scoped_lock lock(mutex);
        return std::exchange(events, {});
    }
};

TEST(FileWatcherTest, ReportsDeletionEvenWhileTheFileIsOpen) {
    TemporaryFolder folder;
    const std::string path = folder / "current.log";
    auto writer =
        FileHandle::open(path, FileHandle::Mode::appending, FileHandle::Creation::createIfMissing);
    ASSERT_TRUE(writer);
    auto executor = std::make_shared<ManualExecutor>();
    Recorder recorder;
    auto watcher = FileWatcher::watch(path, executor, recorder.handler());
    ASSERT_TRUE(watcher);

    ASSERT_TRUE(writer->write(dataFromString("a line\n")).ok());  // writes report nothing
    ASSERT_EQ(::unlink(path.c_str()), 0);
    ASSERT_TRUE(executor->waitForWork());
    executor->drain();
    EXPECT_EQ(recorder.taken(), std::vector<Event>{Event::deleted});
    EXPECT_TRUE(writer->write(dataFromString("still writable, but lost\n")).ok());
}

TEST(FileWatcherTest, ReportsRenamesAndReplacement) {
    TemporaryFolder folder;
    const std::string path = folder / "current.log";
    writeText(path, "x");
    auto executor = std::make_shared<ManualExecutor>();
    Recorder recorder;
    auto watcher = FileWatcher::watch(path, executor, recorder.handler());
    ASSERT_TRUE(watcher);

    ASSERT_EQ(::rename(path.c_str(), (folder / "moved.log").c_str()), 0);
    ASSERT_TRUE(executor->waitForWork());
    executor->drain();
    EXPECT_EQ(recorder.taken(), std::vector<Event>{Event::renamed});

    // Another file renamed over the watched one ends it.
    writeText(folder / "new.log", "y");
    ASSERT_EQ(::rename((folder / "new.log").c_str(), (folder / "moved.log").c_str()), 0);
    ASSERT_TRUE(executor->waitForWork());
    executor->drain();
    EXPECT_EQ(recorder.taken(), std::vector<Event>{Event::deleted});

    Error error;
    EXPECT_FALSE(FileWatcher::watch(folder / "missing", executor, recorder.handler(), &error));
    EXPECT_EQ(error.domain(), CocoaError::domain);
}

TEST(FileWatcherTest, NoHandlerRunsAfterDestruction) {
    TemporaryFolder folder;
    const std::string path = folder / "f";
    writeText(path, "x");
    auto executor = std::make_shared<ManualExecutor>();
    std::atomic<int> calls{0};
    auto watcher = FileWatcher::watch(path, executor, [&](Event) { ++calls; });
    ASSERT_TRUE(watcher);

    ::unlink(path.c_str());
    ASSERT_TRUE(executor->waitForWork());
    watcher.reset();
    executor->drain();  // the queued delivery finds the watcher gone
    EXPECT_EQ(calls.load(), 0);
}

TEST(FileWatcherTest, CancelsFromTwoThreadsAtOnceEndTheWatchOnce) {
    TemporaryFolder folder;
    const std::string path = folder / "f";
    writeText(path, "x");
    auto executor = std::make_shared<ManualExecutor>();
    for (int round = 0; round < 50; ++round) {
        auto watcher = FileWatcher::watch(path, executor, [](Event) {});
        ASSERT_TRUE(watcher);
        std::promise<void> go;
        std::shared_future<void> start = go.get_future().share();
        auto other = std::async(std::launch::async, [&] {
            start.wait();
            watcher->cancel();
        });
        go.set_value();
        watcher->cancel();
        other.get();
    }
}

TEST(FileWatcherTest, DestructionWaitsForARunningHandler) {
    TemporaryFolder folder;
    const std::string path = folder / "f";
    writeText(path, "x");
    auto executor = std::make_shared<ManualExecutor>();
    constexpr auto patience = std::chrono::seconds(30);
    std::promise<void> entered;
    std::promise<void> release;
    auto released = release.get_future().share();
    std::atomic<bool> finished{false};
    auto watcher = FileWatcher::watch(path, executor, [&](Event) {
        entered.set_value();
        released.wait_for(patience);
        finished = true;
    });
    ASSERT_TRUE(watcher);
    ::unlink(path.c_str());
    ASSERT_TRUE(executor->waitForWork());
    std::thread runner([&] { executor->drain(); });
    ASSERT_EQ(entered.get_future().wait_for(patience), std::future_status::ready);

    std::promise<void> destroying;
    std::thread destroyer([&] {
        destroying.set_value();
        watcher.reset();
        EXPECT_TRUE(finished.load());
    });
    // Released only once the destroyer is about to wait, so a destruction that does not wait
    // shows up as an unfinished handler.
    ASSERT_EQ(destroying.get_future().wait_for(patience), std::future_status::ready);
    release.set_value();
    destroyer.join();
    runner.join();
}

TEST(FileWatcherTest, HandlerMayDestroyItsOwnWatcher) {
    TemporaryFolder folder;
    const std::string path = folder / "f";
    writeText(path, "x");
    auto executor = std::make_shared<ManualExecutor>();
    std::unique_ptr<FileWatcher> watcher;
    int calls = 0;
    watcher = FileWatcher::watch(path, executor, [&](Event) {
        ++calls;
        watcher.reset();
    });
    ASSERT_TRUE(watcher);
    ::unlink(path.c_str());
    ASSERT_TRUE(executor->waitForWork());
    executor->drain();
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(watcher);
}

}  // namespace
}  // namespace pindle::platform
