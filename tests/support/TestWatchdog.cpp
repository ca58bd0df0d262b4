#include "tests/support/TestWatchdog.hpp"

#include <cstdio>
#include <cstdlib>

#include <unistd.h>

namespace pindle::testing {

std::optional<std::chrono::seconds> TestWatchdog::limitFromEnvironment() {
    const char* value = std::getenv("PINDLE_TEST_WATCHDOG_SECONDS");
    if (!value || !*value)
        return defaultLimit;
    char* end = nullptr;
    const long seconds = std::strtol(value, &end, 10);
    if (*end != '\0' || seconds < 0) {
        std::fprintf(stderr,
                     "PINDLE_TEST_WATCHDOG_SECONDS=%s is not a number of seconds; using %lld\n",
                     value, static_cast<long long>(defaultLimit.count()));
        return defaultLimit;
    }
    if (seconds == 0)
        return std::nullopt;
    return std::chrono::seconds(seconds);
}

TestWatchdog::TestWatchdog(std::chrono::seconds limit)
    : limit_(limit), owner_(::getpid()), thread_([this] { watch(); }) {}

TestWatchdog::~TestWatchdog() {
    // A death test's forked child exits through here without the watchdog's thread, whose
    // lock it may have copied held.
    if (::getpid() != owner_) {
        thread_.detach();
        return;
    }
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void TestWatchdog::OnTestStart(const ::testing::TestInfo& test) {
    {
        std::lock_guard lock(mutex_);
        running_ = std::string(test.test_suite_name()) + "." + test.name();
        deadline_ = std::chrono::steady_clock::now() + limit_;
    }
    changed_.notify_all();
}

void TestWatchdog::OnTestEnd(const ::testing::TestInfo&) {
    {
        std::lock_guard lock(mutex_);
        running_.clear();
    }
    changed_.notify_all();
}

void TestWatchdog::watch() {
    std::unique_lock lock(mutex_);
    for (;;) {
        if (stopping_)
            return;
        if (running_.empty()) {
            changed_.wait(lock);
            continue;
        }
        const std::string watched = running_;
        const auto deadline = deadline_;
        if (changed_.wait_until(lock, deadline, [&] {
                return stopping_ || running_ != watched || deadline_ != deadline;
            }))
            continue;
        // A stuck test cannot be failed from here, only stopped; abort() leaves a core
        // showing where each thread waits.
        std::fprintf(stderr,
                     "\n%s has run for more than %lld s: a wait in it never ended. Stopping "
                     "the process.\n",
                     watched.c_str(), static_cast<long long>(limit_.count()));
        std::fflush(stderr);
        std::abort();
    }
}

}  // namespace pindle::testing
