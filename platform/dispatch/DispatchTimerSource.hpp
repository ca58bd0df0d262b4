// DispatchTimerSource: a one-shot or repeating timer that fires on a target queue.
//
// A new timer is suspended: set its handlers, schedule() it, then resume(). It fires first
// at the scheduled deadline and then, when given an interval, every interval after that,
// reading Clock::current() (with a VirtualClock, once per period that advance() passes).
// A firing that falls while the timer is suspended is delivered on resume(). cancel() stops
// it for good and sends the cancel handler to the target queue.
//
// The timer holds its target; the clock holds the timer only weakly, so a timer whose last
// reference is dropped stops firing: keep a reference for as long as it should run.
//
// Thread-safety: all operations are safe from any thread. Handlers run on the target
// executor.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/dispatch/DispatchTime.hpp"
#include "platform/foundation/Date.hpp"
#include "platform/foundation/Executor.hpp"

namespace pindle::platform {

class DispatchTimerSource : public std::enable_shared_from_this<DispatchTimerSource> {
  public:
    static std::shared_ptr<DispatchTimerSource> create(std::shared_ptr<Executor> target);

    // Construction goes through create().
    struct Private {
        explicit Private() = default;
    };
    DispatchTimerSource(Private, std::shared_ptr<Executor> target);

    DispatchTimerSource(const DispatchTimerSource&) = delete;
    DispatchTimerSource& operator=(const DispatchTimerSource&) = delete;

    void setEventHandler(std::function<void()> handler);
    void setCancelHandler(std::function<void()> handler);

    // Fires at `deadline`, then every `interval` (zero or less: only once). Replaces the
    // previous schedule. Leeway is accepted for callers that state one; timers here are
    // exact.
    void schedule(DispatchTime deadline, Clock::Duration interval = Clock::Duration::zero(),
                  Clock::Duration leeway = Clock::Duration::zero());
    void schedule(DispatchTime deadline, TimeInterval interval);

    // Suspensions nest; each suspend() needs one resume(). REQUIRES: resume() matches a
    // suspend() or the initial suspension.
    void resume();
    void suspend();
    void cancel();
    bool isCancelled() const;

  private:
    std::function<void()> armLocked();
    void fire(std::uint64_t generation);

    const std::shared_ptr<Executor> target_;

    mutable std::mutex mutex_;
    std::function<void()> eventHandler_;    // guarded by mutex_
    std::function<void()> cancelHandler_;   // guarded by mutex_
    std::optional<DispatchTime> deadline_;  // guarded by mutex_
    Clock::Duration interval_{};            // guarded by mutex_
    int suspendCount_ = 1;                  // guarded by mutex_
    bool cancelled_ = false;                // guarded by mutex_
    std::uint64_t generation_ = 0;          // guarded by mutex_; stale deliveries differ
};

using DispatchTimerSourcePtr = std::shared_ptr<DispatchTimerSource>;

}  // namespace pindle::platform
