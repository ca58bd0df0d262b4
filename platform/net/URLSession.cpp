#include "platform/net/URLSession.hpp"

#include <mutex>
#include <vector>

#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/OperationQueue.hpp"
#include "platform/net/private/CurlTransfer.hpp"
#include "platform/net/private/NetworkThread.hpp"
#include "platform/net/private/TransportError.hpp"

namespace pindle::platform {

std::shared_ptr<URLSession> URLSession::shared() {
    // Leaked on purpose: it serves until the process ends.
    static auto* const session = new std::shared_ptr<URLSession>(
        std::make_shared<URLSession>(Key(), URLSessionConfiguration::defaultConfiguration(),
                                     nullptr, DispatchQueue::global(), true));
    return *session;
}

std::shared_ptr<URLSession> URLSession::make(URLSessionConfiguration configuration,
                                             std::shared_ptr<URLSessionDelegate> delegate,
                                             std::shared_ptr<Executor> delegateQueue) {
    // Like the platform: a new operation queue with default settings (no limit).
    if (!delegateQueue)
        delegateQueue = OperationQueue::create("");
    return std::make_shared<URLSession>(Key(), std::move(configuration), std::move(delegate),
                                        std::move(delegateQueue), false);
}

URLSession::URLSession(Key, URLSessionConfiguration configuration,
                       std::shared_ptr<URLSessionDelegate> delegate,
                       std::shared_ptr<Executor> delegateQueue, bool isShared)
    : configuration_(std::move(configuration)),
      delegateQueue_(std::move(delegateQueue)),
      isShared_(isShared),
      delegate_(std::move(delegate)) {}

URLSession::~URLSession() = default;

std::shared_ptr<URLSession> URLSession::self() {
    return std::static_pointer_cast<URLSession>(shared_from_this());
}

std::shared_ptr<URLSessionDelegate> URLSession::delegate() const {
    std::lock_guard lock(mutex_);
    return delegate_;
}

template <class Task>
std::shared_ptr<Task> URLSession::makeTask(URLRequest request, std::optional<RequestBody> body,
                                           CompletionHandler completionHandler,
                                           DataHandler dataHandler) {
    std::lock_guard lock(mutex_);
    const std::uint64_t identifier = nextTaskIdentifier_++;
    auto task = std::make_shared<Task>(URLSessionTask::Key(), self(), identifier,
                                       std::move(request), std::move(body),
                                       std::move(completionHandler), std::move(dataHandler));
    for (auto entry = tasks_.begin(); entry != tasks_.end();) {
        entry = entry->second.expired() ? tasks_.erase(entry) : std::next(entry);
    }
    tasks_.emplace(identifier, task);
    return task;
}

std::shared_ptr<URLSessionDataTask> URLSession::dataTask(URLRequest request) {
    return makeTask<URLSessionDataTask>(std::move(request), std::nullopt, nullptr);
}

std::shared_ptr<URLSessionDataTask> URLSession::dataTask(const URL& url) {
    return dataTask(URLRequest(url));
}

std::shared_ptr<URLSessionDataTask> URLSession::dataTask(URLRequest request,
                                                         CompletionHandler completionHandler) {
    return makeTask<URLSessionDataTask>(std::move(request), std::nullopt,
                                        std::move(completionHandler));
}

std::shared_ptr<URLSessionDataTask> URLSession::dataTask(const URL& url,
                                                         CompletionHandler completionHandler) {
    return dataTask(URLRequest(url), std::move(completionHandler));
}

std::shared_ptr<URLSessionDataTask> URLSession::dataTask(URLRequest request,
                                                         DataHandler dataHandler,
                                                         CompletionHandler completionHandler) {
    return makeTask<URLSessionDataTask>(std::move(request), std::nullopt,
                                        std::move(completionHandler), std::move(dataHandler));
}

std::shared_ptr<URLSessionUploadTask> URLSession::uploadTask(URLRequest request, Data bodyData,
                                                             CompletionHandler completionHandler) {
    RequestBody body{std::make_shared<const Data>(std::move(bodyData)), std::nullopt, 0,
                     std::nullopt};
    return makeTask<URLSessionUploadTask>(std::move(request), std::move(body),
                                          std::move(completionHandler));
}

std::shared_ptr<URLSessionUploadTask> URLSession::uploadTaskFromFile(
    URLRequest request, std::string path, std::int64_t offset, std::optional<std::int64_t> length,
    CompletionHandler completionHandler) {
    RequestBody body{nullptr, std::move(path), offset, length};
    return makeTask<URLSessionUploadTask>(std::move(request), std::move(body),
                                          std::move(completionHandler));
}

namespace {

// The executor of a thread in loadSynchronously(): work queued from any thread runs among the
// commands of the network loop that thread drives.
class DrivingThreadQueue final : public Executor {
  public:
    explicit DrivingThreadQueue(std::shared_ptr<NetworkThread> network)
        : network_(std::move(network)) {}
    void async(std::function<void()> work) override { network_->perform(std::move(work)); }

  private:
    const std::shared_ptr<NetworkThread> network_;
};

}  // namespace

URLSession::Loaded URLSession::loadSynchronously(
    URLRequest request,
    const std::function<void(const std::shared_ptr<URLSessionDataTask>&)>& started) {
    return loadWithCallerDrivenNetwork(
        [&](CompletionHandler completion) {
            return dataTask(std::move(request), std::move(completion));
        },
        started);
}

URLSession::Loaded URLSession::loadSynchronouslyFromFile(
    URLRequest request, std::string path, std::int64_t offset, std::int64_t length,
    const std::function<void(const std::shared_ptr<URLSessionDataTask>&)>& started) {
    return loadWithCallerDrivenNetwork(
        [&](CompletionHandler completion) -> std::shared_ptr<URLSessionDataTask> {
            return uploadTaskFromFile(std::move(request), std::move(path), offset, length,
                                      std::move(completion));
        },
        started);
}

URLSession::Loaded URLSession::loadWithCallerDrivenNetwork(
    const std::function<std::shared_ptr<URLSessionDataTask>(CompletionHandler)>& make,
    const std::function<void(const std::shared_ptr<URLSessionDataTask>&)>& started) {
    Loaded loaded;
    bool finished = false;
    auto task = make([&](std::optional<Data> data, std::shared_ptr<URLResponse> response,
                         std::optional<Error> error) {
        loaded = {std::move(data), std::move(response), std::move(error)};
        finished = true;
    });
    auto network = takeCallerDrivenNetwork();
    {
        std::lock_guard lock(task->mutex_);
        task->callbackQueue_ = std::make_shared<DrivingThreadQueue>(network);
        task->drivenBy_ = network;
    }
    if (started)
        started(task);
    task->resume();
    if (!network->runUntil([&] { return finished; })) {
        // The process is exiting: libcurl may no longer be used.
        return {std::nullopt, nullptr,
                TransportError::make(URLError::cancelled,
                                     task->originalRequest().url()
                                         ? task->originalRequest().url()->absoluteString()
                                         : "")};
    }
    giveBackCallerDrivenNetwork(std::move(network));
    return loaded;
}

std::shared_ptr<NetworkThread> URLSession::takeCallerDrivenNetwork() {
    {
        std::lock_guard lock(mutex_);
        if (!idleCallerDriven_.empty()) {
            auto network = std::move(idleCallerDriven_.back());
            idleCallerDriven_.pop_back();
            return network;
        }
    }
    return std::make_shared<NetworkThread>(configuration_.httpMaximumConnectionsPerHost,
                                           NetworkThread::DrivenByCaller());
}

void URLSession::giveBackCallerDrivenNetwork(std::shared_ptr<NetworkThread> network) {
    std::lock_guard lock(mutex_);
    if (!invalidated_ && idleCallerDriven_.size() < idleCallerDrivenNetworkLimit)
        idleCallerDriven_.push_back(std::move(network));
    // Else it goes (and its connections close) when this call returns, outside the lock.
}

std::vector<std::shared_ptr<URLSessionTask>> URLSession::allTasks() const {
    std::vector<std::shared_ptr<URLSessionTask>> alive;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [identifier, weakTask] : tasks_) {
            if (auto task = weakTask.lock())
                alive.push_back(std::move(task));
        }
    }
    // Task state is read outside the session's lock: tasks take their own lock first.
    std::erase_if(
        alive, [](const auto& task) { return task->state() == URLSessionTask::State::completed; });
    return alive;
}

void URLSession::finishTasksAndInvalidate() {
    invalidate(false);
}

void URLSession::invalidateAndCancel() {
    invalidate(true);
}

void URLSession::invalidate(bool cancelTasks) {
    if (isShared_)
        return;
    std::vector<std::shared_ptr<NetworkThread>> idle;  // closed outside the lock
    {
        std::lock_guard lock(mutex_);
        if (invalidated_)
            return;
        invalidated_ = true;
        idle.swap(idleCallerDriven_);
    }
    if (cancelTasks) {
        for (const auto& task : allTasks()) task->cancel();
    }
    finishInvalidationIfDone();
}

std::shared_ptr<NetworkThread> URLSession::taskWillStart(std::uint64_t identifier,
                                                         std::shared_ptr<NetworkThread> drivenBy) {
    std::lock_guard lock(mutex_);
    startedTasks_.insert(identifier);
    if (invalidated_)
        return nullptr;
    if (drivenBy)
        return drivenBy;
    if (!network_)
        network_ = std::make_shared<NetworkThread>(configuration_.httpMaximumConnectionsPerHost);
    return network_;
}

void URLSession::taskDidEnd(std::uint64_t identifier) {
    {
        std::lock_guard lock(mutex_);
        startedTasks_.erase(identifier);
        tasks_.erase(identifier);
    }
    finishInvalidationIfDone();
}

void URLSession::finishInvalidationIfDone() {
    std::shared_ptr<URLSessionDelegate> delegate;
    std::shared_ptr<NetworkThread> network;
    {
        std::lock_guard lock(mutex_);
        if (!invalidated_ || invalidationFinished_ || !startedTasks_.empty())
            return;
        invalidationFinished_ = true;
        delegate = std::move(delegate_);
        network = std::move(network_);
    }
    if (delegate) {
        delegateQueue_->async([session = self(), delegate] {
            delegate->didBecomeInvalidWithError(session, std::nullopt);
        });
    }
}

}  // namespace pindle::platform
