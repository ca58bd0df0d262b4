#include "platform/dispatch/Operation.hpp"

#include <utility>
#include <vector>

namespace pindle::platform {

namespace {
const std::string kCancelledKey = "isCancelled";
const std::string kExecutingKey = "isExecuting";
const std::string kFinishedKey = "isFinished";
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
    willChangeValueForKey(kExecutingKey);
    {
        std::lock_guard lock(mutex_);
        executing_ = true;
    }
    didChangeValueForKey(kExecutingKey);
    main();
    willChangeValueForKey(kExecutingKey);
    willChangeValueForKey(kFinishedKey);
    {
        std::lock_guard lock(mutex_);
        executing_ = false;
        finished_ = true;
    }
    didChangeValueForKey(kExecutingKey);
    didChangeValueForKey(kFinishedKey);
}

void Operation::main() {}

void Operation::cancel() {
    if (cancelled_.load()) {
        return;
    }
    willChangeValueForKey(kCancelledKey);
    const bool first = !cancelled_.exchange(true);
    if (first) {
        didChangeValueForKey(kCancelledKey);
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

Operation::ObserverToken Operation::addObserver(Observer observer) {
    std::lock_guard lock(mutex_);
    const auto token = nextToken_++;
    observers_.emplace(token, std::move(observer));
    return token;
}

void Operation::removeObserver(ObserverToken token) {
    Observer removed;  // destroyed after the lock
    std::lock_guard lock(mutex_);
    auto found = observers_.find(token);
    if (found != observers_.end()) {
        removed = std::move(found->second);
        observers_.erase(found);
    }
}

void Operation::waitUntilFinished() {
    std::unique_lock lock(mutex_);
    finishedChanged_.wait(lock, [this] { return finishAnnounced_; });
}

void Operation::willChangeValueForKey(const std::string& key) {
    announce(key, Phase::will);
}

void Operation::didChangeValueForKey(const std::string& key) {
    announce(key, Phase::did);
    if (key != kFinishedKey || !isFinished()) {
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
    willChangeValueForKey(kFinishedKey);
    {
        std::lock_guard lock(mutex_);
        finished_ = true;
    }
    didChangeValueForKey(kFinishedKey);
}

void Operation::announce(const std::string& key, Phase phase) {
    std::vector<Observer> observers;
    {
        std::lock_guard lock(mutex_);
        observers.reserve(observers_.size());
        for (const auto& [token, observer] : observers_) {
            observers.push_back(observer);
        }
    }
    for (const auto& observer : observers) {
        observer(key, phase);
    }
}

}  // namespace pindle::platform
