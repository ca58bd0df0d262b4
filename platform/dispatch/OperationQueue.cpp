#include "platform/dispatch/OperationQueue.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/MainThread.hpp"
#include "platform/dispatch/private/DeliveryTracker.hpp"
#include "platform/dispatch/private/OperationKeys.hpp"
#include "platform/foundation/Weakly.hpp"

namespace pindle::platform {

namespace {
constexpr double forever = 1e9;
}  // namespace

std::shared_ptr<OperationQueue> OperationQueue::create(std::string name) {
    return std::make_shared<OperationQueue>(Private(), std::move(name), false);
}

std::shared_ptr<OperationQueue> OperationQueue::main() {
    // Never destroyed, like every process-wide queue.
    static auto* const queue = new std::shared_ptr<OperationQueue>(
        std::make_shared<OperationQueue>(Private(), "com.apple.main-thread", true));
    return *queue;
}

OperationQueue::OperationQueue(Private, std::string name, bool isMain)
    : isMain_(isMain),
      maxConcurrent_(isMain ? 1 : kDefaultMaxConcurrentOperationCount),
      name_(std::move(name)) {}

void OperationQueue::async(std::function<void()> work) {
    addOperationWithBlock(std::move(work));
}

void OperationQueue::addOperationWithBlock(std::function<void()> block) {
    addOperation(
        std::make_shared<BlockOperation>(detail::DeliveryTracker::track(std::move(block))));
}

void OperationQueue::addOperation(const OperationPtr& operation) {
    if (!operation) {
        return;
    }
    if (!operation->claimForQueue() || operation->started_.load()) {
        std::fprintf(stderr, "OperationQueue::addOperation: operation already queued or started\n");
        std::abort();
    }
    // Told of its announcements before it can start, so an asynchronous operation's end is
    // never missed; what it announces before it is in entries_ is read again when a pump
    // looks at it.
    const Order order = nextOrder_.fetch_add(1, std::memory_order_relaxed);
    operation->setQueue(weak_from_this(), order);
    {
        std::lock_guard lock(mutex_);
        auto [added, _] = entries_.emplace(order, Entry{operation});
        makeWaitingLocked(order, added->second);
    }
    pump();
}

int OperationQueue::maxConcurrentOperationCount() const {
    std::lock_guard lock(mutex_);
    return maxConcurrent_;
}

void OperationQueue::setMaxConcurrentOperationCount(int count) {
    {
        std::lock_guard lock(mutex_);
        maxConcurrent_ = count;
    }
    pump();
}

bool OperationQueue::isSuspended() const {
    std::lock_guard lock(mutex_);
    return suspended_;
}

void OperationQueue::setSuspended(bool suspended) {
    {
        std::lock_guard lock(mutex_);
        suspended_ = suspended;
    }
    pump();
}

std::string OperationQueue::name() const {
    std::lock_guard lock(mutex_);
    return name_;
}

void OperationQueue::setName(std::string name) {
    std::lock_guard lock(mutex_);
    name_ = std::move(name);
}

std::vector<OperationPtr> OperationQueue::operations() const {
    std::lock_guard lock(mutex_);
    std::vector<OperationPtr> snapshot;
    snapshot.reserve(entries_.size());
    for (const auto& [order, entry] : entries_) {
        snapshot.push_back(entry.operation);
    }
    return snapshot;
}

std::size_t OperationQueue::operationCount() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
}

void OperationQueue::cancelAllOperations() {
    // Pending ones first: cancelling a running one frees its slot, and a pending one not yet
    // cancelled would start in it.
    std::vector<OperationPtr> pending;
    std::vector<OperationPtr> running;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [order, entry] : entries_) {
            (entry.state == State::started ? running : pending).push_back(entry.operation);
        }
    }
    for (const auto& operation : pending) {
        operation->cancel();
    }
    for (const auto& operation : running) {
        operation->cancel();
    }
    pump();
}

void OperationQueue::waitUntilAllOperationsAreFinished() {
    if (isMain_ && MainThread::isMainThread()) {
        MainThread::runUntil([this] { return operationCount() == 0; }, forever);
        return;
    }
    std::unique_lock lock(mutex_);
    emptied_.wait(lock, [this] { return entries_.empty(); });
}

bool OperationQueue::hasFreeSlotLocked() const {
    if (suspended_) {
        return false;
    }
    return maxConcurrent_ == kDefaultMaxConcurrentOperationCount || slotsTaken_ < maxConcurrent_;
}

void OperationQueue::makeWaitingLocked(Order order, Entry& entry) {
    entry.state = State::waiting;
    entry.lookAgain = false;
    // Almost always the newest; an operation that was not ready goes back to its place.
    if (ready_.empty() || ready_.back() < order) {
        ready_.push_back(order);
    } else {
        ready_.insert(std::upper_bound(ready_.begin(), ready_.end(), order), order);
    }
}

OperationQueue::Entry OperationQueue::retireLocked(std::map<Order, Entry>::iterator found,
                                                   bool& emptied) {
    Entry retired = std::move(found->second);
    entries_.erase(found);
    emptied = entries_.empty();
    if (emptied) {
        ready_.clear();  // only orders of dropped entries can be left
    }
    return retired;
}

// Starts waiting operations, oldest first, while slots are free. Each is claimed under the
// lock together with a slot, then its own state (cancelled, finished, ready) is read outside
// the lock, so concurrent pumps never start one operation twice, nor a later one in the slot
// an earlier one is about to take.
void OperationQueue::pump() {
    for (;;) {
        Order order = 0;
        OperationPtr operation;
        {
            std::lock_guard lock(mutex_);
            if (!hasFreeSlotLocked()) {
                return;
            }
            while (!operation && !ready_.empty()) {
                order = ready_.front();
                ready_.pop_front();
                auto found = entries_.find(order);
                if (found != entries_.end() && found->second.state == State::waiting) {
                    found->second.state = State::examined;
                    operation = found->second.operation;
                }
            }
            if (!operation) {
                return;
            }
            ++slotsTaken_;
        }
        const bool drop = operation->isFinished() || operation->isCancelled();
        const bool ready = !drop && operation->isReady();
        Entry retired;
        bool emptied = false;
        bool start = false;
        {
            std::lock_guard lock(mutex_);
            --slotsTaken_;
            auto found = entries_.find(order);
            if (found == entries_.end()) {
                // It announced its end meanwhile and is gone.
            } else if (drop) {
                retired = retireLocked(found, emptied);
            } else if (found->second.lookAgain || (ready && !hasFreeSlotLocked())) {
                makeWaitingLocked(order, found->second);
            } else if (ready) {
                found->second.state = State::started;
                ++slotsTaken_;
                start = true;
            } else {
                found->second.state = State::parked;
            }
        }
        if (emptied) {
            emptied_.notify_all();
        }
        if (retired.operation) {
            if (!operation->isFinished()) {
                operation->finishWithoutRunning();
            }
        }
        if (start) {
            launch(order, operation);
        }
    }
}

void OperationQueue::launch(Order order, const OperationPtr& operation) {
    auto executor = isMain_ ? DispatchQueue::main() : DispatchQueue::global();
    auto ended = weakly(this, [order](OperationQueue& self) { self.ended(order); });
    executor->async([ended, operation]() mutable {
        operation->start();
        // A synchronous operation is done when start() returns; an asynchronous one may
        // have finished inside start() as well.
        if (!operation->isAsynchronous() || operation->isFinished())
            ended();
    });
}

void OperationQueue::operationChanged(Order order, Operation* operation, std::string_view key) {
    if (key == operation_keys::finished) {
        if (operation->isFinished()) {
            ended(order);
        }
    } else if (key == operation_keys::ready) {
        readyAgain(order);
    } else if (key == operation_keys::cancelled) {
        dropIfPending(order);
    }
}

void OperationQueue::readyAgain(Order order) {
    {
        std::lock_guard lock(mutex_);
        auto found = entries_.find(order);
        if (found != entries_.end()) {
            if (found->second.state == State::parked) {
                makeWaitingLocked(order, found->second);
            } else if (found->second.state == State::examined) {
                found->second.lookAgain = true;
            }
        }
    }
    pump();
}

void OperationQueue::dropIfPending(Order order) {
    Entry dropped;
    bool emptied = false;
    {
        std::lock_guard lock(mutex_);
        auto found = entries_.find(order);
        if (found == entries_.end() || found->second.state == State::started) {
            return;
        }
        if (found->second.state == State::examined) {
            // The pump that holds it decides, reading the cancellation again.
            found->second.lookAgain = true;
            return;
        }
        dropped = retireLocked(found, emptied);
    }
    if (emptied) {
        emptied_.notify_all();
    }
    if (!dropped.operation->isFinished()) {
        dropped.operation->finishWithoutRunning();
    }
}

void OperationQueue::ended(Order order) {
    Entry retired;
    bool emptied = false;
    {
        std::lock_guard lock(mutex_);
        auto found = entries_.find(order);
        if (found == entries_.end()) {
            return;
        }
        // An examined one's slot is the examining pump's to give back.
        if (found->second.state == State::started) {
            --slotsTaken_;
        }
        retired = retireLocked(found, emptied);
    }
    if (emptied) {
        emptied_.notify_all();
    }
    pump();
}

}  // namespace pindle::platform
