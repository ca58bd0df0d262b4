// DispatchWorkItem: a block that can be called off before it runs.
//
// Sent to a queue (async, asyncAfter) it runs there like any block, unless it was cancelled
// first: a cancelled item does nothing when run. Cancelling does not interrupt an item that
// is already running; the block may poll isCancelled() itself.
//
// Thread-safety: all operations are safe from any thread. perform() runs the block on the
// calling thread.
#pragma once

#include <atomic>
#include <functional>
#include <memory>

namespace pindle::platform {

class DispatchWorkItem {
  public:
    static std::shared_ptr<DispatchWorkItem> create(std::function<void()> block);
    explicit DispatchWorkItem(std::function<void()> block);

    DispatchWorkItem(const DispatchWorkItem&) = delete;
    DispatchWorkItem& operator=(const DispatchWorkItem&) = delete;

    // Runs the block, unless the item has been cancelled.
    void perform();
    void cancel();
    bool isCancelled() const;

  private:
    const std::function<void()> block_;
    std::atomic<bool> cancelled_{false};
};

using DispatchWorkItemPtr = std::shared_ptr<DispatchWorkItem>;

}  // namespace pindle::platform
