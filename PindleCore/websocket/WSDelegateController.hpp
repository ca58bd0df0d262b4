// WSDelegateController: keeps a socket's delegate (weakly) and the queue its calls go to,
// and delivers calls there.
//
// The queue is the main queue unless a dispatch queue or an operation queue is set; setting
// one clears the other, and clearing the dispatch queue restores the main queue.
//
// Thread-safety: every operation may be called from any thread; reads and writes are
// serialised by one lock, never held while a delegate runs. Delegate calls run on the
// delegate queue.
#pragma once

#include <functional>
#include <memory>
#include <mutex>

#include "PindleCore/websocket/WSWebSocketDelegate.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/OperationQueue.hpp"

namespace pindle {

class WSDelegateController {
  public:
    WSDelegateController();
    WSDelegateController(const WSDelegateController&) = delete;
    WSDelegateController& operator=(const WSDelegateController&) = delete;

    std::shared_ptr<WSWebSocketDelegate> delegate() const;
    void setDelegate(std::weak_ptr<WSWebSocketDelegate> delegate);

    std::shared_ptr<platform::DispatchQueue> dispatchQueue() const;
    void setDispatchQueue(std::shared_ptr<platform::DispatchQueue> queue);
    std::shared_ptr<platform::OperationQueue> operationQueue() const;
    void setOperationQueue(std::shared_ptr<platform::OperationQueue> queue);

    // Runs `block` with the delegate on the delegate queue; nothing when there is none. The
    // delegate is taken now and held until the block has run.
    void performDelegateBlock(std::function<void(WSWebSocketDelegate&)> block);
    // Runs `block` on the delegate queue.
    void performDelegateQueueBlock(std::function<void()> block);

  private:
    mutable std::mutex mutex_;
    std::weak_ptr<WSWebSocketDelegate> delegate_;               // guarded by mutex_
    std::shared_ptr<platform::DispatchQueue> dispatchQueue_;    // guarded by mutex_
    std::shared_ptr<platform::OperationQueue> operationQueue_;  // guarded by mutex_
};

}  // namespace pindle
