// ManualExecutor: an executor for tests that only queues work; the test decides when it runs
// (runAll()), on the test's own thread.
//
// Thread-safety: async() and runAll() may be called from any thread.
#pragma once

#include <deque>
#include <functional>
#include <mutex>

#include "platform/foundation/Executor.hpp"

namespace pindle::platform::testsupport {

class ManualExecutor final : public Executor {
  public:
    void async(std::function<void()> work) override {
        std::scoped_lock lock(mutex_);
        queued_.push_back(std::move(work));
    }

    // Runs queued work, including work queued meanwhile, until none is left; returns how many
    // items ran.
    int runAll() {
        int ran = 0;
        for (;;) {
            std::function<void()> work;
            {
                std::scoped_lock lock(mutex_);
                if (queued_.empty()) {
                    return ran;
                }
                work = std::move(queued_.front());
                queued_.pop_front();
            }
            work();
            ++ran;
        }
    }

    std::size_t pending() const {
        std::scoped_lock lock(mutex_);
        return queued_.size();
    }

  private:
    mutable std::mutex mutex_;
    std::deque<std::function<void()>> queued_;  // guarded by mutex_
};

}  // namespace pindle::platform::testsupport
