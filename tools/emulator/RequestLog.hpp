#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "tools/emulator/Request.hpp"

namespace pindle::emulator {

// Every request the server has read, in arrival order, for tests to inspect. A request is
// recorded as soon as it has been read, before any reply, delay or fault, so a test can
// wait for it even when its reply never comes.
// Thread-safety: safe from any thread; waiting blocks only the caller.
class RequestLog {
  public:
    RequestLog() = default;
    RequestLog(const RequestLog&) = delete;
    RequestLog& operator=(const RequestLog&) = delete;

    void append(Request request);
    void clear();

    std::vector<Request> requests() const;
    std::size_t count() const;
    // The requests with this method whose path (without the query) is this path.
    std::vector<Request> requestsFor(const std::string& method, const std::string& path) const;

    // Waits until at least count requests have been recorded since the last clear().
    // Returns false when the timeout passes first.
    bool waitForCount(std::size_t count, std::chrono::milliseconds timeout) const;

  private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<Request> requests_;  // guarded by mutex_
};

}  // namespace pindle::emulator
