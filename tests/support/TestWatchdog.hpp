// The last bound on every wait in a test process: a test that runs longer than the limit
// (a sync(), a join or a waitUntilAllOperationsAreFinished() whose turn never comes) ends
// the process with a message naming the test, rather than hanging a run by hand, a shard or
// a CI job. PINDLE_TEST_WATCHDOG_SECONDS sets the limit (0 turns it off, e.g. under a
// debugger).
//
// Thread-safety: the test main installs it as a GoogleTest listener; its own thread only
// reads what the listener calls publish under its lock.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include <sys/types.h>

namespace pindle::testing {

class TestWatchdog : public ::testing::EmptyTestEventListener {
  public:
    static constexpr std::chrono::seconds defaultLimit{300};

    // The limit the environment asks for; none when it turns the watchdog off.
    static std::optional<std::chrono::seconds> limitFromEnvironment();

    explicit TestWatchdog(std::chrono::seconds limit);
    ~TestWatchdog() override;
    TestWatchdog(const TestWatchdog&) = delete;
    TestWatchdog& operator=(const TestWatchdog&) = delete;

    void OnTestStart(const ::testing::TestInfo& test) override;
    void OnTestEnd(const ::testing::TestInfo& test) override;

  private:
    void watch();

    const std::chrono::seconds limit_;
    const pid_t owner_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string running_;                             // guarded by mutex_; empty between tests
    std::chrono::steady_clock::time_point deadline_;  // guarded by mutex_
    bool stopping_ = false;                           // guarded by mutex_
    std::thread thread_;
};

}  // namespace pindle::testing
