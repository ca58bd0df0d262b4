// TestDelegateQueue: a concurrent executor for URL-session tests that remembers which
// threads ran its work. Its destructor lets queued work finish and joins its threads; it may
// run on one of them (a session released by its last callback releases its queue).
//
// Thread-safety: async(), ranOn() and waitUntilIdle() may be called from any thread but one
// of the queue's own.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "platform/foundation/Executor.hpp"

namespace pindle::platform::test {

class TestDelegateQueue final : public Executor {
  public:
    explicit TestDelegateQueue(int threadCount = 4);
    ~TestDelegateQueue() override;

    void async(std::function<void()> work) override;
    bool ranOn(std::thread::id thread) const;
    // Waits until no work is queued or running: a barrier for everything queued before it.
    // False when `bound` passes first.
    bool waitUntilIdle(std::chrono::milliseconds bound = std::chrono::seconds(20)) const;

  private:
    struct State {
        std::mutex mutex;
        std::condition_variable workAvailable;
        std::condition_variable becameIdle;
        std::deque<std::function<void()>> work;  // guarded by mutex
        std::set<std::thread::id> workerIds;     // guarded by mutex
        int running = 0;                         // guarded by mutex
        bool stopping = false;                   // guarded by mutex
    };
    static void runWorker(const std::shared_ptr<State>& state);

    const std::shared_ptr<State> state_ = std::make_shared<State>();
    std::vector<std::thread> threads_;
};

}  // namespace pindle::platform::test
