// WSDelegateController: keeps a socket's delegate (weakly), the methods it implements and the
// queue its calls go to, and delivers calls there.
//
// Setting the delegate asks it, through implements(), which of its optional methods it
// implements and records the answer as availableDelegateMethods(); a caller may replace that
// record afterwards. Each delivery hands the block the record as it was when the call was
// made, and the socket calls only the methods it names.
//
// The queue is the main queue unless a dispatch queue or an operation queue is set; setting
// one clears the other, and clearing the dispatch queue restores the main queue.
//
// Thread-safety: every operation may be called from any thread; reads and writes are
// serialised by one lock, never held while a delegate runs (implements() included). Delegate
// calls run on the delegate queue.
#pragma once

#include <functional>
#include <memory>
#include <mutex>

#include "PindleCore/websocket/WSDelegateAvailableMethods.hpp"
#include "PindleCore/websocket/WSWebSocketDelegate.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/OperationQueue.hpp"

namespace pindle {

class WSDelegateController {
  public:
    using DelegateBlock = std::function<void(WSWebSocketDelegate&, WSDelegateAvailableMethods)>;

    WSDelegateController();
    WSDelegateController(const WSDelegateController&) = delete;
    WSDelegateController& operator=(const WSDelegateController&) = delete;

    std::shared_ptr<WSWebSocketDelegate> delegate() const;
    // Also records which methods `delegate` implements (none for no delegate).
    void setDelegate(std::weak_ptr<WSWebSocketDelegate> delegate);

    WSDelegateAvailableMethods availableDelegateMethods() const;
    void setAvailableDelegateMethods(WSDelegateAvailableMethods methods);

    std::shared_ptr<platform::DispatchQueue> dispatchQueue() const;
    void setDispatchQueue(std::shared_ptr<platform::DispatchQueue> queue);
    std::shared_ptr<platform::OperationQueue> operationQueue() const;
    void setOperationQueue(std::shared_ptr<platform::OperationQueue> queue);

    // Runs `block` with the delegate and its methods on the delegate queue; nothing when
    // there is no delegate. Both are taken now; the delegate is held until the block has run.
    void performDelegateBlock(DelegateBlock block);
    // Runs `block` on the delegate queue.
    void performDelegateQueueBlock(std::function<void()> block);

  private:
    mutable std::mutex mutex_;
    // by hand: set together with the methods it answers, which the one lock keeps matched
    std::weak_ptr<WSWebSocketDelegate> delegate_;               // guarded by mutex_
    WSDelegateAvailableMethods availableMethods_;               // guarded by mutex_
    std::shared_ptr<platform::DispatchQueue> dispatchQueue_;    // guarded by mutex_
    std::shared_ptr<platform::OperationQueue> operationQueue_;  // guarded by mutex_
};

}  // namespace pindle
