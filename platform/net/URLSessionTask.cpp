#include "platform/net/URLSessionTask.hpp"

#include <algorithm>

#include "platform/foundation/Weakly.hpp"
#include "platform/net/HTTPURLResponse.hpp"
#include "platform/net/URLSession.hpp"
#include "platform/net/private/CurlTransfer.hpp"
#include "platform/net/private/NetworkThread.hpp"
#include "platform/net/private/TransportError.hpp"

namespace pindle::platform {

URLSessionTask::URLSessionTask(Key, std::shared_ptr<URLSession> session, std::uint64_t identifier,
                               URLRequest request, std::optional<RequestBody> body,
                               CompletionHandler completionHandler, DataHandler dataHandler)
    : session_(std::move(session)),
      identifier_(identifier),
      originalRequest_(request),
      body_(std::move(body)),
      dataHandler_(std::move(dataHandler)),
      spareChunks_(std::make_shared<SpareChunks>()),
      completionHandler_(std::move(completionHandler)),
      currentRequest_(std::move(request)) {
    if (body_ && body_->bytes) {
        bytesExpectedToSend_ = static_cast<std::int64_t>(body_->bytes->size());
    } else if (!body_ && originalRequest_.httpBody()) {
        bytesExpectedToSend_ = static_cast<std::int64_t>(originalRequest_.httpBody()->size());
    } else if (body_ && body_->fileLength) {
        bytesExpectedToSend_ = *body_->fileLength;
    }
}

URLSessionTask::~URLSessionTask() = default;

std::shared_ptr<URLSessionTask> URLSessionTask::self() {
    return std::static_pointer_cast<URLSessionTask>(shared_from_this());
}

URLRequest URLSessionTask::currentRequest() const {
    std::lock_guard lock(mutex_);
    return currentRequest_;
}

std::shared_ptr<URLResponse> URLSessionTask::response() const {
    std::lock_guard lock(mutex_);
    return response_;
}

std::optional<Error> URLSessionTask::error() const {
    std::lock_guard lock(mutex_);
    return error_;
}

URLSessionTask::State URLSessionTask::state() const {
    std::lock_guard lock(mutex_);
    return state_;
}

std::int64_t URLSessionTask::countOfBytesReceived() const {
    std::lock_guard lock(mutex_);
    return bytesReceived_;
}

std::int64_t URLSessionTask::countOfBytesSent() const {
    std::lock_guard lock(mutex_);
    return bytesSent_;
}

std::int64_t URLSessionTask::countOfBytesExpectedToSend() const {
    std::lock_guard lock(mutex_);
    return bytesExpectedToSend_;
}

std::int64_t URLSessionTask::countOfBytesExpectedToReceive() const {
    std::lock_guard lock(mutex_);
    return response_ ? response_->expectedContentLength() : URLResponse::unknownLength;
}

std::string URLSessionTask::description() const {
    return "<URLSessionTask " + std::to_string(identifier_) + "> { URL: " +
           (originalRequest_.url() ? originalRequest_.url()->absoluteString() : "(null)") + " }";
}

void URLSessionTask::resume() {
    std::shared_ptr<CurlTransfer> refused;
    bool startRunner = false;
    {
        std::lock_guard lock(mutex_);
        if (state_ != State::suspended || ended_)
            return;
        state_ = State::running;
        std::shared_ptr<NetworkThread> network = session_->taskWillStart(identifier_, drivenBy_);
        if (!network) {
            const auto& url = originalRequest_.url();
            startRunner = endLocked(
                TransportError::make(URLError::cancelled, url ? url->absoluteString() : ""));
        } else {
            auto [transfer, error] = CurlTransfer::make(originalRequest_, body_,
                                                        session_->configuration(), eventsHandle());
            if (error) {
                refused = std::move(transfer);
                startRunner = endLocked(std::move(error));
            } else {
                transfer_ = transfer;
                network_ = network;
                // Handed over under the lock, so a cancel() racing with this call is queued
                // behind it on the network thread.
                network->add(std::move(transfer));
            }
        }
    }
    if (startRunner)
        startCallbackRunner();
}

void URLSessionTask::cancel() {
    const auto keepAlive = self();
    std::shared_ptr<CurlTransfer> transfer;
    bool startRunner = false;
    {
        std::lock_guard lock(mutex_);
        if (ended_)
            return;
        if (state_ == State::suspended)
            session_->taskWillStart(identifier_);
        cancelled_ = true;
        state_ = State::canceling;
        const auto& url = currentRequest_.url();
        startRunner =
            endLocked(TransportError::make(URLError::cancelled, url ? url->absoluteString() : ""));
        transfer = std::move(transfer_);
        if (transfer && network_)
            network_->remove(transfer);
    }
    if (startRunner)
        startCallbackRunner();
}

std::shared_ptr<TransferEvents> URLSessionTask::eventsHandle() {
    auto task = self();
    auto* events = static_cast<TransferEvents*>(task.get());
    return std::shared_ptr<TransferEvents>(std::move(task), events);
}

bool URLSessionTask::endLocked(std::optional<Error> error) {
    ended_ = true;
    gathering_ = Data();  // what was not handed over by now never will be
    awaitingResponseAnswer_ = false;
    heldEnd_.reset();
    error_ = std::move(error);
    return scheduleLocked([this] { deliverCompletion(); });
}

bool URLSessionTask::scheduleLocked(std::function<void()> callback) {
    callbacks_.push_back(std::move(callback));
    if (runningCallbacks_)
        return false;
    runningCallbacks_ = true;
    return true;
}

void URLSessionTask::startCallbackRunner() {
    std::shared_ptr<Executor> queue;
    {
        std::lock_guard lock(mutex_);
        queue = callbackQueue_ ? callbackQueue_ : session_->delegateQueue();
    }
    queue->async([task = self()] { task->runCallbacks(); });
}

// Runs the task's queued callbacks one after another, so that they never overlap even on a
// concurrent delegate queue.
void URLSessionTask::runCallbacks() {
    // Takes every callback queued so far at once: a download's chunks then cost the network
    // thread and this one a lock hand-off per batch rather than per chunk.
    std::deque<std::function<void()>> batch;
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (callbacks_.empty()) {
                runningCallbacks_ = false;
                return;
            }
            batch.swap(callbacks_);
        }
        for (auto& callback : batch) callback();
        batch.clear();
    }
}

// Network thread.

bool URLSessionTask::transferDidReceiveResponse(std::shared_ptr<URLResponse> response) {
    bool startRunner = false;
    bool allowBody = true;
    {
        std::lock_guard lock(mutex_);
        if (ended_)
            return true;
        response_ = response;
        // A body collected for a completion handler is held whole: room for the announced
        // length up front spares the copies of a buffer doubling its way there. The
        // announcement is the peer's word, so it is trusted only up to a bound.
        const std::int64_t announced = response->expectedContentLength();
        if (collectsBodyLocked() && announced > 0 && receivedBody_.empty())
            receivedBody_.reserve(
                static_cast<std::size_t>(std::min(announced, maximumReservedBodyBytes)));
        if (response->url())
            currentRequest_.setURL(response->url());
        if (!completionHandler_ && session_->delegate()) {
            awaitingResponseAnswer_ = true;
            allowBody = false;
            startRunner = scheduleLocked([this, response] { deliverResponse(response); });
        }
    }
    if (startRunner)
        startCallbackRunner();
    return allowBody;
}

TransferEvents::Taking URLSessionTask::transferDidReceiveData(const std::uint8_t* bytes,
                                                              std::size_t length) {
    Data chunk;
    std::size_t room = 0;
    bool startGathered = false;
    Taking taking = Taking::taken;
    {
        std::lock_guard lock(mutex_);
        if (ended_)
            return Taking::taken;
        if (awaitingResponseAnswer_)
            return Taking::refused;
        if (collectsBodyLocked()) {
            receivedBody_.insert(receivedBody_.end(), bytes, bytes + length);
            bytesReceived_ += static_cast<std::int64_t>(length);
            return Taking::taken;
        }
        bufferedBytes_ += static_cast<std::int64_t>(length);
        bytesReceived_ += static_cast<std::int64_t>(length);
        if (bufferedBytes_ >= maximumBufferedBytes) {
            // The bytes that fill the room are taken all the same: refused, libcurl would
            // keep a copy of them until the transfer resumes.
            pausedForDelegate_ = true;
            taking = Taking::takenThenPause;
        }
        if (dataHandler_) {
            startGathered = gatherLocked(bytes, length);
        } else {
            if (openChunk_ &&
                openChunk_->size() + length <= static_cast<std::size_t>(maximumChunkBytes)) {
                // The chunk handed over last still waits for the delegate queue: these bytes
                // join it, so a burst of libcurl's 16 KiB pieces reaches the delegate as one
                // chunk instead of one callback each.
                openChunk_->insert(openChunk_->end(), bytes, bytes + length);
                return taking;
            }
            chunk = spareChunk();
            room = chunkRoomLocked(length);
        }
    }
    if (dataHandler_) {
        if (startGathered)
            startCallbackRunner();
        return taking;
    }
    // Copied outside the lock, into a buffer an earlier chunk already used where there is
    // one: the delegate queue's thread then neither waits for the copy nor frees what this
    // thread allocated.
    chunk.reserve(room);
    chunk.assign(bytes, bytes + length);
    bool startRunner = false;
    {
        std::lock_guard lock(mutex_);
        if (ended_)
            return Taking::taken;  // cancelled meanwhile: the chunk is dropped with the rest
        auto pending = shareChunk(std::move(chunk));
        openChunk_ = pending;
        startRunner =
            scheduleLocked([this, pending = std::move(pending)] { deliverPendingData(pending); });
    }
    if (startRunner)
        startCallbackRunner();
    return taking;
}

std::size_t URLSessionTask::chunkRoomLocked(std::size_t length) const {
    const std::int64_t announced =
        response_ ? response_->expectedContentLength() : URLResponse::unknownLength;
    if (announced <= 0)
        return length;
    // Never more than the peer said.
    const std::int64_t rest =
        std::max<std::int64_t>(announced - bytesReceived_, 0) + static_cast<std::int64_t>(length);
    return static_cast<std::size_t>(std::max<std::int64_t>(std::min(rest, maximumChunkBytes),
                                                           static_cast<std::int64_t>(length)));
}

bool URLSessionTask::gatherLocked(const std::uint8_t* bytes, std::size_t length) {
    if (gathering_.empty()) {
        gathering_ = spareChunk();
        gathering_.reserve(chunkRoomLocked(length));
    }
    gathering_.insert(gathering_.end(), bytes, bytes + length);
    if (gathering_.size() < static_cast<std::size_t>(maximumChunkBytes))
        return false;
    return scheduleGatheredLocked();
}

bool URLSessionTask::scheduleGatheredLocked() {
    if (gathering_.empty())
        return false;
    auto pending = shareChunk(std::move(gathering_));
    gathering_ = Data();
    return scheduleLocked([this, pending = std::move(pending)] { deliverPendingData(pending); });
}

void URLSessionTask::transferDidSendBodyData(std::int64_t bytesSent, std::int64_t totalBytesSent,
                                             std::int64_t totalBytesExpectedToSend) {
    bool startRunner = false;
    {
        std::lock_guard lock(mutex_);
        if (ended_)
            return;
        bytesSent_ = totalBytesSent;
        bytesExpectedToSend_ = totalBytesExpectedToSend;
        if (!session_->delegate())
            return;
        startRunner = scheduleLocked([this, bytesSent, totalBytesSent, totalBytesExpectedToSend] {
            if (auto delegate = session_->delegate(); delegate && !isCancelled()) {
                delegate->didSendBodyData(session_, self(), bytesSent, totalBytesSent,
                                          totalBytesExpectedToSend);
            }
        });
    }
    if (startRunner)
        startCallbackRunner();
}

void URLSessionTask::transferDidFinish(std::optional<Error> error) {
    bool startRunner = false;
    {
        std::lock_guard lock(mutex_);
        if (ended_)
            return;
        transfer_.reset();
        if (awaitingResponseAnswer_) {
            // The body (if any) is already in; the end waits for the delegate's answer.
            heldEnd_ = std::move(error);
            return;
        }
        // What a data handler has not been given yet goes to it before the end.
        const bool startForGathered = scheduleGatheredLocked();
        startRunner = endLocked(std::move(error)) || startForGathered;
    }
    if (startRunner)
        startCallbackRunner();
}

// Delegate queue.

bool URLSessionTask::isCancelled() const {
    return cancelled_;
}

void URLSessionTask::deliverResponse(const std::shared_ptr<URLResponse>& response) {
    auto delegate = session_->delegate();
    if (!delegate || isCancelled())
        return;
    auto answered = std::make_shared<std::once_flag>();
    delegate->didReceiveResponse(
        session_, std::static_pointer_cast<URLSessionDataTask>(self()), response,
        weakly(this, [answered](URLSessionTask& task,
                                URLSessionDelegate::ResponseDisposition disposition) {
            std::call_once(*answered, [&] {
                task.answerResponse(disposition == URLSessionDelegate::ResponseDisposition::allow);
            });
        }));
}

void URLSessionTask::answerResponse(bool allow) {
    if (!allow) {
        cancel();
        return;
    }
    bool startRunner = false;
    {
        std::lock_guard lock(mutex_);
        if (ended_ || !awaitingResponseAnswer_)
            return;
        awaitingResponseAnswer_ = false;
        if (heldEnd_) {
            std::optional<Error> error = std::move(*heldEnd_);
            heldEnd_.reset();
            startRunner = endLocked(std::move(error));
        } else if (transfer_ && network_) {
            network_->unpause(transfer_);
        }
    }
    if (startRunner)
        startCallbackRunner();
}

// Its own lock, never held while taking another: a chunk's last holder lets go on any thread,
// maybe while holding the task's lock.
class URLSessionTask::SpareChunks {
  public:
    Data take() {
        std::lock_guard lock(mutex_);
        if (spares_.empty())
            return {};
        Data spare = std::move(spares_.back());
        spares_.pop_back();
        return spare;
    }
    void giveBack(Data buffer) {
        std::lock_guard lock(mutex_);
        if (spares_.size() < maximumSpareChunks) {
            buffer.clear();
            spares_.push_back(std::move(buffer));
        }
    }

  private:
    std::mutex mutex_;
    std::vector<Data> spares_;  // guarded by mutex_
};

std::shared_ptr<Data> URLSessionTask::shareChunk(Data bytes) {
    std::weak_ptr<SpareChunks> spares = spareChunks_;
    return std::shared_ptr<Data>(new Data(std::move(bytes)), [spares](Data* chunk) {
        // by hand: the chunk is deleted whether or not its pool is still there
        if (auto pool = spares.lock())
            pool->giveBack(std::move(*chunk));
        delete chunk;
    });
}

Data URLSessionTask::spareChunk() {
    return spareChunks_->take();
}

void URLSessionTask::deliverPendingData(const std::shared_ptr<Data>& pending) {
    std::shared_ptr<URLResponse> response;
    {
        std::lock_guard lock(mutex_);
        if (openChunk_ == pending)
            openChunk_.reset();  // nothing joins it from now on: it is the delegate's to share
        response = response_;
    }
    const std::size_t size = pending->size();
    if (!cancelled_) {
        if (dataHandler_) {
            dataHandler_(*pending, response);
        } else if (auto delegate = session_->delegate()) {
            delegate->didReceiveSharedData(
                session_, std::static_pointer_cast<URLSessionDataTask>(self()), pending);
        }
    }
    // Counted as buffered until the delegate is done with it, so the transfer resumes only
    // once the delegate has caught up.
    std::shared_ptr<CurlTransfer> resume;
    std::shared_ptr<NetworkThread> network;
    {
        std::lock_guard lock(mutex_);
        bufferedBytes_ -= static_cast<std::int64_t>(size);
        if (pausedForDelegate_ && bufferedBytes_ <= maximumBufferedBytes / 2 && transfer_ &&
            network_) {
            pausedForDelegate_ = false;
            resume = transfer_;
            network = network_;
        }
    }
    if (network)
        network->unpause(std::move(resume));
}

void URLSessionTask::deliverCompletion() {
    CompletionHandler handler;
    std::optional<Data> body;
    std::shared_ptr<URLResponse> response;
    std::optional<Error> error;
    {
        std::lock_guard lock(mutex_);
        state_ = State::completed;
        if (!error_ && collectsBodyLocked())
            body = std::move(receivedBody_);
        handler = std::move(completionHandler_);
        completionHandler_ = nullptr;
        receivedBody_.clear();
        response = response_;
        error = error_;
    }
    if (handler) {
        handler(std::move(body), std::move(response), std::move(error));
    } else if (auto delegate = session_->delegate()) {
        delegate->didCompleteWithError(session_, self(), error);
    }
    session_->taskDidEnd(identifier_);
}

}  // namespace pindle::platform
