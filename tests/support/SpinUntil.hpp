// A bounded busy wait, for the few waits that must not park their thread (work running on a
// pool, where a parked thread lets the pool start another): yields until `condition` holds or
// `bound` has passed, and says which.
// Thread-safety: usable from any thread.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace pindle::testing {

inline bool spinUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds bound = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::yield();
    }
    return true;
}

}  // namespace pindle::testing
