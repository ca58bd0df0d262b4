#include "platform/dispatch/OperationQueue.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "platform/dispatch/DeliveryTracker.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/MainThread.hpp"

namespace pindle::platform {

namespace {
const std::string kFinishedKey = "isFinished";
const std::string kReadyKey = "isReady";
const std::string kCancelledKey = "isCancelled";
constexpr double kForever = 1e9;

void stopObserving(const std::vector<KeyValueObservationPtr>& observations) {
    for (const auto& observation : observations) {
        observation->invalidate();
    }
}
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
    std::weak_ptr<OperationQueue> weakSelf = weak_from_this();
    Operation* raw = operation.get();
    std::vector<KeyValueObservationPtr> observations;
    for (const std::string& key : {kFinishedKey, kReadyKey, kCancelledKey}) {
        observations.push_back(operation->observe(key, 0, [weakSelf, raw, key](const KVOChange&) {
            if (auto self = weakSelf.lock()) {
                self->operationChanged(raw, key);
            }
        }));
    }
    {
        std::lock_guard lock(mutex_);
        entries_.push_back(Entry{operation, std::move(observations), false});
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
    for (const auto& entry : entries_) {
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
        for (const auto& entry : entries_) {
            (entry.started ? running : pending).push_back(entry.operation);
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
        MainThread::runUntil([this] { return operationCount() == 0; }, kForever);
        return;
    }
    std::unique_lock lock(mutex_);
    emptied_.wait(lock, [this] { return entries_.empty(); });
}

bool OperationQueue::hasFreeSlotLocked() const {
    if (suspended_) {
        return false;
    }
    if (maxConcurrent_ == kDefaultMaxConcurrentOperationCount) {
        return true;
    }
    const auto running = std::count_if(entries_.begin(), entries_.end(),
                                       [](const Entry& entry) { return entry.started; });
    return running < maxConcurrent_;
}

// Starts operations while slots are free. The operations' own state (cancelled, finished,
// ready) is read outside the lock, then the choice is claimed under it, so concurrent pumps
// never start one operation twice.
void OperationQueue::pump() {
    for (;;) {
        std::vector<OperationPtr> waiting;
        {
            std::lock_guard lock(mutex_);
            if (!hasFreeSlotLocked()) {
                return;
            }
            for (const auto& entry : entries_) {
                if (!entry.started) {
                    waiting.push_back(entry.operation);
                }
            }
        }
        if (waiting.empty()) {
            return;
        }
        OperationPtr chosen;
        std::vector<OperationPtr> dropped;
        for (const auto& operation : waiting) {
            if (operation->isFinished() || operation->isCancelled()) {
                dropped.push_back(operation);
            } else if (operation->isReady()) {
                chosen = operation;
                break;
            }
        }
        std::vector<std::pair<OperationPtr, std::vector<KeyValueObservationPtr>>> retired;
        bool emptied = false;
        {
            std::lock_guard lock(mutex_);
            for (const auto& operation : dropped) {
                auto found = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) {
                    return e.operation == operation && !e.started;
                });
                if (found != entries_.end()) {
                    retired.emplace_back(found->operation, std::move(found->observations));
                    entries_.erase(found);
                }
            }
            if (chosen) {
                auto found = std::find_if(entries_.begin(), entries_.end(),
                                          [&](const Entry& e) { return e.operation == chosen; });
                if (found != entries_.end() && !found->started && hasFreeSlotLocked()) {
                    found->started = true;
                } else {
                    chosen = nullptr;
                }
            }
            emptied = entries_.empty();
        }
        if (emptied) {
            emptied_.notify_all();
        }
        for (const auto& [operation, observations] : retired) {
            stopObserving(observations);
            if (!operation->isFinished()) {
                operation->finishWithoutRunning();
            }
        }
        if (chosen) {
            launch(chosen);
        }
        if (!chosen && retired.empty()) {
            return;
        }
    }
}

void OperationQueue::launch(const OperationPtr& operation) {
    auto executor = isMain_ ? DispatchQueue::main() : DispatchQueue::global();
    std::weak_ptr<OperationQueue> weakSelf = weak_from_this();
    executor->async([weakSelf, operation] {
        operation->start();
        // A synchronous operation is done when start() returns; an asynchronous one may
        // have finished inside start() as well.
        if (!operation->isAsynchronous() || operation->isFinished()) {
            if (auto self = weakSelf.lock()) {
                self->ended(operation.get());
            }
        }
    });
}

void OperationQueue::operationChanged(Operation* operation, const std::string& key) {
    if (key == kFinishedKey) {
        if (operation->isFinished()) {
            ended(operation);
        }
    } else if (key == kReadyKey) {
        pump();
    } else if (key == kCancelledKey) {
        dropIfPending(operation);
    }
}

void OperationQueue::dropIfPending(Operation* operation) {
    OperationPtr dropped;
    std::vector<KeyValueObservationPtr> observations;
    bool emptied = false;
    {
        std::lock_guard lock(mutex_);
        auto found = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) {
            return e.operation.get() == operation && !e.started;
        });
        if (found == entries_.end()) {
            return;
        }
        dropped = std::move(found->operation);
        observations = std::move(found->observations);
        entries_.erase(found);
        emptied = entries_.empty();
    }
    if (emptied) {
        emptied_.notify_all();
    }
    stopObserving(observations);
    if (!dropped->isFinished()) {
        dropped->finishWithoutRunning();
    }
}

void OperationQueue::ended(Operation* operation) {
    OperationPtr retired;
    std::vector<KeyValueObservationPtr> observations;
    bool emptied = false;
    {
        std::lock_guard lock(mutex_);
        auto found = std::find_if(entries_.begin(), entries_.end(),
                                  [&](const Entry& e) { return e.operation.get() == operation; });
        if (found == entries_.end()) {
            return;
        }
        retired = std::move(found->operation);
        observations = std::move(found->observations);
        entries_.erase(found);
        emptied = entries_.empty();
    }
    if (emptied) {
        emptied_.notify_all();
    }
    stopObserving(observations);
    pump();
}

}  // namespace pindle::platform
