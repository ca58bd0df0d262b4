// Executor: anything that runs closures asynchronously, in its own order and on its own
// threads. Dispatch queues and operation queues are executors; facilities that accept "a
// queue to call back on" (the notification center's block observers, URL-session delegate
// queues, timers) take an Executor so they need not know which kind.
//
// Thread-safety: implementations accept work from any thread.
#pragma once

#include <functional>

namespace pindle::platform {

class Executor {
  public:
    virtual ~Executor() = default;
    // Schedules `work` to run later; never runs it on the calling thread before returning.
    virtual void async(std::function<void()> work) = 0;
};

}  // namespace pindle::platform
