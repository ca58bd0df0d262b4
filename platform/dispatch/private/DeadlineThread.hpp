// DeadlineThread: the one thread that runs the system clock's deliveries at their deadlines.
//
// Internal to the dispatch library. Deadlines are steady-clock uptimes. The thread starts on
// first use and lives for the process; deliveries are quick (they enqueue work or wake a
// waiter), so one thread serves every delay, timer and timed wait.
//
// Thread-safety: schedule() may be called from any thread; deliveries run on the
// deadline thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <queue>
#include <vector>

namespace pindle::platform::detail {

class DeadlineThread {
  public:
    using Duration = std::chrono::nanoseconds;

    static DeadlineThread& shared();

    DeadlineThread(const DeadlineThread&) = delete;
    DeadlineThread& operator=(const DeadlineThread&) = delete;

    void schedule(Duration deadline, std::function<void()> deliver);

  private:
    DeadlineThread();
    void run();

    struct Entry {
        Duration deadline;
        std::uint64_t sequence;
        std::function<void()> deliver;
    };
    struct Later {
        bool operator()(const Entry& a, const Entry& b) const {
            return a.deadline != b.deadline ? a.deadline > b.deadline : a.sequence > b.sequence;
        }
    };

    std::mutex mutex_;
    std::condition_variable changed_;
    std::priority_queue<Entry, std::vector<Entry>, Later> due_;  // guarded by mutex_
    std::uint64_t nextSequence_ = 0;                             // guarded by mutex_
};

}  // namespace pindle::platform::detail
