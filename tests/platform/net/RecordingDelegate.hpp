// RecordingDelegate: a URL-session delegate for tests that records every call per task,
// checks that calls for one task never overlap, and answers responses as told.
//
// Thread-safety: all members may be used from any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/net/URLSessionDelegate.hpp"

namespace pindle::platform::test {

class RecordingDelegate : public URLSessionDelegate {
  public:
    struct TaskRecord {
        std::vector<std::string> events;  // "response 200", "data", "complete", ...
        std::string body;
        std::optional<Error> error;
        int completions = 0;
        std::int64_t lastTotalBytesSent = 0;
        std::vector<std::thread::id> threads;
    };

    // How to answer responses; allow at once by default.
    std::function<void(DispositionHandler)> answer = [](DispositionHandler handler) {
        handler(ResponseDisposition::allow);
    };
    // Called after a data chunk has been recorded.
    std::function<void(const std::shared_ptr<URLSessionDataTask>&)> onData;

    void didReceiveResponse(const std::shared_ptr<URLSession>& session,
                            const std::shared_ptr<URLSessionDataTask>& dataTask,
                            const std::shared_ptr<URLResponse>& response,
                            DispositionHandler completionHandler) override;
    void didReceiveData(const std::shared_ptr<URLSession>& session,
                        const std::shared_ptr<URLSessionDataTask>& dataTask,
                        const Data& data) override;
    void didCompleteWithError(const std::shared_ptr<URLSession>& session,
                              const std::shared_ptr<URLSessionTask>& task,
                              const std::optional<Error>& error) override;
    void didSendBodyData(const std::shared_ptr<URLSession>& session,
                         const std::shared_ptr<URLSessionTask>& task, std::int64_t bytesSent,
                         std::int64_t totalBytesSent,
                         std::int64_t totalBytesExpectedToSend) override;
    void didBecomeInvalidWithError(const std::shared_ptr<URLSession>& session,
                                   const std::optional<Error>& error) override;

    // Waits until the task has completed; false on time-out.
    bool waitForCompletion(std::uint64_t taskIdentifier);
    bool waitForInvalidation();
    TaskRecord record(std::uint64_t taskIdentifier) const;
    // The length of the task's body so far, without copying it (cheap enough for every chunk).
    std::size_t bodyLength(std::uint64_t taskIdentifier) const;
    // True when two calls for the same task ever ran at the same time.
    bool sawOverlap() const { return overlap_; }

  private:
    // Marks a call for `task` as running for the lifetime of the guard.
    class CallGuard;
    void add(std::uint64_t task, const std::string& event);

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::uint64_t, TaskRecord> records_;  // guarded by mutex_
    std::map<std::uint64_t, int> activeCalls_;     // guarded by mutex_
    bool invalidated_ = false;                     // guarded by mutex_
    std::atomic<bool> overlap_{false};
};

}  // namespace pindle::platform::test
