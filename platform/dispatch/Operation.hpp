// Operation: a unit of work for an OperationQueue, with key-value announcements of its state.
//
// The base class is a synchronous operation: start() runs main() on the calling thread
// between "isExecuting" and "isFinished" announcements (or, when cancelled before, just
// finishes). Subclasses override main(); an asynchronous subclass returns true from
// isAsynchronous(), keeps its own state behind isExecuting()/isFinished(), and announces
// every change with willChangeValueForKey()/didChangeValueForKey(). Its queue treats it as
// running until it announces did-change of "isFinished" while isFinished() is true.
//
// The operation is key-value observable: "isCancelled", "isExecuting", "isFinished",
// "isReady", "isAsynchronous" and "name" answer their getters, and the announcements reach
// observers synchronously, on the announcing thread, in the order made, and never under a
// lock of the operation. The queue that holds the operation hears of "isFinished", "isReady"
// and "isCancelled" next, on the same thread; the completion block runs once, on the thread
// that announces the operation finished, after both.
//
// Thread-safety: all public operations are safe from any thread. Subclasses guard their own
// state; an asynchronous one makes each state transition one atomic step.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/foundation/KeyValueObserving.hpp"

namespace pindle::platform {

class OperationQueue;

class Operation : public KeyValueObservable {
  public:
    Operation();
    ~Operation() override;
    Operation(const Operation&) = delete;
    Operation& operator=(const Operation&) = delete;

    // Synchronous operations: announce executing, run main(), announce finished; a
    // cancelled one is only marked finished. Asynchronous ones: main() unless cancelled;
    // the subclass reports its own state. Does nothing on an operation already started.
    virtual void start();
    // The work; the base does nothing.
    virtual void main();
    // Marks the operation cancelled (announcing "isCancelled"). A queue drops a cancelled
    // operation that has not started; a running one decides itself how to stop.
    virtual void cancel();

    virtual bool isCancelled() const;
    virtual bool isExecuting() const;
    virtual bool isFinished() const;
    virtual bool isAsynchronous() const;
    // A queue starts only ready operations, and looks again when one announces did-change
    // of "isReady". Always true in the base.
    virtual bool isReady() const;

    void setCompletionBlock(std::function<void()> block);
    std::function<void()> completionBlock() const;
    void setName(std::string name);
    std::string name() const;

    Value valueForKey(std::string_view key) const override;
    // Announces, then, once "isFinished" is announced with isFinished() true, releases
    // waiters and runs the completion block.
    void didChangeValueForKey(std::string_view key) override;

    // Blocks until the operation has announced itself finished.
    // REQUIRES: not called from the operation's own work.
    void waitUntilFinished();

  private:
    friend class OperationQueue;

    // Used by a queue to retire a pending synchronous operation it drops: marks it finished
    // so completion blocks and waiters are released. Nothing for asynchronous ones.
    void finishWithoutRunning();
    // Claims the operation for one queue; false when a queue already has it.
    bool claimForQueue() { return !enqueued_.exchange(true); }
    // Names the queue that holds the operation, and its place there. The queue hears of
    // "isFinished", "isReady" and "isCancelled" after the observers have, without observing.
    void setQueue(std::weak_ptr<OperationQueue> queue, std::uint64_t order);
    void tellQueue(std::string_view key);

    std::atomic<bool> cancelled_{false};
    std::atomic<bool> started_{false};
    std::atomic<bool> enqueued_{false};
    std::atomic<bool> completionRan_{false};

    mutable std::mutex mutex_;
    std::condition_variable finishedChanged_;
    bool executing_ = false;                 // guarded by mutex_
    bool finished_ = false;                  // guarded by mutex_
    bool finishAnnounced_ = false;           // guarded by mutex_
    std::function<void()> completionBlock_;  // guarded by mutex_
    std::string name_;                       // guarded by mutex_
    std::weak_ptr<OperationQueue> queue_;    // guarded by mutex_
    std::uint64_t queueOrder_ = 0;           // guarded by mutex_
};

using OperationPtr = std::shared_ptr<Operation>;

// An operation that runs one block.
class BlockOperation : public Operation {
  public:
    explicit BlockOperation(std::function<void()> block) : block_(std::move(block)) {}
    void main() override {
        if (block_) {
            block_();
        }
    }

  private:
    const std::function<void()> block_;
};

}  // namespace pindle::platform
