// URLSessionTask: one load of a URL session, from resume() to its single completion.
//
// A task is made suspended by its session and starts with resume(). It ends exactly once:
// with success (whatever the HTTP status), a transport error, or URLError::cancelled after
// cancel(). How the end is reported depends on how the task was made: to its completion
// handler (with the whole body, or after the body's chunks went to a data handler), or to the
// session delegate together with the response and the body chunks (see URLSessionDelegate).
// Either way every call arrives on the session's delegate queue, never
// on the thread that called resume() or cancel() and never while any lock of the task or
// session is held, so callers may resume and cancel while holding locks of their own, and
// may start or cancel tasks from inside a callback.
//
// A running task is kept alive by its session; callers need not hold it. Tasks compare and
// hash by identity, so a std::shared_ptr<URLSessionTask> serves as a map key.
//
// Thread-safety: every operation may be called from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/foundation/Data.hpp"
#include "platform/foundation/Error.hpp"
#include "platform/foundation/Executor.hpp"
#include "platform/foundation/Object.hpp"
#include "platform/net/RequestBody.hpp"
#include "platform/net/TransferEvents.hpp"
#include "platform/net/URLRequest.hpp"

namespace pindle::platform {

class CurlTransfer;

class NetworkThread;
class URLResponse;
class URLSession;

class URLSessionTask : public Object, private TransferEvents {
  public:
    enum class State : int { running = 0, suspended = 1, canceling = 2, completed = 3 };

    // Called once with the body (absent on failure), the response (when one arrived) and the
    // error (absent on success).
    using CompletionHandler =
        std::function<void(std::optional<Data> data, std::shared_ptr<URLResponse> response,
                           std::optional<Error> error)>;
    // Called with each chunk of the body as it arrives, in order, with the response it belongs
    // to, when the task was made to hand its body on instead of collecting it.
    using DataHandler =
        std::function<void(const Data& chunk, const std::shared_ptr<URLResponse>& response)>;

    ~URLSessionTask() override;
    URLSessionTask(const URLSessionTask&) = delete;
    URLSessionTask& operator=(const URLSessionTask&) = delete;

    // Unique among the tasks of its session.
    std::uint64_t taskIdentifier() const { return identifier_; }
    // The request the task was made with.
    const URLRequest& originalRequest() const { return originalRequest_; }
    // The request as it stands now: its URL follows redirects.
    URLRequest currentRequest() const;
    // The response, once it has arrived.
    std::shared_ptr<URLResponse> response() const;
    // The error the task ended with, once it has ended.
    std::optional<Error> error() const;
    State state() const;

    std::int64_t countOfBytesReceived() const;
    std::int64_t countOfBytesSent() const;
    // The length of the body to upload (0 without one).
    std::int64_t countOfBytesExpectedToSend() const;
    // The declared length of the response body, or -1.
    std::int64_t countOfBytesExpectedToReceive() const;

    // Starts a suspended task; does nothing otherwise. Nothing is called back on this
    // thread.
    void resume();
    // Ends the task with URLError::cancelled unless it has ended already; callbacks not yet
    // made for it (response, body chunks) are dropped. Does nothing after the end.
    void cancel();

    std::string description() const override;

  private:
    friend class URLSession;
    // Only a session makes tasks.
    struct Key {
        explicit Key() = default;
    };

  public:
    URLSessionTask(Key, std::shared_ptr<URLSession> session, std::uint64_t identifier,
                   URLRequest request, std::optional<RequestBody> body,
                   CompletionHandler completionHandler, DataHandler dataHandler = nullptr);

  private:
    // Cap on body bytes handed to the delegate queue but not yet delivered; the read that
    // reaches it is still taken (refused, libcurl would copy it to keep it), then the transfer
    // pauses until the delegate catches up (at half). A delegate that writes to a file falls
    // behind a loopback download, so the transfer pauses and is woken again once every half
    // of this: half a mebibyte (four of libcurl's 128 KiB reads) wakes the network thread half
    // as often as a quarter did, for a quarter of a mebibyte more at the peak.
    static constexpr std::int64_t maximumBufferedBytes = 512 * 1024;
    // The most bytes one chunk gathers while it waits for the delegate: small against
    // maximumBufferedBytes, so that the delegate's work on one chunk frees room, and the
    // transfer resumes, while later chunks still wait.
    static constexpr std::int64_t maximumChunkBytes = 128 * 1024;
    // Adds body bytes to the chunk a data handler gets next; once it holds maximumChunkBytes,
    // schedules it. Returns as scheduleLocked() does. REQUIRES: mutex_ held, dataHandler_ set.
    bool gatherLocked(const std::uint8_t* bytes, std::size_t length);
    // Schedules the gathered bytes, if any, for the data handler; returns as scheduleLocked()
    // does (false when there were none). REQUIRES: mutex_ held.
    bool scheduleGatheredLocked();
    // Whether the body is collected for the completion handler. REQUIRES: mutex_ held.
    bool collectsBodyLocked() const { return completionHandler_ && !dataHandler_; }

    // The most room set aside up front for a body collected for a completion handler, whatever
    // length the reply announces.
    static constexpr std::int64_t maximumReservedBodyBytes = 32 * 1024 * 1024;
    // Delivered chunks' buffers kept for the next chunks to reuse, once their last holder
    // has let go (a delegate may keep a chunk past its call).
    static constexpr std::size_t maximumSpareChunks = 4;
    class SpareChunks;
    // A chunk to schedule, whose buffer goes back to the spares when its last holder lets go.
    std::shared_ptr<Data> shareChunk(Data bytes);
    // An empty buffer, with the room of an earlier chunk when there is one.
    Data spareChunk();
    // The room a new chunk sets aside for its first `length` bytes and those that may join it:
    // the rest of the body the peer announced, up to a chunk (exactly `length` when it announced
    // no length), so that bytes joining it are not copied again as it grows. REQUIRES: mutex_
    // held, bytesReceived_ already counting the `length` bytes.
    std::size_t chunkRoomLocked(std::size_t length) const;

    bool transferDidReceiveResponse(std::shared_ptr<URLResponse> response) override;
    Taking transferDidReceiveData(const std::uint8_t* bytes, std::size_t length) override;
    void transferDidSendBodyData(std::int64_t bytesSent, std::int64_t totalBytesSent,
                                 std::int64_t totalBytesExpectedToSend) override;
    void transferDidFinish(std::optional<Error> error) override;

    std::shared_ptr<URLSessionTask> self();
    std::shared_ptr<TransferEvents> eventsHandle();
    bool isCancelled() const;
    void answerResponse(bool allow);
    // Records the end and queues its report. Returns whether the caller must start the
    // callback runner once it has released the lock. REQUIRES: mutex_ held, !ended_.
    bool endLocked(std::optional<Error> error);
    // Queues `callback` behind the task's earlier callbacks; returns as endLocked() does.
    // REQUIRES: mutex_ held.
    bool scheduleLocked(std::function<void()> callback);
    void startCallbackRunner();
    void runCallbacks();
    void deliverResponse(const std::shared_ptr<URLResponse>& response);
    // Hands a chunk to the delegate, with whatever joined it while it waited.
    void deliverPendingData(const std::shared_ptr<Data>& pending);
    void deliverCompletion();

    const std::shared_ptr<URLSession> session_;
    const std::uint64_t identifier_;
    const URLRequest originalRequest_;
    const std::optional<RequestBody> body_;
    // Set when the body goes to it chunk by chunk; the completion handler then gets none.
    const DataHandler dataHandler_;
    const std::shared_ptr<SpareChunks> spareChunks_;

    // Set under mutex_; read without it where body chunks are delivered.
    std::atomic<bool> cancelled_{false};
    mutable std::mutex mutex_;
    CompletionHandler completionHandler_;          // guarded by mutex_
    State state_ = State::suspended;               // guarded by mutex_
    URLRequest currentRequest_;                    // guarded by mutex_
    std::shared_ptr<URLResponse> response_;        // guarded by mutex_
    std::optional<Error> error_;                   // guarded by mutex_
    std::shared_ptr<CurlTransfer> transfer_;       // guarded by mutex_
    bool ended_ = false;                           // guarded by mutex_
    bool awaitingResponseAnswer_ = false;          // guarded by mutex_
    std::optional<std::optional<Error>> heldEnd_;  // guarded by mutex_
    bool pausedForDelegate_ = false;               // guarded by mutex_
    std::int64_t bufferedBytes_ = 0;               // guarded by mutex_
    Data receivedBody_;                            // guarded by mutex_
    std::int64_t bytesReceived_ = 0;               // guarded by mutex_
    std::int64_t bytesSent_ = 0;                   // guarded by mutex_
    std::int64_t bytesExpectedToSend_ = 0;         // guarded by mutex_
    std::deque<std::function<void()>> callbacks_;  // guarded by mutex_
    // Body bytes for a data handler not yet scheduled: they go to it a whole chunk at a time,
    // or with the end, so that a short reply costs one hand-over to the delegate queue.
    Data gathering_;  // guarded by mutex_
    // The last chunk scheduled for the delegate while its hand-over has not yet run: later
    // bytes join it up to maximumChunkBytes.
    std::shared_ptr<Data> openChunk_;  // guarded by mutex_
    bool runningCallbacks_ = false;    // guarded by mutex_
    // Where callbacks run instead of the session's delegate queue, and the network loop the
    // transfer runs on instead of the session's thread (URLSession::loadSynchronously).
    std::shared_ptr<Executor> callbackQueue_;  // guarded by mutex_
    std::shared_ptr<NetworkThread> drivenBy_;  // guarded by mutex_
    // Where the transfer was handed, once resumed.
    std::shared_ptr<NetworkThread> network_;  // guarded by mutex_
};

}  // namespace pindle::platform
