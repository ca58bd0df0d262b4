#include "platform/net/TestDelegateQueue.hpp"

namespace pindle::platform::test {

TestDelegateQueue::TestDelegateQueue(int threadCount) {
    for (int i = 0; i < threadCount; ++i) {
        threads_.emplace_back([state = state_] { runWorker(state); });
    }
}

TestDelegateQueue::~TestDelegateQueue() {
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
    }
    state_->workAvailable.notify_all();
    for (auto& thread : threads_) {
        if (thread.get_id() == std::this_thread::get_id()) {
            thread.detach();
        } else {
            thread.join();
        }
    }
}

void TestDelegateQueue::async(std::function<void()> work) {
    {
        std::lock_guard lock(state_->mutex);
        state_->work.push_back(std::move(work));
    }
    state_->workAvailable.notify_one();
}

bool TestDelegateQueue::ranOn(std::thread::id thread) const {
    std::lock_guard lock(state_->mutex);
    return state_->workerIds.count(thread) > 0;
}

bool TestDelegateQueue::waitUntilIdle(std::chrono::milliseconds bound) const {
    std::unique_lock lock(state_->mutex);
    return state_->becameIdle.wait_for(
        lock, bound, [&] { return state_->work.empty() && state_->running == 0; });
}

void TestDelegateQueue::runWorker(const std::shared_ptr<State>& state) {
    {
        std::lock_guard lock(state->mutex);
        state->workerIds.insert(std::this_thread::get_id());
    }
    for (;;) {
        std::function<void()> next;
        {
            std::unique_lock lock(state->mutex);
            state->workAvailable.wait(lock,
                                      [&] { return state->stopping || !state->work.empty(); });
            if (state->work.empty())
                return;
            next = std::move(state->work.front());
            state->work.pop_front();
            ++state->running;
        }
        next();
        next = nullptr;  // what the work captured goes before the queue counts as idle
        std::lock_guard lock(state->mutex);
        if (--state->running == 0 && state->work.empty())
            state->becameIdle.notify_all();
    }
}

}  // namespace pindle::platform::test
