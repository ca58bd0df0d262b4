#include "examples/pindle-example/BlockingClient.hpp"

#include <algorithm>
#include <functional>
#include <mutex>

#include "PindleCore/api/PNSession.hpp"
#include "PindleCore/api/PNVideoAPI.hpp"
#include "PindleCore/model/PNCancellable.hpp"
#include "PindleCore/model/PNError.hpp"
#include "examples/pindle-example/Interruption.hpp"
#include "examples/pindle-example/PendingResult.hpp"

namespace pindle::example {

namespace {

using platform::Error;

template <class T>
using Deliver = std::function<void(BlockingClient::Result<T>)>;

// Runs `start`, which begins one SDK call whose completion hands its result to the Deliver it
// is given, and waits for that result. The pending result is shared with the completion, so a
// completion that arrives after the timeout writes into an object that is still alive.
template <class T, class Start>
BlockingClient::Result<T> awaitCompletion(std::chrono::milliseconds timeout, Start start) {
    auto pending = std::make_shared<PendingResult<BlockingClient::Result<T>>>();
    PNCancellablePtr request = start(Deliver<T>(
        [pending](BlockingClient::Result<T> result) { pending->set(std::move(result)); }));
    if (auto result = pending->wait(timeout))
        return std::move(*result);
    if (request)
        request->cancelIt();
    if (Interruption::requested())
        return {T{}, Interruption::error()};
    return {T{},
            platform::makeURLError(platform::URLError::timedOut,
                                   "no reply within " + std::to_string(timeout.count()) + " ms")};
}

std::string sortText(PNSortOrder order) {
    return std::string(rawValue(order));
}

BlockingClient::Result<std::shared_ptr<PNVideosResponse>> listResult(
    const std::shared_ptr<PNVideosResponse>& response, const std::optional<Error>& error) {
    if (!error && !response)
        return {nullptr, PNError(PNError::unknown).toPlatformError()};
    return {response, error};
}

}  // namespace

BlockingClient::BlockingClient(std::chrono::milliseconds timeout) : timeout_(timeout) {}

BlockingClient::Result<BlockingClient::SessionStart> BlockingClient::startSession(
    const std::string& apiToken, const std::string& identity) {
    return awaitCompletion<SessionStart>(timeout_, [&](Deliver<SessionStart> deliver) {
        PNSession::current()->start(
            apiToken, identity,
            [deliver](PNSessionState state, const platform::Dictionary& reply,
                      const std::optional<Error>& error) {
                std::optional<Error> failure = error;
                if (!failure && state != PNSessionState::started)
                    failure = PNError(PNError::sessionNotStarted).toPlatformError();
                deliver({{state, reply}, failure});
            });
        // The session keeps its start request to itself; a timeout leaves it to the session.
        return PNCancellablePtr();
    });
}

BlockingClient::Result<BlockingClient::SessionStart> BlockingClient::adoptSession(
    const std::string& sessionToken) {
    const auto& session = PNSession::current();
    // Secure mode authorizes with the session token alone; a leftover API token would make the
    // session's token mode inconsistent.
    session->setApiToken(std::nullopt);
    session->start(sessionToken);
    return {{session->state(), {}}, std::nullopt};
}

BlockingClient::Result<PNVideoPtr> BlockingClient::video(const std::string& videoID) {
    return awaitCompletion<PNVideoPtr>(timeout_, [&](Deliver<PNVideoPtr> deliver) {
        return PNVideoAPI::shared().video(
            videoID, [deliver](const PNVideoPtr& video, const std::optional<Error>& error) {
                if (!error && !video)
                    return deliver({nullptr, PNError(PNError::videoNotFound).toPlatformError()});
                deliver({video, error});
            });
    });
}

BlockingClient::Result<std::shared_ptr<PNVideosResponse>> BlockingClient::videosByFilter(
    const PNVideoFilter& filter, PNSortOrder order) {
    using Response = std::shared_ptr<PNVideosResponse>;
    return awaitCompletion<Response>(timeout_, [&](Deliver<Response> deliver) {
        return PNVideoAPI::shared().videosByFilter(
            filter, sortText(order),
            [deliver](const Response& response, const std::optional<Error>& error) {
                deliver(listResult(response, error));
            });
    });
}

BlockingClient::Result<std::shared_ptr<PNVideosResponse>> BlockingClient::videosByTags(
    const platform::StringSet& tags, const platform::StringDictionary& metadata, std::int64_t page,
    std::int64_t perPage, PNSortOrder order) {
    using Response = std::shared_ptr<PNVideosResponse>;
    return awaitCompletion<Response>(timeout_, [&](Deliver<Response> deliver) {
        return PNVideoAPI::shared().videosByTags(
            tags, metadata, page, perPage, sortText(order),
            [deliver](const Response& response, const std::optional<Error>& error) {
                deliver(listResult(response, error));
            });
    });
}

BlockingClient::Result<std::shared_ptr<PNVideosResponse>> BlockingClient::videosByIdentity(
    const std::string& identity, std::int64_t page, std::int64_t perPage, PNSortOrder order) {
    using Response = std::shared_ptr<PNVideosResponse>;
    return awaitCompletion<Response>(timeout_, [&](Deliver<Response> deliver) {
        return PNVideoAPI::shared().videosByIdentity(
            identity, page, perPage, sortText(order),
            [deliver](const Response& response, const std::optional<Error>& error) {
                deliver(listResult(response, error));
            });
    });
}

BlockingClient::Result<std::shared_ptr<PNVideosResponse>> BlockingClient::videosByIds(
    const std::vector<std::string>& ids) {
    using Response = std::shared_ptr<PNVideosResponse>;
    return awaitCompletion<Response>(timeout_, [&](Deliver<Response> deliver) {
        return PNVideoAPI::shared().videosByIds(
            ids, [deliver](const Response& response, const std::optional<Error>& error) {
                deliver(listResult(response, error));
            });
    });
}

BlockingClient::Result<std::int64_t> BlockingClient::count(
    const platform::StringSet& tags, const platform::StringDictionary& metadata) {
    return awaitCompletion<std::int64_t>(timeout_, [&](Deliver<std::int64_t> deliver) {
        return PNVideoAPI::shared().videosCountByTags(
            tags, metadata, [deliver](std::int64_t count, const std::optional<Error>& error) {
                deliver({count, error});
            });
    });
}

BlockingClient::Result<platform::Value> BlockingClient::deleteVideo(const std::string& videoID) {
    return awaitCompletion<platform::Value>(timeout_, [&](Deliver<platform::Value> deliver) {
        return PNVideoAPI::shared().deleteBy(
            videoID, [deliver](const platform::Value& result, const std::optional<Error>& error) {
                deliver({result, error});
            });
    });
}

BlockingClient::Result<platform::Value> BlockingClient::sync(
    platform::Date since, const platform::StringSet& tags,
    const platform::StringDictionary& metadata) {
    return awaitCompletion<platform::Value>(timeout_, [&](Deliver<platform::Value> deliver) {
        return PNVideoAPI::shared().syncVideos(
            since, tags, metadata,
            [deliver](const platform::Value& result, const std::optional<Error>& error) {
                deliver({result, error});
            });
    });
}

BlockingClient::Result<BlockingClient::Download> BlockingClient::download(const platform::URL& url,
                                                                          PNByteRange range,
                                                                          ChunkSink sink) {
    // Chunks arrive on the delegate queue; the completion comes after the last one.
    struct Transfer {
        std::mutex mutex;
        Download summary;  // guarded by mutex
    };
    auto transfer = std::make_shared<Transfer>();
    return awaitCompletion<Download>(timeout_, [&](Deliver<Download> deliver) {
        return PNDownloader::data(
            url, range,
            [transfer, sink = std::move(sink)](const platform::SharedData& shared, std::int64_t) {
                const platform::Data& chunk = *shared;
                {
                    std::lock_guard lock(transfer->mutex);
                    Download& summary = transfer->summary;
                    summary.received += static_cast<std::int64_t>(chunk.size());
                    const std::size_t wanted =
                        std::min(headLimit - summary.head.size(), chunk.size());
                    summary.head.insert(summary.head.end(), chunk.begin(),
                                        chunk.begin() + static_cast<std::ptrdiff_t>(wanted));
                }
                if (sink)
                    sink(chunk);
            },
            [transfer, deliver](std::int64_t totalSize, const std::optional<Error>& error) {
                Download summary;
                {
                    std::lock_guard lock(transfer->mutex);
                    summary = std::move(transfer->summary);
                }
                summary.totalSize = totalSize;
                deliver({std::move(summary), error});
            });
    });
}

}  // namespace pindle::example
