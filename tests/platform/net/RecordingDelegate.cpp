#include "platform/net/RecordingDelegate.hpp"

#include "platform/net/HTTPURLResponse.hpp"
#include "platform/net/URLSessionDataTask.hpp"

namespace pindle::platform::test {

namespace {
constexpr auto generousWait = std::chrono::seconds(20);
}

class RecordingDelegate::CallGuard {
  public:
    CallGuard(RecordingDelegate& delegate, std::uint64_t task) : delegate_(delegate), task_(task) {
        std::lock_guard lock(delegate_.mutex_);
        if (++delegate_.activeCalls_[task_] > 1)
            delegate_.overlap_ = true;
        delegate_.records_[task_].threads.push_back(std::this_thread::get_id());
    }
    ~CallGuard() {
        std::lock_guard lock(delegate_.mutex_);
        --delegate_.activeCalls_[task_];
    }

  private:
    RecordingDelegate& delegate_;
    std::uint64_t task_;
};

void RecordingDelegate::add(std::uint64_t task, const std::string& event) {
    std::lock_guard lock(mutex_);
    records_[task].events.push_back(event);
}

void RecordingDelegate::didReceiveResponse(const std::shared_ptr<URLSession>&,
                                           const std::shared_ptr<URLSessionDataTask>& dataTask,
                                           const std::shared_ptr<URLResponse>& response,
                                           DispositionHandler completionHandler) {
    CallGuard guard(*this, dataTask->taskIdentifier());
    auto http = std::dynamic_pointer_cast<HTTPURLResponse>(response);
    add(dataTask->taskIdentifier(), "response " + std::to_string(http ? http->statusCode() : 0));
    answer(std::move(completionHandler));
}

void RecordingDelegate::didReceiveData(const std::shared_ptr<URLSession>&,
                                       const std::shared_ptr<URLSessionDataTask>& dataTask,
                                       const Data& data) {
    {
        CallGuard guard(*this, dataTask->taskIdentifier());
        std::lock_guard lock(mutex_);
        auto& record = records_[dataTask->taskIdentifier()];
        record.events.push_back("data");
        record.body.append(data.begin(), data.end());
    }
    if (onData)
        onData(dataTask);
}

void RecordingDelegate::didCompleteWithError(const std::shared_ptr<URLSession>&,
                                             const std::shared_ptr<URLSessionTask>& task,
                                             const std::optional<Error>& error) {
    CallGuard guard(*this, task->taskIdentifier());
    {
        std::lock_guard lock(mutex_);
        auto& record = records_[task->taskIdentifier()];
        record.events.push_back("complete");
        record.error = error;
        ++record.completions;
    }
    changed_.notify_all();
}

void RecordingDelegate::didSendBodyData(const std::shared_ptr<URLSession>&,
                                        const std::shared_ptr<URLSessionTask>& task, std::int64_t,
                                        std::int64_t totalBytesSent, std::int64_t) {
    CallGuard guard(*this, task->taskIdentifier());
    std::lock_guard lock(mutex_);
    auto& record = records_[task->taskIdentifier()];
    if (record.events.empty() || record.events.back() != "sent")
        record.events.push_back("sent");
    record.lastTotalBytesSent = totalBytesSent;
}

void RecordingDelegate::didBecomeInvalidWithError(const std::shared_ptr<URLSession>&,
                                                  const std::optional<Error>&) {
    {
        std::lock_guard lock(mutex_);
        invalidated_ = true;
    }
    changed_.notify_all();
}

bool RecordingDelegate::waitForCompletion(std::uint64_t taskIdentifier) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, generousWait,
                             [&] { return records_[taskIdentifier].completions > 0; });
}

bool RecordingDelegate::waitForInvalidation() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, generousWait, [&] { return invalidated_; });
}

RecordingDelegate::TaskRecord RecordingDelegate::record(std::uint64_t taskIdentifier) const {
    std::lock_guard lock(mutex_);
    auto found = records_.find(taskIdentifier);
    return found == records_.end() ? TaskRecord{} : found->second;
}

std::size_t RecordingDelegate::bodyLength(std::uint64_t taskIdentifier) const {
    std::lock_guard lock(mutex_);
    auto found = records_.find(taskIdentifier);
    return found == records_.end() ? 0 : found->second.body.size();
}

}  // namespace pindle::platform::test
