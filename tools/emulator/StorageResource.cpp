#include "tools/emulator/StorageResource.hpp"

#include <algorithm>
#include <regex>

#include "tools/emulator/BackendDate.hpp"

namespace pindle::emulator {

namespace {

const std::string uploadsRoot = "/uploads";

// Long enough that a held answer never comes while a test runs; the server's stop abandons it.
constexpr std::chrono::hours heldAnswerDelay{1};

}  // namespace

StorageResource::StorageResource(BaseURL baseURL, Clock clock)
    : baseURL_(std::move(baseURL)),
      clock_(clock ? std::move(clock) : Clock(BackendDate::nowMillis)) {}

void StorageResource::addRoutes(Router& router) {
    router.add("POST", uploadsRoot + "/{id}/{file}",
               [this](const Request& r, const Router::Params& p) {
                   return start(r, p.at("id") + "/" + p.at("file"));
               });
    router.add("PUT", uploadsRoot + "/{id}/{file}/prefix",
               [this](const Request& r, const Router::Params& p) {
                   return putPrefix(r, p.at("id") + "/" + p.at("file"));
               });
    router.add(
        "PUT", uploadsRoot + "/{id}/{file}/session/{session}",
        [this](const Request& r, const Router::Params& p) { return putRange(r, p.at("session")); });
}

void StorageResource::setCompletionHandler(CompletionHandler handler) {
    std::lock_guard lock(mutex_);
    completionHandler_ = std::move(handler);
}

Response StorageResource::start(const Request& request, const std::string& name) {
    if (request.header("x-goog-resumable") != "start") {
        return Response::error(400, "\"x-goog-resumable: start\" opens a session");
    }
    std::string session;
    {
        std::lock_guard lock(mutex_);
        session = std::to_string(nextSession_++);
        sessions_[session] = Session{name, {}, std::nullopt, 0, false, faults_.unavailablePerChunk};
        objects_[name].latestSession = session;
    }
    Response response = Response::empty(201);
    response.headers.set("Location", baseURL_() + uploadsRoot + "/" + name + "/session/" + session);
    return response;
}

Response StorageResource::answer(Session& session, bool delivered) {
    const auto persisted = static_cast<std::int64_t>(session.body.size());
    if (delivered) {
        session.acknowledged = std::max(session.acknowledged, persisted);
    }
    if (session.total && persisted == *session.total) {
        return Response::json(200, {{"name", session.name}, {"size", persisted}});
    }
    Response response = Response::empty(308);
    if (persisted > 0) {
        response.headers.set("Range", "bytes=0-" + std::to_string(persisted - 1));
    }
    return response;
}

Response StorageResource::putRange(const Request& request, const std::string& sessionName) {
    static const std::regex chunkForm(R"(bytes (\d+)-(\d+)/(\d+|\*))");
    static const std::regex queryForm(R"(bytes \*/(\d+|\*))");
    const std::string range = request.header("Content-Range").value_or("");
    std::smatch match;
    const bool isQuery = std::regex_match(range, match, queryForm);
    std::int64_t first = 0;
    std::int64_t last = -1;
    std::optional<std::int64_t> total;
    const std::string totalText = isQuery ? match[1].str() : std::string();
    if (isQuery) {
        if (!request.body.empty()) {
            return Response::error(400, "a status query has no body");
        }
        if (totalText != "*")
            total = std::stoll(totalText);
    } else if (std::regex_match(range, match, chunkForm)) {
        first = std::stoll(match[1]);
        last = std::stoll(match[2]);
        if (match[3] != "*")
            total = std::stoll(match[3]);
        if (last < first || static_cast<std::int64_t>(request.body.size()) != last - first + 1 ||
            (total && last >= *total)) {
            return Response::error(400, "the range does not match its body or total");
        }
    } else {
        return Response::error(400, "\"Content-Range: bytes a-b/total\" is required");
    }

    CompletionHandler completed;
    std::string completedName;
    Response response;
    {
        std::lock_guard lock(mutex_);
        auto found = sessions_.find(sessionName);
        if (found == sessions_.end() || found->second.expired) {
            return Response::error(404, "no upload session " + sessionName);
        }
        Session& session = found->second;
        if (!isQuery)
            arrivals_.push_back(clock_());
        if (faults_.unavailable > 0) {
            --faults_.unavailable;
            ++refused_;
            return Response::error(503, "the storage is unavailable for a moment");
        }
        if (faults_.unavailablePerChunk > 0 && session.unavailableLeft > 0) {
            --session.unavailableLeft;
            ++refused_;
            return Response::error(503, "the storage is unavailable for a moment");
        }
        if (!isQuery && faults_.refuseEveryChunk) {
            ++refused_;
            return Response::error(static_cast<unsigned>(*faults_.refuseEveryChunk),
                                   "the storage refuses this object");
        }
        const bool wasComplete = session.total && std::ssize(session.body) == *session.total;
        if (isQuery) {
            if (total && !session.total)
                session.total = total;
            response = answer(session, true);
        } else {
            std::optional<Hold> hold;
            const bool holdThis = chunksUntilHold_ == finalChunk
                                      ? total.has_value()
                                      : chunksUntilHold_ > 0 && --chunksUntilHold_ == 0;
            if (holdThis) {
                chunksUntilHold_ = 0;
                hold = holdStage_;
                ++heldChunks_;
                held_.notify_all();
            }
            const bool drop = !hold && faults_.dropAfterStoring > 0;
            if (drop)
                --faults_.dropAfterStoring;
            const auto persisted = static_cast<std::int64_t>(session.body.size());
            resent_ += std::max<std::int64_t>(0, std::min(last + 1, session.acknowledged) - first);
            if (hold != Hold::beforeStoring && first <= persisted && !wasComplete) {
                std::string fresh =
                    request.body.substr(static_cast<std::size_t>(persisted - first));
                if (total)
                    session.total = total;
                const bool completes =
                    session.total && persisted + std::ssize(fresh) == *session.total;
                if (!completes && faults_.persistShare) {
                    const auto kept = static_cast<std::int64_t>(static_cast<double>(fresh.size()) *
                                                                *faults_.persistShare);
                    fresh.resize(static_cast<std::size_t>(kept - kept % faults_.persistUnit));
                }
                if (!fresh.empty())
                    session.unavailableLeft = faults_.unavailablePerChunk;
                session.body += fresh;
            }
            response = answer(session, !hold && !drop);
            if (hold) {
                response.fault = Fault::delayed(heldAnswerDelay);
            } else if (drop) {
                response.fault = Fault::closeImmediately();
            }
        }
        const bool isComplete = session.total && std::ssize(session.body) == *session.total;
        if (isComplete && !wasComplete) {
            objects_[session.name].completed = session.body;
            completed = completionHandler_;
            completedName = session.name;
        }
    }
    if (completed)
        completed(completedName);
    return response;
}

Response StorageResource::putPrefix(const Request& request, const std::string& name) {
    std::lock_guard lock(mutex_);
    objects_[name].prefix = request.body;
    return Response::empty(200);
}

std::optional<std::string> StorageResource::object(const std::string& name) const {
    std::lock_guard lock(mutex_);
    auto found = objects_.find(name);
    if (found == objects_.end())
        return std::nullopt;
    const StoredObject& object = found->second;
    if (object.completed)
        return object.prefix + *object.completed;
    auto session = sessions_.find(object.latestSession);
    return object.prefix + (session == sessions_.end() ? std::string() : session->second.body);
}

bool StorageResource::isComplete(const std::string& name) const {
    std::lock_guard lock(mutex_);
    auto found = objects_.find(name);
    return found != objects_.end() && found->second.completed.has_value();
}

std::size_t StorageResource::sessionsOpened() const {
    std::lock_guard lock(mutex_);
    return nextSession_ - 1;
}

std::int64_t StorageResource::resentAcknowledgedBytes() const {
    std::lock_guard lock(mutex_);
    return resent_;
}

std::vector<std::int64_t> StorageResource::chunkArrivals() const {
    std::lock_guard lock(mutex_);
    return arrivals_;
}

std::size_t StorageResource::refusedRequests() const {
    std::lock_guard lock(mutex_);
    return refused_;
}

void StorageResource::setFaults(Faults faults) {
    std::lock_guard lock(mutex_);
    faults_ = faults;
    for (auto& [number, session] : sessions_) session.unavailableLeft = faults.unavailablePerChunk;
}

void StorageResource::expireSessions() {
    std::lock_guard lock(mutex_);
    for (auto& [number, session] : sessions_) session.expired = true;
}

void StorageResource::holdChunk(int nth, Hold stage) {
    std::lock_guard lock(mutex_);
    chunksUntilHold_ = nth;
    holdStage_ = stage;
    heldChunks_ = 0;
}

bool StorageResource::waitUntilHeld(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return held_.wait_for(lock, timeout, [&] { return heldChunks_ > 0; });
}

}  // namespace pindle::emulator
