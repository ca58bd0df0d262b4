#include "platform/dispatch/DispatchQueue.hpp"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/dispatch/DispatchGroup.hpp"
#include "platform/dispatch/MainThread.hpp"
#include "platform/dispatch/private/DeliveryTracker.hpp"
#include "platform/dispatch/private/WorkerPool.hpp"

namespace pindle::platform {

namespace {

constexpr const char* mainLabel = "com.apple.main-thread";
constexpr const char* highLabel = "com.apple.root.high-priority";
constexpr const char* defaultLabel = "com.apple.root.default-priority";
constexpr const char* lowLabel = "com.apple.root.low-priority";
constexpr const char* backgroundLabel = "com.apple.root.background-priority";

// The queues whose blocks run on this thread, innermost last (sync() nests them).
thread_local std::vector<const DispatchQueue*> runningQueues;

class RunningQueueScope {
  public:
    explicit RunningQueueScope(const DispatchQueue* queue) { runningQueues.push_back(queue); }
    ~RunningQueueScope() { runningQueues.pop_back(); }
    RunningQueueScope(const RunningQueueScope&) = delete;
    RunningQueueScope& operator=(const RunningQueueScope&) = delete;
};

// The main queue, never destroyed. Held here so that currentQueue() reaches it without
// touching its shared count.
const std::shared_ptr<DispatchQueue>& mainQueue() {
    static auto* const queue = new std::shared_ptr<DispatchQueue>(std::make_shared<DispatchQueue>(
        DispatchQueue::Private(), mainLabel, DispatchQueue::Kind::serial, DispatchQueue::Role::main,
        DispatchQoS::userInteractive));
    return *queue;
}

// The queue whose code runs on this thread: the innermost running queue, or the main queue
// on the main thread, whose code outside any block (a host's or a test's) counts as its.
const DispatchQueue* currentQueue() {
    if (!runningQueues.empty()) {
        return runningQueues.back();
    }
    return MainThread::isMainThread() ? mainQueue().get() : nullptr;
}

bool isRunningOn(const DispatchQueue* queue) {
    return std::find(runningQueues.begin(), runningQueues.end(), queue) != runningQueues.end();
}

[[noreturn]] void failDeadlock(const std::string& label) {
    std::fprintf(stderr,
                 "DispatchQueue::sync onto serial queue \"%s\" from a block already running on "
                 "it would wait for itself forever\n",
                 label.c_str());
    std::abort();
}

}  // namespace

struct DispatchQueue::Turn {
    std::mutex mutex;
    std::condition_variable granted;
    bool isGranted = false;  // guarded by mutex
};

DispatchQueue::DispatchQueue(Private, std::string label, Kind kind, Role role, DispatchQoS qos)
    : label_(std::move(label)), kind_(kind), role_(role), qos_(qos) {}

DispatchQueue::~DispatchQueue() = default;

std::shared_ptr<DispatchQueue> DispatchQueue::create(std::string label, Kind kind,
                                                     DispatchQoS qos) {
    return std::make_shared<DispatchQueue>(Private(), std::move(label), kind, Role::plain, qos);
}

std::shared_ptr<DispatchQueue> DispatchQueue::main() {
    return mainQueue();
}

std::shared_ptr<DispatchQueue> DispatchQueue::global(DispatchQoS qos) {
    auto make = [](const char* label, DispatchQoS level) {
        return new std::shared_ptr<DispatchQueue>(std::make_shared<DispatchQueue>(
            Private(), label, Kind::concurrent, Role::global, level));
    };
    // Never destroyed, like every process-wide queue.
    static auto* const high = make(highLabel, DispatchQoS::userInteractive);
    static auto* const normal = make(defaultLabel, DispatchQoS::defaultQoS);
    static auto* const low = make(lowLabel, DispatchQoS::utility);
    static auto* const background = make(backgroundLabel, DispatchQoS::background);
    switch (qos) {
        case DispatchQoS::userInteractive:
            return *high;
        case DispatchQoS::userInitiated:
        case DispatchQoS::defaultQoS:
            return *normal;
        case DispatchQoS::utility:
            return *low;
        case DispatchQoS::background:
            return *background;
    }
    return *normal;
}

std::string DispatchQueue::currentLabel() {
    return std::string(currentLabelView());
}

std::string_view DispatchQueue::currentLabelView() {
    const auto* queue = currentQueue();
    return queue ? std::string_view(queue->label()) : std::string_view();
}

void DispatchQueue::async(std::function<void()> work) {
    enqueue(std::move(work), false);
}

void DispatchQueue::async(const DispatchWorkItemPtr& item) {
    async([item] { item->perform(); });
}

void DispatchQueue::async(const std::shared_ptr<DispatchGroup>& group, std::function<void()> work) {
    group->enter();
    async([group, work = std::move(work)] {
        work();
        group->leave();
    });
}

void DispatchQueue::asyncAfter(TimeInterval delay, std::function<void()> work) {
    asyncAfter(DispatchTime::after(delay), std::move(work));
}

void DispatchQueue::asyncAfter(DispatchTime deadline, std::function<void()> work) {
    if (deadline.isDistantFuture()) {
        return;
    }
    auto clock = Clock::current();
    if (deadline.uptime() <= clock->uptime()) {
        async(std::move(work));
        return;
    }
    clock->scheduleDelivery(deadline.uptime(),
                            [self = shared_from_this(), work = std::move(work)]() mutable {
                                self->async(std::move(work));
                            });
}

void DispatchQueue::asyncAfter(TimeInterval delay, const DispatchWorkItemPtr& item) {
    asyncAfter(delay, [item] { item->perform(); });
}

void DispatchQueue::asyncAfter(DispatchTime deadline, const DispatchWorkItemPtr& item) {
    asyncAfter(deadline, [item] { item->perform(); });
}

void DispatchQueue::asyncBarrier(std::function<void()> work) {
    enqueue(std::move(work), true);
}

void DispatchQueue::sync(const std::function<void()>& work) {
    if (isMain()) {
        syncOnMain(work);
    } else {
        syncOnQueue(work, false);
    }
}

void DispatchQueue::syncBarrier(const std::function<void()>& work) {
    if (isMain()) {
        syncOnMain(work);
    } else {
        syncOnQueue(work, true);
    }
}

void DispatchQueue::suspend() {
    if (role_ != Role::plain) {
        std::fprintf(stderr, "DispatchQueue::suspend: \"%s\" cannot be suspended\n",
                     label_.c_str());
        std::abort();
    }
    std::lock_guard lock(mutex_);
    suspendCount_.fetch_add(1, std::memory_order_relaxed);
}

void DispatchQueue::resume() {
    {
        std::lock_guard lock(mutex_);
        if (suspendCount_.load(std::memory_order_relaxed) == 0) {
            std::fprintf(stderr, "DispatchQueue::resume: \"%s\" is not suspended\n",
                         label_.c_str());
            std::abort();
        }
        suspendCount_.fetch_sub(1, std::memory_order_relaxed);
    }
    pump();
}

void DispatchQueue::runAsCurrent(const std::function<void()>& work) {
    RunningQueueScope scope(this);
    work();
}

void DispatchQueue::enqueue(std::function<void()> work, bool barrier) {
    work = detail::DeliveryTracker::track(std::move(work));
    if (isMain()) {
        MainThread::submit(
            [self = shared_from_this(), work = std::move(work)] { self->runAsCurrent(work); });
        return;
    }
    if (role_ == Role::global) {
        // A global queue is never destroyed, so its blocks need no hold on it.
        detail::WorkerPool::shared().submit([this, work = std::move(work)]() mutable {
            runAsCurrent(work);
            work = nullptr;
        });
        return;
    }
    {
        std::lock_guard lock(mutex_);
        waiting_.push_back(Item{std::move(work), isSerial() || barrier, nullptr});
        // The drain that owns a serial queue picks the block up; nobody needs telling.
        if (isSerial() &&
            (exclusiveRunning_ || suspendCount_.load(std::memory_order_relaxed) > 0)) {
            return;
        }
    }
    pump();
}

bool DispatchQueue::canStartLocked(bool exclusive) const {
    if (suspendCount_.load(std::memory_order_relaxed) > 0) {
        return false;
    }
    if (isSerial()) {
        return !exclusiveRunning_;
    }
    return exclusive ? running_ == 0 : !exclusiveRunning_;
}

void DispatchQueue::grant(Turn& turn) {
    {
        std::lock_guard lock(turn.mutex);
        turn.isGranted = true;
    }
    turn.granted.notify_all();
}

void DispatchQueue::pump() {
    std::vector<Item> startable;
    bool drainNow = false;
    {
        std::lock_guard lock(mutex_);
        while (!waiting_.empty() && canStartLocked(waiting_.front().exclusive)) {
            Item& front = waiting_.front();
            if (isSerial()) {
                exclusiveRunning_ = true;
                if (!front.turn) {
                    drainNow = true;
                    break;
                }
            } else {
                ++running_;
                exclusiveRunning_ = front.exclusive;
            }
            const bool exclusive = front.exclusive;
            if (front.turn) {
                --turnsWaiting_;
            }
            startable.push_back(std::move(front));
            waiting_.pop_front();
            if (exclusive) {
                break;
            }
        }
    }
    if (drainNow) {
        scheduleDrain();
    }
    for (auto& item : startable) {
        if (item.turn) {
            grant(*item.turn);
            continue;
        }
        detail::WorkerPool::shared().submit([self = shared_from_this(), work = std::move(item.work),
                                             exclusive = item.exclusive]() mutable {
            self->runAsCurrent(work);
            work = nullptr;  // captured state goes before the next block starts
            self->finished(exclusive);
        });
    }
}

void DispatchQueue::scheduleDrain() {
    detail::WorkerPool::shared().submit([self = shared_from_this()] { self->drain(); });
}

// Runs a serial queue's blocks until none is left, the queue is suspended, or a sync() caller
// is next; the queue stays owned (exclusiveRunning_) throughout, so blocks queued meanwhile
// join the next batch without waking anyone.
void DispatchQueue::drain() {
    int ranInARow = 0;
    for (;;) {
        std::shared_ptr<Turn> turn;
        {
            std::lock_guard lock(mutex_);
            if (waiting_.empty() || suspendCount_.load(std::memory_order_relaxed) > 0) {
                exclusiveRunning_ = false;
                return;
            }
            if (waiting_.front().turn) {
                // The sync() caller takes the queue over; its finished() passes it on.
                turn = std::move(waiting_.front().turn);
                waiting_.pop_front();
                --turnsWaiting_;
            } else if (ranInARow >= kBatchLimit && detail::WorkerPool::shared().hasWaitingWork()) {
                // Still owned: the drain queued here carries on after the work waiting.
                ranInARow = -1;
            } else {
                if (ranInARow >= kBatchLimit) {
                    ranInARow = 0;
                }
                takeBatch(kBatchLimit - ranInARow);
            }
        }
        if (turn) {
            grant(*turn);
            return;
        }
        if (ranInARow < 0) {
            scheduleDrain();
            return;
        }
        std::size_t next = 0;
        for (; next < batch_.size(); ++next) {
            if (suspendCount_.load(std::memory_order_acquire) > 0) {
                break;
            }
            runAsCurrent(batch_[next].work);
            batch_[next].work = nullptr;  // captured state goes before the next block starts
            ++ranInARow;
        }
        if (next < batch_.size()) {
            // Suspended from inside the batch: what has not started waits for resume().
            std::lock_guard lock(mutex_);
            waiting_.insert(waiting_.begin(), std::make_move_iterator(batch_.begin() + next),
                            std::make_move_iterator(batch_.end()));
        }
        batch_.clear();
    }
}

// Moves up to `room` blocks from the front of waiting_ into batch_, stopping at a sync() turn.
void DispatchQueue::takeBatch(int room) {
    if (turnsWaiting_ == 0 && waiting_.size() <= static_cast<std::size_t>(room)) {
        batch_.swap(waiting_);
        return;
    }
    for (int taken = 0; taken < room && !waiting_.empty() && !waiting_.front().turn; ++taken) {
        batch_.push_back(std::move(waiting_.front()));
        waiting_.pop_front();
    }
}

void DispatchQueue::finished(bool exclusive) {
    {
        std::lock_guard lock(mutex_);
        if (isSerial()) {
            exclusiveRunning_ = false;
        } else {
            --running_;
            if (exclusive) {
                exclusiveRunning_ = false;
            }
        }
    }
    pump();
}

void DispatchQueue::syncOnQueue(const std::function<void()>& work, bool barrier) {
    // A global queue takes no barriers, and nothing holds back a plain block on it.
    if (role_ == Role::global) {
        runAsCurrent(work);
        return;
    }
    const bool exclusive = isSerial() || barrier;
    if (exclusive && isRunningOn(this)) {
        failDeadlock(label_);
    }
    std::shared_ptr<Turn> turn;
    {
        std::lock_guard lock(mutex_);
        if (waiting_.empty() && canStartLocked(exclusive)) {
            // Nothing ahead: the turn comes at once.
            if (isSerial()) {
                exclusiveRunning_ = true;
            } else {
                ++running_;
                exclusiveRunning_ = exclusive;
            }
        } else {
            turn = std::make_shared<Turn>();
            waiting_.push_back(Item{nullptr, exclusive, turn});
            ++turnsWaiting_;
        }
    }
    if (turn) {
        pump();
        std::unique_lock lock(turn->mutex);
        turn->granted.wait(lock, [&] { return turn->isGranted; });
    }
    runAsCurrent(work);
    finished(exclusive);
}

void DispatchQueue::syncOnMain(const std::function<void()>& work) {
    if (MainThread::isMainThread()) {
        if (isRunningOn(this)) {
            failDeadlock(label_);
        }
        // Called by the loop's owner outside main-queue work: run what is queued ahead,
        // then this block, right here.
        bool done = false;
        MainThread::submit([&] {
            runAsCurrent(work);
            done = true;
        });
        MainThread::runUntil([&] { return done; }, 1e9);
        return;
    }
    struct Completion {
        std::mutex mutex;
        std::condition_variable changed;
        bool done = false;  // guarded by mutex
    };
    auto completion = std::make_shared<Completion>();
    MainThread::submit([self = shared_from_this(), &work, completion] {
        self->runAsCurrent(work);
        {
            std::lock_guard lock(completion->mutex);
            completion->done = true;
        }
        completion->changed.notify_all();
    });
    std::unique_lock lock(completion->mutex);
    completion->changed.wait(lock, [&] { return completion->done; });
}

void DispatchQueue::setSpecificValue(const void* key, std::any value) {
    std::any previous;  // destroyed after the lock, in case it owns something heavy
    std::lock_guard lock(mutex_);
    auto found = specific_.find(key);
    if (found != specific_.end()) {
        previous = std::move(found->second);
        specific_.erase(found);
    }
    if (value.has_value()) {
        specific_.emplace(key, std::move(value));
    }
}

std::any DispatchQueue::specificValue(const void* key) const {
    std::lock_guard lock(mutex_);
    auto found = specific_.find(key);
    return found == specific_.end() ? std::any() : found->second;
}

std::any DispatchQueue::currentSpecificValue(const void* key) {
    const auto* queue = currentQueue();
    return queue ? queue->specificValue(key) : std::any();
}

}  // namespace pindle::platform
