// Bounded barriers for tests: wait until a dispatch queue has run what was sent to it, or an
// operation queue has no operations left, and say so; a queue that never gets there fails
// the test after `bound` of real time instead of hanging it. A virtual clock has no say in
// the bound.
//
// drain() waits as syncBarrier() would, for every block sent to the queue before it. On the main
// thread, draining the main queue or waiting for OperationQueue::main() pumps the main queue
// meanwhile; any other queue's barrier leaves the main queue alone, as sync() and
// waitUntilAllOperationsAreFinished() do.
//
// Thread-safety: usable from any thread but one of the queue's own blocks or operations.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

namespace pindle::platform {
class DispatchQueue;
class OperationQueue;
}  // namespace pindle::platform

namespace pindle::testing {

inline constexpr std::chrono::seconds barrierPatience{20};

::testing::AssertionResult drain(const std::shared_ptr<platform::DispatchQueue>& queue,
                                 std::chrono::milliseconds bound = barrierPatience);

::testing::AssertionResult waitUntilIdle(const std::shared_ptr<platform::OperationQueue>& queue,
                                         std::chrono::milliseconds bound = barrierPatience);

}  // namespace pindle::testing
