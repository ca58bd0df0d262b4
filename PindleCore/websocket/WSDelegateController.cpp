#include "PindleCore/websocket/WSDelegateController.hpp"

namespace pindle {

WSDelegateController::WSDelegateController() : dispatchQueue_(platform::DispatchQueue::main()) {}

std::shared_ptr<WSWebSocketDelegate> WSDelegateController::delegate() const {
    std::lock_guard lock(mutex_);
    return delegate_.lock();
}

void WSDelegateController::setDelegate(std::weak_ptr<WSWebSocketDelegate> delegate) {
    std::lock_guard lock(mutex_);
    delegate_ = std::move(delegate);
}

std::shared_ptr<platform::DispatchQueue> WSDelegateController::dispatchQueue() const {
    std::lock_guard lock(mutex_);
    return dispatchQueue_;
}

void WSDelegateController::setDispatchQueue(std::shared_ptr<platform::DispatchQueue> queue) {
    std::lock_guard lock(mutex_);
    dispatchQueue_ = queue ? std::move(queue) : platform::DispatchQueue::main();
    operationQueue_.reset();
}

std::shared_ptr<platform::OperationQueue> WSDelegateController::operationQueue() const {
    std::lock_guard lock(mutex_);
    return operationQueue_;
}

void WSDelegateController::setOperationQueue(std::shared_ptr<platform::OperationQueue> queue) {
    std::lock_guard lock(mutex_);
    dispatchQueue_ = queue ? nullptr : platform::DispatchQueue::main();
    operationQueue_ = std::move(queue);
}

void WSDelegateController::performDelegateBlock(std::function<void(WSWebSocketDelegate&)> block) {
    auto delegate = this->delegate();
    if (!delegate)
        return;
    performDelegateQueueBlock(
        [delegate = std::move(delegate), block = std::move(block)] { block(*delegate); });
}

void WSDelegateController::performDelegateQueueBlock(std::function<void()> block) {
    std::shared_ptr<platform::Executor> executor;
    {
        std::lock_guard lock(mutex_);
        if (dispatchQueue_)
            executor = dispatchQueue_;
        else
            executor = operationQueue_;
    }
    if (executor)
        executor->async(std::move(block));
}

}  // namespace pindle
