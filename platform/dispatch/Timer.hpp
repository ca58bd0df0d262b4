// Timer: a one-shot or repeating timer that runs a block on an executor (the main queue by
// default), as the platform's run-loop timers do.
//
// A scheduled timer keeps itself alive until it is invalidated (a one-shot timer invalidates
// itself after it fired), so a caller need not hold it; what the block captures is kept as
// long as that. Firings follow Clock: with a VirtualClock, advance() delivers them.
//
// Thread-safety: all operations are safe from any thread. The block runs on the executor,
// with the timer as its argument; invalidate() from inside the block stops later firings.
#pragma once

#include <functional>
#include <memory>
#include <mutex>

#include "platform/dispatch/DispatchTime.hpp"
#include "platform/dispatch/DispatchTimerSource.hpp"
#include "platform/foundation/Executor.hpp"
#include "platform/foundation/Object.hpp"

namespace pindle::platform {

class Timer;
using TimerPtr = std::shared_ptr<Timer>;

class Timer : public Object {
  public:
    using Block = std::function<void(Timer& timer)>;

    // Fires first `interval` seconds from now, then, when `repeats`, every `interval`.
    // A null executor means the main queue.
    static TimerPtr scheduledTimer(TimeInterval interval, bool repeats, Block block,
                                   std::shared_ptr<Executor> executor = nullptr);

    struct Private {
        explicit Private() = default;
    };
    Timer(Private, TimeInterval interval, bool repeats, Block block);
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    TimeInterval timeInterval() const { return interval_; }
    bool isValid() const;
    // Stops the timer for good and lets go of the block.
    void invalidate();
    // Runs the block now, on the calling thread, without changing the schedule; a one-shot
    // timer is invalidated by it.
    void fire();

  private:
    const TimeInterval interval_;
    const bool repeats_;

    mutable std::mutex mutex_;
    Block block_;                            // guarded by mutex_; empty once invalid
    DispatchTimerSourcePtr source_;          // guarded by mutex_
    std::shared_ptr<Timer> selfWhileValid_;  // guarded by mutex_; the scheduled timer's own hold
};

}  // namespace pindle::platform
