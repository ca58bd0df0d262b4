// DeliveryTracker: lets VirtualClock::advance() wait until the work it delivered has run.
//
// Internal to the dispatch library. While advance() hands a due block to a queue, and
// while a block so handed runs, the tracker is "current" on that thread; every executor of
// the library passes the work it accepts through track(), so a block queued from tracked
// code is tracked too. The tracker counts tracked blocks that are queued or running and not
// parked in a semaphore or group wait; advance() moves on when the count reaches zero.
//
// Thread-safety: all operations are safe from any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

namespace pindle::platform::detail {

class DeliveryTracker {
  public:
    DeliveryTracker() = default;
    DeliveryTracker(const DeliveryTracker&) = delete;
    DeliveryTracker& operator=(const DeliveryTracker&) = delete;

    // The tracker of the code running on this thread, if any.
    static std::shared_ptr<DeliveryTracker> current();

    // Wraps `work` so the current tracker (if any) counts it until it has run or been
    // destroyed unrun. Without a current tracker returns `work` unchanged.
    static std::function<void()> track(std::function<void()> work);

    // Makes this tracker current on this thread for the lifetime of the returned guard.
    class Scope {
      public:
        explicit Scope(std::shared_ptr<DeliveryTracker> tracker);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

      private:
        std::shared_ptr<DeliveryTracker> previous_;
    };

    // A tracked thread about to block in a wait stops counting; whoever releases it (a
    // signal, or its deadline) counts it again before waking it, so advance() never sees a
    // gap between the two.
    void park();
    void unpark();

    // True when every tracked block has run or is parked. Waits at most `limit`.
    bool waitUntilSettled(std::chrono::steady_clock::duration limit);
    bool isSettled() const;

  private:
    void begin();
    void end();

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    long busy_ = 0;  // guarded by mutex_
};

}  // namespace pindle::platform::detail
