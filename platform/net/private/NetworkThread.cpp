#include "platform/net/private/NetworkThread.hpp"

#include <curl/curl.h>

#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <functional>
#include <list>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/net/private/CurlTransfer.hpp"

namespace pindle::platform {

namespace {

// How long the loop sleeps when nothing happens; wake-ups and libcurl's own timers cut it
// short.
constexpr int pollTimeoutMilliseconds = 1000;

}  // namespace

class NetworkThread::Loop {
  public:
    explicit Loop(int maximumConnectionsPerHost) : multi_(curl_multi_init()) {
        curl_multi_setopt(multi_, CURLMOPT_MAX_HOST_CONNECTIONS,
                          static_cast<long>(maximumConnectionsPerHost));
    }

    ~Loop() { curl_multi_cleanup(multi_); }

    Loop(const Loop&) = delete;
    Loop& operator=(const Loop&) = delete;

    void post(std::function<void()> command) {
        bool wake = false;
        {
            std::lock_guard lock(mutex_);
            if (stopping_)
                return;
            commands_.push_back(std::move(command));
            // The thread running the loop looks at its commands before it sleeps, and a loop
            // no caller drives has no one asleep in it: the next driver finds the command.
            wake = (hasThread_ || driving_) && std::this_thread::get_id() != runner_;
        }
        if (wake)
            curl_multi_wakeup(multi_);
    }

    void stop() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        curl_multi_wakeup(multi_);
    }

    // Stops the loop and waits until it no longer touches libcurl: until its thread has left
    // it, or, for one driven by its callers, until no caller drives it.
    void stopAndWait() {
        stop();
        std::unique_lock lock(mutex_);
        exitedCondition_.wait(lock, [this] { return exited_ || (!hasThread_ && !driving_); });
    }

    void setHasThread() {
        std::lock_guard lock(mutex_);
        hasThread_ = true;
    }

    // False when the loop was stopped before `finished()` held.
    bool runUntil(const std::function<bool()>& finished) {
        {
            std::lock_guard lock(mutex_);
            if (stopping_)
                return false;
            driving_ = true;
            runner_ = std::this_thread::get_id();
        }
        const bool ended = driveUntil(finished);
        {
            std::lock_guard lock(mutex_);
            driving_ = false;
            runner_ = std::thread::id();
        }
        exitedCondition_.notify_all();
        return ended;
    }

    bool driveUntil(const std::function<bool()>& finished) {
        for (;;) {
            std::deque<std::function<void()>> commands;
            {
                std::lock_guard lock(mutex_);
                if (stopping_)
                    return false;
                commands.swap(commands_);
            }
            for (auto& command : commands) command();
            if (finished())
                return true;
            performAndWait();
        }
    }

    void run() {
        {
            std::lock_guard lock(mutex_);
            runner_ = std::this_thread::get_id();
        }
        for (;;) {
            std::deque<std::function<void()>> commands;
            {
                std::lock_guard lock(mutex_);
                if (stopping_)
                    break;
                commands.swap(commands_);
            }
            for (auto& command : commands) command();
            performAndWait();
        }
        for (auto& [handle, transfer] : transfers_) curl_multi_remove_handle(multi_, handle);
        transfers_.clear();
        std::lock_guard lock(mutex_);
        exited_ = true;
        exitedCondition_.notify_all();
    }

    // Commands, run on the loop's thread.
    void addTransfer(std::shared_ptr<CurlTransfer> transfer) {
        CURL* handle = transfer->handle();
        if (curl_multi_add_handle(multi_, handle) == CURLM_OK) {
            transfers_.emplace(handle, std::move(transfer));
        } else {
            transfer->finish(CURLE_FAILED_INIT);
        }
    }

    void removeTransfer(const std::shared_ptr<CurlTransfer>& transfer) {
        auto entry = transfers_.find(transfer->handle());
        if (entry == transfers_.end())
            return;
        curl_multi_remove_handle(multi_, entry->first);
        auto keep = std::move(entry->second);
        transfers_.erase(entry);
    }

    void unpauseTransfer(const std::shared_ptr<CurlTransfer>& transfer) {
        if (transfers_.count(transfer->handle()) == 0)
            return;
        transfer->didResume();
        curl_easy_pause(transfer->handle(), CURLPAUSE_CONT);
    }

  private:
    // One round of libcurl's work, then a sleep until there is more, unless the round itself
    // queued commands (a transfer's end queues its completion): this thread posts without
    // waking itself.
    void performAndWait() {
        int running = 0;
        curl_multi_perform(multi_, &running);
        finishDoneTransfers();
        bool waiting = false;
        {
            std::lock_guard lock(mutex_);
            waiting = !commands_.empty();
        }
        if (!waiting)
            curl_multi_poll(multi_, nullptr, 0, pollTimeoutMilliseconds, nullptr);
    }

    void finishDoneTransfers() {
        int remaining = 0;
        while (CURLMsg* message = curl_multi_info_read(multi_, &remaining)) {
            if (message->msg != CURLMSG_DONE)
                continue;
            auto entry = transfers_.find(message->easy_handle);
            if (entry == transfers_.end())
                continue;
            const CURLcode result = message->data.result;
            curl_multi_remove_handle(multi_, entry->first);
            auto transfer = std::move(entry->second);
            transfers_.erase(entry);
            transfer->finish(result);
        }
    }

    CURLM* const multi_;
    std::map<CURL*, std::shared_ptr<CurlTransfer>> transfers_;  // loop thread only

    std::mutex mutex_;
    std::deque<std::function<void()>> commands_;  // guarded by mutex_
    bool stopping_ = false;                       // guarded by mutex_
    bool exited_ = false;                         // guarded by mutex_
    bool hasThread_ = false;                      // guarded by mutex_
    bool driving_ = false;                        // guarded by mutex_: a caller is in runUntil
    std::thread::id runner_;                      // guarded by mutex_: the thread in the loop
    std::condition_variable exitedCondition_;
};

namespace {

// The loops alive in the process, so that an exit stops them before the TLS library's own
// exit handler runs. Leaked on purpose: it must outlive every static destructor.
class LiveLoops {
  public:
    static LiveLoops& instance() {
        static LiveLoops* const loops = [] {
            curl_global_init(CURL_GLOBAL_DEFAULT);
            // Registered after libcurl set up OpenSSL, so it runs before OpenSSL's cleanup.
            std::atexit([] { LiveLoops::instance().stopAll(); });
            return new LiveLoops();
        }();
        return *loops;
    }

    void insert(const std::shared_ptr<NetworkThread::Loop>& loop);

  private:
    void stopAll();

    std::mutex mutex_;
    std::list<std::weak_ptr<NetworkThread::Loop>> loops_;  // guarded by mutex_
};

}  // namespace
}  // namespace pindle::platform

namespace pindle::platform {

namespace {

void LiveLoops::insert(const std::shared_ptr<NetworkThread::Loop>& loop) {
    std::lock_guard lock(mutex_);
    loops_.remove_if([](const auto& entry) { return entry.expired(); });
    loops_.push_back(loop);
}

void LiveLoops::stopAll() {
    std::vector<std::shared_ptr<NetworkThread::Loop>> alive;
    {
        std::lock_guard lock(mutex_);
        for (const auto& entry : loops_) {
            if (auto loop = entry.lock())
                alive.push_back(std::move(loop));
        }
    }
    for (const auto& loop : alive) loop->stopAndWait();
}

}  // namespace

NetworkThread::NetworkThread(int maximumConnectionsPerHost) {
    LiveLoops& live = LiveLoops::instance();
    loop_ = std::make_shared<Loop>(maximumConnectionsPerHost);
    loop_->setHasThread();
    live.insert(loop_);
    thread_ = std::thread([loop = loop_] { loop->run(); });
}

NetworkThread::NetworkThread(int maximumConnectionsPerHost, DrivenByCaller) {
    LiveLoops& live = LiveLoops::instance();
    loop_ = std::make_shared<Loop>(maximumConnectionsPerHost);
    live.insert(loop_);
}

NetworkThread::~NetworkThread() {
    loop_->stop();
    if (!thread_.joinable())
        return;
    if (thread_.get_id() == std::this_thread::get_id()) {
        // The last transfer let go of its session on this very thread: the loop owns itself
        // and ends once the current round is over.
        thread_.detach();
    } else {
        thread_.join();
    }
}

void NetworkThread::add(std::shared_ptr<CurlTransfer> transfer) {
    loop_->post([loop = loop_.get(), transfer = std::move(transfer)]() mutable {
        loop->addTransfer(std::move(transfer));
    });
}

void NetworkThread::remove(std::shared_ptr<CurlTransfer> transfer) {
    loop_->post(
        [loop = loop_.get(), transfer = std::move(transfer)] { loop->removeTransfer(transfer); });
}

void NetworkThread::unpause(std::shared_ptr<CurlTransfer> transfer) {
    loop_->post(
        [loop = loop_.get(), transfer = std::move(transfer)] { loop->unpauseTransfer(transfer); });
}

void NetworkThread::perform(std::function<void()> work) {
    loop_->post(std::move(work));
}

bool NetworkThread::runUntil(const std::function<bool()>& finished) {
    return loop_->runUntil(finished);
}

}  // namespace pindle::platform
