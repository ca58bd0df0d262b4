#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "tools/emulator/Request.hpp"
#include "tools/emulator/Response.hpp"
#include "tools/emulator/Router.hpp"

namespace pindle::emulator {

// The storage service that receives video media, at the addresses of the upload descriptions
// the videos resource hands out ("/uploads/{id}/{file}"), speaking the resumable-upload
// protocol of a real storage service:
//   POST {file} with "x-goog-resumable: start"   opens a session: 201 and "Location"
//   PUT  {file}/session/{n} with "Content-Range: bytes a-b/total" (or "/*" while the total is
//        unknown) and the bytes: a chunk. Bytes before what the session already holds are
//        ignored, a chunk that starts after it stores nothing. The answer is 308 with
//        "Range: bytes=0-N" naming what the session has persisted (no "Range" when nothing),
//        or 200 once it holds the whole of a known total.
//   PUT  {file}/session/{n} with "Content-Range: bytes */total" (or "bytes */*") and no body:
//        the status query, answered the same way.
//   PUT  {file}/prefix                           the object's first bytes, stored as they come
// A malformed header gets 400; an unknown or expired session 404.
//
// Tests switch on faults (setFaults) and hold one chunk's answer (holdChunk) to act out the
// ways a real service and a real network misbehave. The storage also counts the bytes a client
// sent again after the storage had told it they were persisted (resentAcknowledgedBytes), and
// notes when each chunk arrived, on the emulator's clock (chunkArrivals).
//
// Thread-safety: safe from any thread; handlers run on the server's I/O threads. The
// completion handler is called on them, without the storage's lock.
class StorageResource {
  public:
    using BaseURL = std::function<std::string()>;
    using Clock = std::function<std::int64_t()>;  // milliseconds since 1970
    // Called when an object's ranged part becomes complete: its name "{id}/{file}".
    using CompletionHandler = std::function<void(const std::string& name)>;

    struct Faults {
        // Of each chunk that does not complete the object, only this share of the new bytes
        // is persisted, rounded down to a multiple of persistUnit.
        std::optional<double> persistShare;
        std::int64_t persistUnit = 1;
        // The next this many chunk or status requests are answered 503, storing nothing.
        int unavailable = 0;
        // The next this many chunks are stored, then the connection closes without an answer.
        int dropAfterStoring = 0;
        // Every chunk is preceded by this many answers 503 to the session's requests (chunks or
        // status queries), which store nothing; the session stays valid throughout, as a
        // real service's does across a moment of unavailability. Counted afresh for a new
        // session and after each chunk that stores bytes.
        int unavailablePerChunk = 0;
        // Every chunk is answered with this status, storing nothing; status queries are
        // answered as usual.
        std::optional<int> refuseEveryChunk;
    };

    enum class Hold { beforeStoring, afterStoring };
    // For holdChunk: the chunk that names the object's total, whichever it is.
    static constexpr int finalChunk = -1;

    // `clock`: when chunks arrive (chunkArrivals); the system clock when empty.
    explicit StorageResource(BaseURL baseURL, Clock clock = {});
    StorageResource(const StorageResource&) = delete;
    StorageResource& operator=(const StorageResource&) = delete;

    void addRoutes(Router& router);
    void setCompletionHandler(CompletionHandler handler);

    // What an object holds: the prefix followed by the bytes of its completed session, else of
    // its latest session. Nothing before anything was stored under that name ("{id}/{file}").
    std::optional<std::string> object(const std::string& name) const;
    // Whether a session of the object has received the whole of its known total.
    bool isComplete(const std::string& name) const;
    std::size_t sessionsOpened() const;
    // Bytes that arrived in chunks although an earlier answer had said they were persisted.
    std::int64_t resentAcknowledgedBytes() const;
    // When each chunk (not a status query) arrived, in order, on the emulator's clock.
    std::vector<std::int64_t> chunkArrivals() const;
    // How many requests a fault answered 503 or refused.
    std::size_t refusedRequests() const;

    void setFaults(Faults faults);
    // Every session opened so far answers 404 from now on.
    void expireSessions();
    // The `nth` chunk from now (1 for the next; finalChunk for the last) is held: stored or not as
    // `stage` says, its answer kept back for good (until the client goes away or the server stops).
    void holdChunk(int nth, Hold stage);
    // Waits until a held chunk has arrived; false when `timeout` passes first.
    bool waitUntilHeld(std::chrono::milliseconds timeout) const;

  private:
    struct Session {
        std::string name;
        std::string body;
        std::optional<std::int64_t> total;
        std::int64_t acknowledged = 0;  // bytes an answer has reported persisted
        bool expired = false;
        int unavailableLeft = 0;  // for Faults::unavailablePerChunk
    };
    struct StoredObject {
        std::string prefix;
        std::optional<std::string> completed;  // the body of the session that completed it
        std::string latestSession;
    };

    Response start(const Request& request, const std::string& name);
    Response putRange(const Request& request, const std::string& session);
    Response putPrefix(const Request& request, const std::string& name);
    // 308 with the persisted range, or 200 once complete; remembers what it acknowledged.
    // REQUIRES: mutex_ held.
    Response answer(Session& session, bool delivered);

    const BaseURL baseURL_;
    mutable std::mutex mutex_;
    const Clock clock_;
    mutable std::condition_variable held_;
    std::map<std::string, StoredObject> objects_;  // guarded by mutex_
    std::map<std::string, Session> sessions_;      // by session number; guarded by mutex_
    std::size_t nextSession_ = 1;                  // guarded by mutex_
    Faults faults_;                                // guarded by mutex_
    int chunksUntilHold_ = 0;                      // guarded by mutex_
    Hold holdStage_ = Hold::beforeStoring;         // guarded by mutex_
    int heldChunks_ = 0;                           // guarded by mutex_
    std::int64_t resent_ = 0;                      // guarded by mutex_
    std::vector<std::int64_t> arrivals_;           // guarded by mutex_
    std::size_t refused_ = 0;                      // guarded by mutex_
    CompletionHandler completionHandler_;          // guarded by mutex_
};

}  // namespace pindle::emulator
