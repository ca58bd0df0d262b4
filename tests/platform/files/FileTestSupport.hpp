// Helpers for the file tests: a scratch folder that cleans up after itself, and an executor
// whose work runs only when the test drains it.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>

#include "platform/files/FileManager.hpp"
#include "platform/foundation/Executor.hpp"
#include "tests/support/TestFolders.hpp"

namespace pindle::platform::testing {

class TemporaryFolder {
  public:
    TemporaryFolder() : path_(pindle::testing::makeScratchFolder("files-")) {}
    // In another folder, for tests that need another file system.
    explicit TemporaryFolder(const std::string& parent) {
        std::string pattern = parent + "/pindle-files-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TemporaryFolder() {
        ::chmod(path_.c_str(), 0755);
        FileManager::defaultManager().removeItem(path_).ignoreError();
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

inline void writeText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

inline std::string readText(const std::string& path) {
    auto data = FileManager::defaultManager().contentsOfFile(path);
    return data ? stringFromData(*data) : std::string("<unreadable>");
}

// Runs queued work only in drain(), on the test's thread.
class ManualExecutor final : public Executor {
  public:
    void async(std::function<void()> work) override {
        {
            std::scoped_lock lock(mutex_);
            queue_.push_back(std::move(work));
        }
        changed_.notify_all();
    }

    // Waits (up to a generous limit) until at least `count` items are queued.
    bool waitForWork(std::size_t count = 1) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10),
                                 [&] { return queue_.size() >= count; });
    }

    std::size_t pending() {
        std::scoped_lock lock(mutex_);
        return queue_.size();
    }

    void drain() {
        while (true) {
            std::function<void()> work;
            {
                std::scoped_lock lock(mutex_);
                if (queue_.empty())
                    return;
                work = std::move(queue_.front());
                queue_.pop_front();
            }
            work();
        }
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::function<void()>> queue_;  // guarded by mutex_
};

}  // namespace pindle::platform::testing
