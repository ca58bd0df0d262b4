#include "tools/emulator/StorageResource.hpp"

#include <cstdio>
#include <regex>

namespace pindle::emulator {

namespace {

const std::string uploadsRoot = "/uploads";

}  // namespace

StorageResource::StorageResource(BaseURL baseURL) : baseURL_(std::move(baseURL)) {}

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

Response StorageResource::start(const Request& request, const std::string& name) {
    if (request.header("x-goog-resumable") != "start") {
        return Response::error(400, "\"x-goog-resumable: start\" opens a session");
    }
    std::string session;
    {
        std::lock_guard lock(mutex_);
        session = std::to_string(nextSession_++);
        sessions_[session] = name;
        objects_.try_emplace(name);
        objects_[name].body.clear();
        objects_[name].total.reset();
    }
    Response response = Response::empty(201);
    response.headers.set("Location", baseURL_() + uploadsRoot + "/" + name + "/session/" + session);
    return response;
}

Response StorageResource::putRange(const Request& request, const std::string& session) {
    static const std::regex rangeForm(R"(bytes (\d+)-(\d+)/(\d+|\*))");
    std::smatch match;
    const std::string range = request.header("Content-Range").value_or("");
    if (!std::regex_match(range, match, rangeForm)) {
        return Response::error(400, "\"Content-Range: bytes a-b/total\" is required");
    }
    const std::int64_t first = std::stoll(match[1]);
    const std::int64_t last = std::stoll(match[2]);
    const std::optional<std::int64_t> total =
        match[3] == "*" ? std::nullopt : std::optional<std::int64_t>(std::stoll(match[3]));
    if (last < first || static_cast<std::int64_t>(request.body.size()) != last - first + 1 ||
        (total && last >= *total)) {
        return Response::error(400, "the range does not match its body or total");
    }

    std::lock_guard lock(mutex_);
    auto found = sessions_.find(session);
    if (found == sessions_.end())
        return Response::error(404, "no upload session " + session);
    StoredObject& object = objects_[found->second];
    if (first != static_cast<std::int64_t>(object.body.size())) {
        return Response::error(400, "the range starts at " + std::to_string(first) +
                                        " but the object ends at " +
                                        std::to_string(object.body.size()));
    }
    object.body += request.body;
    if (total)
        object.total = total;
    if (object.total && static_cast<std::int64_t>(object.body.size()) == *object.total) {
        return Response::json(200, {{"name", found->second}, {"size", *object.total}});
    }
    Response response = Response::empty(308);
    response.headers.set("Range", "bytes=0-" + std::to_string(object.body.size() - 1));
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
    return found->second.prefix + found->second.body;
}

bool StorageResource::isComplete(const std::string& name) const {
    std::lock_guard lock(mutex_);
    auto found = objects_.find(name);
    return found != objects_.end() && found->second.total &&
           static_cast<std::int64_t>(found->second.body.size()) == *found->second.total;
}

std::size_t StorageResource::sessionsOpened() const {
    std::lock_guard lock(mutex_);
    return nextSession_ - 1;
}

}  // namespace pindle::emulator
