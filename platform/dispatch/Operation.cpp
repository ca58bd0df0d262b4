#include "platform/dispatch/Operation.hpp"

#include "platform/dispatch/OperationQueue.hpp"

#include <utility>
#include <vector>

namespace pindle::platform {

namespace {
const std::string cancelledKey = "isCancelled";
const std::string executingKey = "isExecuting";
const std::string finishedKey = "isFinished";
const std::string readyKey = "isReady";
}  // namespace

Operation::Operation() = default;
Operation::~Operation() = default;

void Operation::start() {
    if (started_.exchange(true)) {
        return;
    }
    if (isAsynchronous()) {
        if (!isCancelled()) {
            main();
        }
        return;
    }
    if (isCancelled()) {
        finishWithoutRunning();
        return;
    }
    willChangeValueForKey(executingKey);
    {
        std::lock_guard lock(mutex_);
        executing_ = true;
    }
    didChangeValueForKey(executingKey);
    main();
    willChangeValueForKey(executingKey);
    willChangeValueForKey(finishedKey);
    {
        std::lock_guard lock(mutex_);
        executing_ = false;
        finished_ = true;
    }
    didChangeValueForKey(executingKey);
    didChangeValueForKey(finishedKey);
}

void Operation::main() {}

void Operation::cancel() {
    if (cancelled_.load()) {
        return;
    }
    willChangeValueForKey(cancelledKey);
    const bool first = !cancelled_.exchange(true);
    if (first) {
        didChangeValueForKey(cancelledKey);
    }
}

bool Operation::isCancelled() const {
    return cancelled_.load();
}

bool Operation::isExecuting() const {
    std::lock_guard lock(mutex_);
    return executing_;
}

bool Operation::isFinished() const {
    std::lock_guard lock(mutex_);
    return finished_;
}

bool Operation::isAsynchronous() const {
    return false;
}

bool Operation::isReady() const {
    return true;
}

void Operation::setCompletionBlock(std::function<void()> block) {
    std::lock_guard lock(mutex_);
    completionBlock_ = std::move(block);
}

std::function<void()> Operation::completionBlock() const {
    std::lock_guard lock(mutex_);
    return completionBlock_;
}

void Operation::setName(std::string name) {
    std::lock_guard lock(mutex_);
    name_ = std::move(name);
}

std::string Operation::name() const {
    std::lock_guard lock(mutex_);
    return name_;
}

Value Operation::valueForKey(std::string_view key) const {
    if (key == cancelledKey)
        return Value(isCancelled());
    if (key == executingKey)
        return Value(isExecuting());
    if (key == finishedKey)
        return Value(isFinished());
    if (key == readyKey)
        return Value(isReady());
    if (key == "isAsynchronous")
        return Value(isAsynchronous());
    if (key == "name")
        return Value(name());
    return KeyValueObservable::valueForKey(key);
}

void Operation::waitUntilFinished() {
    std::unique_lock lock(mutex_);
    finishedChanged_.wait(lock, [this] { return finishAnnounced_; });
}

void Operation::setQueue(std::weak_ptr<OperationQueue> queue, std::uint64_t order) {
    std::lock_guard lock(mutex_);
    queue_ = std::move(queue);
    queueOrder_ = order;
}

void Operation::tellQueue(std::string_view key) {
    if (!enqueued_.load() || (key != finishedKey && key != readyKey && key != cancelledKey)) {
        return;
    }
    std::shared_ptr<OperationQueue> queue;
    std::uint64_t order = 0;
    {
        std::lock_guard lock(mutex_);
        queue = queue_.lock();
        order = queueOrder_;
    }
    if (queue) {
        queue->operationChanged(order, this, key);
    }
}

void Operation::didChangeValueForKey(std::string_view key) {
    KeyValueObservable::didChangeValueForKey(key);
    tellQueue(key);
    if (key != finishedKey || !isFinished()) {
        return;
    }
    {
        std::lock_guard lock(mutex_);
        finishAnnounced_ = true;
    }
    finishedChanged_.notify_all();
    if (!completionRan_.exchange(true)) {
        if (auto completion = completionBlock()) {
            completion();
        }
    }
}

void Operation::finishWithoutRunning() {
    if (isAsynchronous()) {
        return;  // its state is its own; its cancel() decides when it is finished
    }
    started_.store(true);
    willChangeValueForKey(finishedKey);
    {
        std::lock_guard lock(mutex_);
        finished_ = true;
    }
    didChangeValueForKey(finishedKey);
}

}  // namespace pindle::platform
