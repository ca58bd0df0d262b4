#include "platform/dispatch/private/DeadlineThread.hpp"

#include <thread>

namespace pindle::platform::detail {

DeadlineThread& DeadlineThread::shared() {
    // Never destroyed: the thread keeps running through static destruction.
    static DeadlineThread* const instance = new DeadlineThread();
    return *instance;
}

DeadlineThread::DeadlineThread() {
    std::thread([this] { run(); }).detach();
}

void DeadlineThread::schedule(Duration deadline, std::function<void()> deliver) {
    {
        std::lock_guard lock(mutex_);
        due_.push(Entry{deadline, nextSequence_++, std::move(deliver)});
    }
    changed_.notify_one();
}

void DeadlineThread::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        if (due_.empty()) {
            changed_.wait(lock);
            continue;
        }
        const auto deadline = std::chrono::steady_clock::time_point(
            std::chrono::duration_cast<std::chrono::steady_clock::duration>(due_.top().deadline));
        if (std::chrono::steady_clock::now() < deadline) {
            changed_.wait_until(lock, deadline);
            continue;
        }
        auto deliver = std::move(const_cast<Entry&>(due_.top()).deliver);
        due_.pop();
        lock.unlock();
        deliver();
        deliver = nullptr;  // drop captured state before taking the lock again
        lock.lock();
    }
}

}  // namespace pindle::platform::detail
