// CallbackThreadPool: a small concurrent executor that runs URL-session callbacks for
// sessions made without a delegate queue of their own.
//
// shared() is one process-wide pool, never destroyed: its threads wait for work until the
// process exits. Work items run in submission order of pick-up, on any of its threads,
// possibly at the same time.
//
// Thread-safety: async() may be called from any thread.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/dispatch/Executor.hpp"

namespace pindle::platform {

class CallbackThreadPool final : public Executor {
  public:
    static std::shared_ptr<CallbackThreadPool> shared();

    void async(std::function<void()> work) override;

  private:
    struct Key {
        explicit Key() = default;
    };

  public:
    explicit CallbackThreadPool(Key);

  private:
    static constexpr int threadCount = 4;

    void runWorker();

    std::mutex mutex_;
    std::condition_variable workAvailable_;
    std::deque<std::function<void()>> work_;  // guarded by mutex_
    std::vector<std::thread> threads_;
};

}  // namespace pindle::platform
