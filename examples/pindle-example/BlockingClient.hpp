// BlockingClient: the SDK's public operations as calls that block until their completion has
// run, for a host with no run loop of its own (the example's commands and its demo).
//
// Each call starts the SDK operation, waits for its one completion (which the SDK runs on the
// requester's delegate queue) and returns what it delivered. A call that does not complete
// within the client's timeout is cancelled and reports URLError timedOut; one cut short by
// SIGINT or SIGTERM is cancelled and reports Interruption::error(). A completion may still
// run later and is then ignored.
//
// Thread-safety: every call may be made from any thread except the requester's delegate
// queue, which the call would wait on. Callbacks: none reach the caller.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "PindleCore/api/PNDownloader.hpp"
#include "PindleCore/api/PNSessionState.hpp"
#include "PindleCore/model/PNSortOrder.hpp"
#include "PindleCore/model/PNVideo.hpp"
#include "PindleCore/model/PNVideoFilter.hpp"
#include "PindleCore/model/PNVideosResponse.hpp"
#include "platform/foundation/Data.hpp"
#include "platform/foundation/Date.hpp"
#include "platform/foundation/Error.hpp"
#include "platform/foundation/URL.hpp"
#include "platform/foundation/Value.hpp"

namespace pindle::example {

class BlockingClient {
  public:
    // What a call delivered: the value, or the error (then `value` is default-made).
    template <class T>
    struct Result {
        T value{};
        std::optional<platform::Error> error;

        bool ok() const { return !error; }
    };

    struct SessionStart {
        PNSessionState state = PNSessionState::stopped;
        platform::Dictionary reply;
    };

    // What a download saw: the byte count, the first `headLimit` bytes (to identify the file)
    // and the total size the server reported. The body itself goes to the caller's sink.
    struct Download {
        std::int64_t received = 0;
        platform::Data head;
        std::int64_t totalSize = 0;
    };
    static constexpr std::size_t headLimit = 64;
    // Takes each chunk in order, on the delegate queue. Memory stays bounded by one chunk.
    using ChunkSink = std::function<void(const platform::Data& chunk)>;

    static constexpr std::chrono::seconds defaultTimeout{30};

    explicit BlockingClient(std::chrono::milliseconds timeout = defaultTimeout);
    BlockingClient(const BlockingClient&) = delete;
    BlockingClient& operator=(const BlockingClient&) = delete;

    // Starts the current session from an API token and an identity. A session that ends up in
    // any state but started is an error.
    Result<SessionStart> startSession(const std::string& apiToken, const std::string& identity);
    // Adopts a session token the host already holds; completes at once.
    Result<SessionStart> adoptSession(const std::string& sessionToken);

    Result<PNVideoPtr> video(const std::string& videoID);
    Result<std::shared_ptr<PNVideosResponse>> videosByFilter(const PNVideoFilter& filter,
                                                             PNSortOrder order);
    Result<std::shared_ptr<PNVideosResponse>> videosByTags(
        const platform::StringSet& tags, const platform::StringDictionary& metadata,
        std::int64_t page, std::int64_t perPage, PNSortOrder order);
    Result<std::shared_ptr<PNVideosResponse>> videosByIdentity(const std::string& identity,
                                                               std::int64_t page,
                                                               std::int64_t perPage,
                                                               PNSortOrder order);
    Result<std::shared_ptr<PNVideosResponse>> videosByIds(const std::vector<std::string>& ids);
    Result<std::int64_t> count(const platform::StringSet& tags,
                               const platform::StringDictionary& metadata);
    Result<platform::Value> deleteVideo(const std::string& videoID);
    Result<platform::Value> sync(platform::Date since, const platform::StringSet& tags,
                                 const platform::StringDictionary& metadata);
    // The bytes of `range` of the media file at `url`, through the range downloader, handed to
    // `sink` as they arrive (none is kept here, whatever the length).
    Result<Download> download(const platform::URL& url, PNByteRange range, ChunkSink sink = {});

  private:
    std::chrono::milliseconds timeout_;
};

}  // namespace pindle::example
