// URLSession: makes and runs HTTP(S) load tasks over a pool of connections of its own.
//
// A session is made with a configuration, an optional delegate and a delegate queue. Every
// callback of its tasks (completion handlers and delegate calls) runs on that queue; with a
// concurrent queue, callbacks of different tasks may run at the same time, while those of
// one task never overlap (see URLSessionDelegate). The session's transfers run on a network
// thread of its own, which stops once the session is invalidated and its tasks have ended,
// or when the session is destroyed.
//
// The session holds its delegate strongly until it is invalidated: a delegate that owns its
// session forms a cycle that invalidation breaks (process-lifetime sessions never need to).
// Running tasks keep their session alive.
//
// shared() is a process-wide session without a delegate for simple loads with completion
// handlers; it is never invalidated.
//
// Thread-safety: every operation may be called from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/foundation/Executor.hpp"
#include "platform/foundation/Object.hpp"
#include "platform/net/URLRequest.hpp"
#include "platform/net/URLSessionConfiguration.hpp"
#include "platform/net/URLSessionDataTask.hpp"
#include "platform/net/URLSessionDelegate.hpp"
#include "platform/net/URLSessionUploadTask.hpp"

namespace pindle::platform {

class NetworkThread;

class URLSession : public Object {
  public:
    using CompletionHandler = URLSessionTask::CompletionHandler;
    using DataHandler = URLSessionTask::DataHandler;

    // The process-wide session; its callbacks run on a concurrent queue of the platform's.
    static std::shared_ptr<URLSession> shared();

    // A session calling back `delegate` (may be null) on `delegateQueue`; a null queue gives
    // a concurrent queue of the platform's.
    static std::shared_ptr<URLSession> make(URLSessionConfiguration configuration,
                                            std::shared_ptr<URLSessionDelegate> delegate = nullptr,
                                            std::shared_ptr<Executor> delegateQueue = nullptr);

    ~URLSession() override;
    URLSession(const URLSession&) = delete;
    URLSession& operator=(const URLSession&) = delete;

    const URLSessionConfiguration& configuration() const { return configuration_; }
    const std::shared_ptr<Executor>& delegateQueue() const { return delegateQueue_; }
    // The delegate; null once the session has finished invalidating.
    std::shared_ptr<URLSessionDelegate> delegate() const;

    // A task that reports to the delegate (response, body chunks, completion).
    std::shared_ptr<URLSessionDataTask> dataTask(URLRequest request);
    std::shared_ptr<URLSessionDataTask> dataTask(const URL& url);
    // A task that reports only to `completionHandler` (plus upload progress to the delegate).
    std::shared_ptr<URLSessionDataTask> dataTask(URLRequest request,
                                                 CompletionHandler completionHandler);
    std::shared_ptr<URLSessionDataTask> dataTask(const URL& url,
                                                 CompletionHandler completionHandler);
    // A task that hands the body to `dataHandler` while it arrives, in chunks gathered up to
    // 128 KiB (the last, however short, just before the end), and then reports the end to
    // `completionHandler` without a body, so that a long body is never held whole.
    // A handler that falls behind holds the transfer back, as a delegate does. (Upload progress
    // goes to the delegate.) REQUIRES: both handlers are callable.
    std::shared_ptr<URLSessionDataTask> dataTask(URLRequest request, DataHandler dataHandler,
                                                 CompletionHandler completionHandler);

    // Sends `bodyData` as the body of `request` (its method as set, e.g. "PUT").
    std::shared_ptr<URLSessionUploadTask> uploadTask(URLRequest request, Data bodyData,
                                                     CompletionHandler completionHandler = {});
    // Sends `length` bytes (all to the end when absent) of the file at `path` from `offset`.
    // A file that cannot be opened ends the task with URLError -1100 once resumed.
    std::shared_ptr<URLSessionUploadTask> uploadTaskFromFile(
        URLRequest request, std::string path, std::int64_t offset = 0,
        std::optional<std::int64_t> length = std::nullopt,
        CompletionHandler completionHandler = {});

    // What a completion handler is given.
    struct Loaded {
        std::optional<Data> data;
        std::shared_ptr<URLResponse> response;
        std::optional<Error> error;
    };
    // Sends `request` and blocks the calling thread until the load ends. Every callback of the
    // task (delegate calls too) runs on the calling thread, which also moves the transfer
    // itself (over connections the session keeps for such loads): for a thread that would
    // only wait for a completion handler, this saves handing the request to a network thread
    // and the end back. `started` (may be empty) is given the task before
    // it is resumed, so that another thread may cancel it.
    // REQUIRES: not called on the delegate queue of a task this one waits behind.
    Loaded loadSynchronously(
        URLRequest request,
        const std::function<void(const std::shared_ptr<URLSessionDataTask>&)>& started = {});
    // loadSynchronously() sending `length` bytes of the file at `path` from `offset` as the body,
    // read as they are sent (as uploadTaskFromFile): no copy of them is made in memory first.
    // A file that cannot be opened ends the load with URLError -1100; one that holds fewer
    // bytes there sends what it holds.
    Loaded loadSynchronouslyFromFile(
        URLRequest request, std::string path, std::int64_t offset, std::int64_t length,
        const std::function<void(const std::shared_ptr<URLSessionDataTask>&)>& started = {});

    // Tasks made but not yet ended.
    std::vector<std::shared_ptr<URLSessionTask>> allTasks() const;

    // Lets running tasks end, then tells the delegate didBecomeInvalidWithError and lets go
    // of it. Tasks resumed afterwards end at once with URLError::cancelled. No effect on
    // shared().
    void finishTasksAndInvalidate();
    // As finishTasksAndInvalidate(), cancelling every task first.
    void invalidateAndCancel();

  private:
    friend class URLSessionTask;
    // Sessions are made only through make() and shared().
    struct Key {
        explicit Key() = default;
    };

  public:
    URLSession(Key, URLSessionConfiguration configuration,
               std::shared_ptr<URLSessionDelegate> delegate,
               std::shared_ptr<Executor> delegateQueue, bool isShared);

  private:
    // Runs the task `make` returns for the completion handler it is given, as loadSynchronously
    // describes.
    Loaded loadWithCallerDrivenNetwork(
        const std::function<std::shared_ptr<URLSessionDataTask>(CompletionHandler)>& make,
        const std::function<void(const std::shared_ptr<URLSessionDataTask>&)>& started);
    template <class Task>
    std::shared_ptr<Task> makeTask(URLRequest request, std::optional<RequestBody> body,
                                   CompletionHandler completionHandler,
                                   DataHandler dataHandler = nullptr);
    void invalidate(bool cancelTasks);
    std::shared_ptr<URLSession> self();

    // For tasks: the network thread to run on (`drivenBy` when given, else the session's own),
    // or null once the session is invalidated (the task is then registered as running until
    // taskDidEnd).
    std::shared_ptr<NetworkThread> taskWillStart(std::uint64_t identifier,
                                                 std::shared_ptr<NetworkThread> drivenBy = nullptr);
    // A network loop for a synchronous load to drive: an idle one kept from an earlier load
    // (with its open connections), else a new one. Given back when the load ends.
    std::shared_ptr<NetworkThread> takeCallerDrivenNetwork();
    void giveBackCallerDrivenNetwork(std::shared_ptr<NetworkThread> network);
    // How many idle caller-driven loops, with their connections, the session keeps.
    static constexpr std::size_t idleCallerDrivenNetworkLimit = 4;
    // The task's end has been reported.
    void taskDidEnd(std::uint64_t identifier);
    void finishInvalidationIfDone();

    const URLSessionConfiguration configuration_;
    const std::shared_ptr<Executor> delegateQueue_;
    const bool isShared_;

    mutable std::mutex mutex_;
    std::shared_ptr<URLSessionDelegate> delegate_;                  // guarded by mutex_
    std::shared_ptr<NetworkThread> network_;                        // guarded by mutex_
    std::vector<std::shared_ptr<NetworkThread>> idleCallerDriven_;  // guarded by mutex_
    std::map<std::uint64_t, std::weak_ptr<URLSessionTask>> tasks_;  // guarded by mutex_
    std::set<std::uint64_t> startedTasks_;                          // guarded by mutex_
    std::uint64_t nextTaskIdentifier_ = 1;                          // guarded by mutex_
    bool invalidated_ = false;                                      // guarded by mutex_
    bool invalidationFinished_ = false;                             // guarded by mutex_
};

}  // namespace pindle::platform
