#include "platform/dispatch/Operation.hpp"

#include "platform/dispatch/OperationQueue.hpp"
#include "platform/dispatch/private/OperationKeys.hpp"

#include <utility>
#include <vector>

namespace pindle::platform {

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
    willChangeValueForKey(operation_keys::executing);
    {
        std::lock_guard lock(mutex_);
        executing_ = true;
    }
    didChangeValueForKey(operation_keys::executing);
    main();
    willChangeValueForKey(operation_keys::executing);
    willChangeValueForKey(operation_keys::finished);
    {
        std::lock_guard lock(mutex_);
        executing_ = false;
        finished_ = true;
    }
    didChangeValueForKey(operation_keys::executing);
    didChangeValueForKey(operation_keys::finished);
}

void Operation::main() {}

void Operation::cancel() {
    if (cancelled_.load()) {
        return;
    }
    willChangeValueForKey(operation_keys::cancelled);
    const bool first = !cancelled_.exchange(true);
    if (first) {
        didChangeValueForKey(operation_keys::cancelled);
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
    if (key == operation_keys::cancelled)
        return Value(isCancelled());
    if (key == operation_keys::executing)
        return Value(isExecuting());
    if (key == operation_keys::finished)
        return Value(isFinished());
    if (key == operation_keys::ready)
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
    if (!enqueued_.load() || (key != operation_keys::finished && key != operation_keys::ready &&
                              key != operation_keys::cancelled)) {
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
    if (key != operation_keys::finished || !isFinished()) {
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
    willChangeValueForKey(operation_keys::finished);
    {
        std::lock_guard lock(mutex_);
        finished_ = true;
    }
    didChangeValueForKey(operation_keys::finished);
}

}  // namespace pindle::platform
