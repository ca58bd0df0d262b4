#include "PindleCore/websocket/WSDelegateController.hpp"

namespace pindle {

namespace {

WSDelegateAvailableMethods methodsOf(const WSWebSocketDelegate& delegate) {
    using Method = WSWebSocketDelegate::Method;
    WSDelegateAvailableMethods methods;
    methods.didReceiveMessage = delegate.implements(Method::didReceiveMessage);
    methods.didReceiveMessageWithString = delegate.implements(Method::didReceiveMessageWithString);
    methods.didReceiveMessageWithData = delegate.implements(Method::didReceiveMessageWithData);
    methods.didOpen = delegate.implements(Method::didOpen);
    methods.didFailWithError = delegate.implements(Method::didFailWithError);
    methods.didCloseWithCode = delegate.implements(Method::didCloseWithCode);
    methods.didReceivePing = delegate.implements(Method::didReceivePing);
    methods.didReceivePong = delegate.implements(Method::didReceivePong);
    methods.shouldConvertTextFrameToString =
        delegate.implements(Method::shouldConvertTextFrameToString);
    return methods;
}

}  // namespace

WSDelegateController::WSDelegateController() : dispatchQueue_(platform::DispatchQueue::main()) {}

std::shared_ptr<WSWebSocketDelegate> WSDelegateController::delegate() const {
    std::lock_guard lock(mutex_);
    return delegate_.lock();
}

void WSDelegateController::setDelegate(std::weak_ptr<WSWebSocketDelegate> delegate) {
    // Asked before the lock is taken: implements() is the delegate's code.
    WSDelegateAvailableMethods methods;
    if (auto strong = delegate.lock())
        methods = methodsOf(*strong);
    std::lock_guard lock(mutex_);
    delegate_ = std::move(delegate);
    availableMethods_ = methods;
}

WSDelegateAvailableMethods WSDelegateController::availableDelegateMethods() const {
    std::lock_guard lock(mutex_);
    return availableMethods_;
}

void WSDelegateController::setAvailableDelegateMethods(WSDelegateAvailableMethods methods) {
    std::lock_guard lock(mutex_);
    availableMethods_ = methods;
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

void WSDelegateController::performDelegateBlock(DelegateBlock block) {
    std::shared_ptr<WSWebSocketDelegate> delegate;
    WSDelegateAvailableMethods methods;
    {
        std::lock_guard lock(mutex_);
        delegate = delegate_.lock();
        methods = availableMethods_;
    }
    if (!delegate)
        return;
    performDelegateQueueBlock([delegate = std::move(delegate), methods, block = std::move(block)] {
        block(*delegate, methods);
    });
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
