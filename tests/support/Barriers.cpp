#include "tests/support/Barriers.hpp"

#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/MainThread.hpp"
#include "platform/dispatch/OperationQueue.hpp"

namespace pindle::testing {

namespace {

double seconds(std::chrono::milliseconds bound) {
    return std::chrono::duration<double>(bound).count();
}

}  // namespace

::testing::AssertionResult drain(const std::shared_ptr<platform::DispatchQueue>& queue,
                                 std::chrono::milliseconds bound) {
    // Shared with the marker, which may still be queued when a failed wait returns.
    struct Marker {
        std::mutex mutex;
        std::condition_variable ran;
        bool done = false;  // guarded by mutex
    };
    auto marker = std::make_shared<Marker>();
    queue->asyncBarrier([marker] {
        {
            std::lock_guard lock(marker->mutex);
            marker->done = true;
        }
        marker->ran.notify_all();
    });
    bool drained = false;
    if (queue->isMain() && platform::MainThread::isMainThread()) {
        drained = platform::MainThread::runUntil(
            [&] {
                std::lock_guard lock(marker->mutex);
                return marker->done;
            },
            seconds(bound));
    } else {
        std::unique_lock lock(marker->mutex);
        drained = marker->ran.wait_for(lock, bound, [&] { return marker->done; });
    }
    if (drained)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "queue \"" << queue->label() << "\" did not get through what was sent to it within "
           << seconds(bound) << " s";
}

::testing::AssertionResult waitUntilIdle(const std::shared_ptr<platform::OperationQueue>& queue,
                                         std::chrono::milliseconds bound) {
    const auto idle = [&] {
        return queue->operationCount() == 0;
    };
    bool finished = false;
    if (queue == platform::OperationQueue::main() && platform::MainThread::isMainThread()) {
        finished = platform::MainThread::runUntil(idle, seconds(bound));
    } else {
        // The queue announces its last operation's end to no one but its own waiters, so
        // poll.
        const auto deadline = std::chrono::steady_clock::now() + bound;
        for (;;) {
            finished = idle();
            if (finished || std::chrono::steady_clock::now() >= deadline)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    if (finished)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "operation queue \"" << queue->name() << "\" still had " << queue->operationCount()
           << " operations after " << seconds(bound) << " s";
}

}  // namespace pindle::testing
