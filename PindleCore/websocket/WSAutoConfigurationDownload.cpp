#include "PindleCore/websocket/WSAutoConfigurationDownload.hpp"

#include "platform/foundation/Weakly.hpp"
#include "platform/net/HTTPURLResponse.hpp"
#include "platform/net/URLSessionDataTask.hpp"

namespace pindle {

class WSAutoConfigurationDownload::SessionDelegate : public platform::URLSessionDelegate {
  public:
    explicit SessionDelegate(std::weak_ptr<WSAutoConfigurationDownload> download)
        : download_(std::move(download)) {}

    void didReceiveResponse(const std::shared_ptr<platform::URLSession>&,
                            const std::shared_ptr<platform::URLSessionDataTask>&,
                            const std::shared_ptr<platform::URLResponse>& response,
                            DispositionHandler completionHandler) override {
        auto http = std::dynamic_pointer_cast<platform::HTTPURLResponse>(response);
        const bool usable = http && http->statusCode() >= 200 && http->statusCode() < 300;
        completionHandler(usable ? ResponseDisposition::allow : ResponseDisposition::cancel);
        if (!usable) {
            if (auto download = download_.lock())
                download->end(std::nullopt);
        }
    }
    void didReceiveData(const std::shared_ptr<platform::URLSession>&,
                        const std::shared_ptr<platform::URLSessionDataTask>&,
                        const platform::Data& data) override {
        if (auto download = download_.lock())
            download->received(data);
    }
    void didCompleteWithError(const std::shared_ptr<platform::URLSession>&,
                              const std::shared_ptr<platform::URLSessionTask>&,
                              const std::optional<platform::Error>& error) override {
        auto download = download_.lock();
        if (!download)
            return;
        if (error) {
            download->end(std::nullopt);
            return;
        }
        std::string script;
        {
            std::lock_guard lock(download->mutex_);
            script = std::move(download->script_);
        }
        download->end(std::move(script));
    }

  private:
    const std::weak_ptr<WSAutoConfigurationDownload> download_;
};

std::shared_ptr<WSAutoConfigurationDownload> WSAutoConfigurationDownload::create(platform::URL url,
                                                                                 double timeout) {
    return std::make_shared<WSAutoConfigurationDownload>(Private{}, std::move(url), timeout);
}

WSAutoConfigurationDownload::WSAutoConfigurationDownload(Private, platform::URL url, double timeout)
    : url_(std::move(url)),
      timeout_(timeout),
      queue_(platform::DispatchQueue::create("com.quarry.websocket.pac")) {}

WSAutoConfigurationDownload::~WSAutoConfigurationDownload() {
    std::shared_ptr<platform::URLSessionTask> task;
    std::shared_ptr<platform::URLSession> session;
    {
        std::lock_guard lock(mutex_);
        task = std::move(task_);
        session = std::move(session_);
    }
    if (task)
        task->cancel();
    if (session)
        session->invalidateAndCancel();
}

void WSAutoConfigurationDownload::start(Completion completion) {
    auto session =
        platform::URLSession::make(platform::URLSessionConfiguration::defaultConfiguration(),
                                   std::make_shared<SessionDelegate>(weak_from_this()), queue_);
    platform::URLRequest request(url_);
    request.setTimeoutInterval(timeout_);
    auto task = session->dataTask(request);
    bool cancelled = false;
    {
        std::lock_guard lock(mutex_);
        cancelled = ended_;
        if (!cancelled) {
            completion_ = std::move(completion);
            task_ = task;
            session_ = session;
        }
    }
    if (cancelled) {
        // Cancelled before it began: nothing is sent.
        session->invalidateAndCancel();
        return;
    }
    queue_->asyncAfter(timeout_, platform::weakly(this, [](WSAutoConfigurationDownload& download) {
                           download.end(std::nullopt);
                       }));
    task->resume();
    // The session lets go of its delegate once the one task has ended.
    session->finishTasksAndInvalidate();
}

void WSAutoConfigurationDownload::received(const platform::Data& bytes) {
    bool tooLarge = false;
    {
        std::lock_guard lock(mutex_);
        if (ended_)
            return;
        tooLarge = script_.size() + bytes.size() > maximumSize;
        if (!tooLarge)
            script_.append(bytes.begin(), bytes.end());
    }
    if (tooLarge)
        end(std::nullopt);
}

void WSAutoConfigurationDownload::end(std::optional<std::string> script) {
    Completion completion;
    std::shared_ptr<platform::URLSessionTask> task;
    {
        std::lock_guard lock(mutex_);
        if (ended_)
            return;
        ended_ = true;
        completion = std::move(completion_);
        task = std::move(task_);
        session_.reset();
        script_.clear();
    }
    if (task)
        task->cancel();
    if (completion)
        completion(std::move(script));
}

void WSAutoConfigurationDownload::cancel() {
    std::shared_ptr<platform::URLSessionTask> task;
    {
        std::lock_guard lock(mutex_);
        ended_ = true;
        completion_ = nullptr;
        task = std::move(task_);
        session_.reset();
        script_.clear();
    }
    if (task)
        task->cancel();
}

}  // namespace pindle
