// OperationQueue: runs Operations on the worker pool (or, for main(), on the main queue),
// in the order added, at most maxConcurrentOperationCount at a time.
//
// Each running operation holds a slot: a synchronous one until its start() returns, an
// asynchronous one until it announces did-change of "isFinished" while isFinished() is
// true, however long after start() that is. An operation that is cancelled or finished
// before its turn is dropped without being started. The queue holds its operations until
// they end; a pending one that is cancelled leaves the queue at once.
//
// As an Executor, async() adds a block operation.
//
// Thread-safety: all operations are safe from any thread. Operations start on pool threads
// (main(): on the main thread); no lock of the queue is held while an operation, an
// observer or a completion block runs.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dispatch/Operation.hpp"
#include "platform/foundation/Executor.hpp"

namespace pindle::platform {

class OperationQueue : public Executor, public std::enable_shared_from_this<OperationQueue> {
  public:
    // No limit on concurrent operations.
    static constexpr int kDefaultMaxConcurrentOperationCount = -1;

    static std::shared_ptr<OperationQueue> create(std::string name = {});
    // The queue that runs on the main queue, one operation at a time.
    static std::shared_ptr<OperationQueue> main();

    // Construction goes through create() and main().
    struct Private {
        explicit Private() = default;
    };
    OperationQueue(Private, std::string name, bool isMain);

    OperationQueue(const OperationQueue&) = delete;
    OperationQueue& operator=(const OperationQueue&) = delete;

    void async(std::function<void()> work) override;

    // REQUIRES: `operation` is in no queue yet and has not started (aborts otherwise).
    void addOperation(const OperationPtr& operation);
    void addOperationWithBlock(std::function<void()> block);

    int maxConcurrentOperationCount() const;
    // A value of zero or less other than kDefaultMaxConcurrentOperationCount holds back every
    // operation, as suspension does.
    void setMaxConcurrentOperationCount(int count);
    bool isSuspended() const;
    // A suspended queue starts nothing new; running operations go on.
    void setSuspended(bool suspended);
    std::string name() const;
    void setName(std::string name);

    // The operations that have not ended, in the order they were added.
    std::vector<OperationPtr> operations() const;
    std::size_t operationCount() const;
    // Cancels every operation in the queue; those not started are dropped.
    void cancelAllOperations();
    // Blocks until every operation has ended (on the main thread, for main(), it runs the
    // main queue meanwhile). REQUIRES: not called from one of this queue's operations.
    void waitUntilAllOperationsAreFinished();

  private:
    friend class Operation;

    // Where a not-yet-ended operation stands. waiting: in ready_, believed ready; examined:
    // a pump took it out of ready_ and reads its state outside the lock, holding a slot for
    // it; parked: not ready, out of ready_ until it announces "isReady"; started: handed
    // to its executor, holding a slot until it ends.
    enum class State { waiting, examined, parked, started };
    struct Entry {
        OperationPtr operation;
        State state = State::waiting;
        // The operation announced a change while a pump examined it, so the pump's view of
        // it may be stale: it goes back to ready_ instead of being parked.
        bool lookAgain = false;
    };
    using Order = std::uint64_t;  // the rank of an operation in the order added

    void pump();
    void launch(Order order, const OperationPtr& operation);
    // The operation at `order` announced did-change of `key` (after its observers heard).
    void operationChanged(Order order, Operation* operation, std::string_view key);
    void ended(Order order);
    void dropIfPending(Order order);
    void readyAgain(Order order);
    // Removes the entry and hands back what must be released outside the lock.
    Entry retireLocked(std::map<Order, Entry>::iterator found, bool& emptied);
    void makeWaitingLocked(Order order, Entry& entry);
    bool hasFreeSlotLocked() const;

    const bool isMain_;

    mutable std::mutex mutex_;
    std::condition_variable emptied_;
    std::map<Order, Entry> entries_;  // guarded by mutex_; every operation not yet ended
    // Orders of the waiting entries, ascending, so a pump looks only at what may start; an
    // entry dropped while waiting leaves its order behind, which a pump skips.
    std::deque<Order> ready_;  // guarded by mutex_
    int slotsTaken_ = 0;       // guarded by mutex_; started and examined entries
    int maxConcurrent_;        // guarded by mutex_
    bool suspended_ = false;   // guarded by mutex_
    std::string name_;         // guarded by mutex_
    std::atomic<Order> nextOrder_{0};
};

using OperationQueuePtr = std::shared_ptr<OperationQueue>;

}  // namespace pindle::platform
