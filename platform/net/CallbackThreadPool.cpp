#include "platform/net/CallbackThreadPool.hpp"

namespace pindle::platform {

std::shared_ptr<CallbackThreadPool> CallbackThreadPool::shared() {
    // Leaked on purpose: its threads run until the process ends.
    static auto* const pool =
        new std::shared_ptr<CallbackThreadPool>(std::make_shared<CallbackThreadPool>(Key()));
    return *pool;
}

CallbackThreadPool::CallbackThreadPool(Key) {
    for (int i = 0; i < threadCount; ++i) {
        threads_.emplace_back([this] { runWorker(); });
        threads_.back().detach();
    }
}

void CallbackThreadPool::async(std::function<void()> work) {
    {
        std::lock_guard lock(mutex_);
        work_.push_back(std::move(work));
    }
    workAvailable_.notify_one();
}

void CallbackThreadPool::runWorker() {
    for (;;) {
        std::function<void()> next;
        {
            std::unique_lock lock(mutex_);
            workAvailable_.wait(lock, [this] { return !work_.empty(); });
            next = std::move(work_.front());
            work_.pop_front();
        }
        next();
    }
}

}  // namespace pindle::platform
