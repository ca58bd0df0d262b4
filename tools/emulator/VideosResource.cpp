#include "tools/emulator/VideosResource.hpp"

#include <algorithm>
#include <charconv>
#include <nlohmann/json.hpp>
#include <set>

#include "tools/emulator/BackendDate.hpp"
#include "tools/emulator/Base64.hpp"
#include "tools/emulator/GeneratedMedia.hpp"
#include "tools/emulator/Tokens.hpp"

namespace pindle::emulator {

namespace {

using json = nlohmann::json;

constexpr std::string_view mediaPrefix = "/media/";
constexpr std::string_view thumbnailFile = "thumb.png";
constexpr std::string_view mp4Extension = ".mp4";

std::optional<std::int64_t> parseInteger(const std::string& text) {
    std::int64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// The JSON value a Base64 query parameter carries; an empty text counts as absent.
std::optional<json> decodeBase64JSON(const std::string& text) {
    auto bytes = Base64::decode(text);
    if (!bytes) {
        return std::nullopt;
    }
    auto value = json::parse(*bytes, nullptr, false);
    if (value.is_discarded()) {
        return std::nullopt;
    }
    return value;
}

bool isStringArray(const json& value) {
    if (!value.is_array()) {
        return false;
    }
    for (const auto& element : value) {
        if (!element.is_string()) {
            return false;
        }
    }
    return true;
}

bool isStringObject(const json& value) {
    if (!value.is_object()) {
        return false;
    }
    for (const auto& [key, element] : value.items()) {
        if (!element.is_string()) {
            return false;
        }
    }
    return true;
}

json idList(const std::vector<std::string>& ids) {
    json list = json::array();
    for (const auto& id : ids) {
        list.push_back({{"id", id}});
    }
    return list;
}

}  // namespace

VideosResource::VideosResource(VideoStore& store, SessionRegistry& sessions, BaseURL baseURL)
    : store_(store), sessions_(sessions), baseURL_(std::move(baseURL)) {}

void VideosResource::addRoutes(Router& router, const std::string& apiRoot) {
    const auto videos = apiRoot + "/videos";
    router.add("GET", videos, authorized([this](const Request& request, const auto&, const auto&) {
                   return list(request);
               }));
    router.add("POST", videos,
               authorized([this](const Request& request, const auto&, const Caller& caller) {
                   return create(request, caller);
               }));
    // Before "{id}", so that "sync" is not taken for an identifier.
    router.add("GET", videos + "/sync",
               authorized([this](const Request& request, const auto&, const auto&) {
                   return sync(request);
               }));
    router.add("GET", videos + "/{id}",
               authorized([this](const Request&, const Router::Params& params, const auto&) {
                   return get(params.at("id"));
               }));
    router.add("PUT", videos + "/{id}",
               authorized([this](const Request& request, const Router::Params& params,
                                 const auto&) { return update(request, params.at("id")); }));
    router.add("DELETE", videos + "/{id}",
               authorized([this](const Request&, const Router::Params& params, const auto&) {
                   return remove(params.at("id"));
               }));
    router.add("GET", videos + "/{id}/signedUrl",
               authorized([this](const Request& request, const Router::Params& params,
                                 const auto&) { return signedURL(request, params.at("id")); }));
    router.add("POST", videos + "/{id}/convert",
               authorized([this](const Request& request, const Router::Params& params,
                                 const auto&) { return convert(request, params.at("id")); }));
}

Router::Handler VideosResource::authorized(Handler handler) const {
    return
        [this, handler = std::move(handler)](const Request& request, const Router::Params& params) {
            auto caller = sessions_.authorizeHeader(request.header("Authorization"));
            if (!caller) {
                return Response::error(401, "a valid bearer token is required");
            }
            return handler(request, params, *caller);
        };
}

Response VideosResource::list(const Request& request) const {
    VideoQuery criteria;
    if (auto error = readListQuery(QueryString(request.rawQuery()), criteria)) {
        return Response::error(400, *error);
    }
    auto page = store_.list(criteria);
    json videos = json::array();
    auto base = baseURL_();
    for (const auto& video : page.videos) {
        videos.push_back(video.toBackendJSON(base));
    }
    return Response::json(200, videos, {{"video-total-count", std::to_string(page.totalCount)}});
}

Response VideosResource::create(const Request& request, const Caller& caller) const {
    auto body = json::parse(request.body, nullptr, false);
    if (body.is_discarded() || !body.is_object()) {
        return Response::error(400, "the body must be a JSON object");
    }
    VideoChanges fields;
    if (auto error = readChanges(body, fields)) {
        return Response::error(400, *error);
    }
    VideoRecord video;
    if (body.contains("id")) {
        if (!body["id"].is_string() || body["id"].get<std::string>().empty()) {
            return Response::error(400, "\"id\" must be a non-empty string");
        }
        video.id = body["id"].get<std::string>();
    } else {
        video.id = Tokens::randomUUID();
    }
    video.identity = caller.identity;
    video.title = fields.title.value_or("");
    video.setTags(fields.tags.value_or(std::vector<std::string>{}));
    video.metadata = fields.metadata.value_or(std::map<std::string, std::string>{});
    video.latitude = fields.latitude.value_or(0);
    video.longitude = fields.longitude.value_or(0);
    video.width = fields.width.value_or(0);
    video.height = fields.height.value_or(0);
    video.shotOn = fields.shotOn.value_or(store_.now());
    video.transcription = fields.transcription;
    video.state = fields.state.value_or("processing");
    for (const auto& resolution : fields.addedResolutions) {
        video.addResolution(resolution);
    }
    auto created = store_.create(std::move(video));
    if (!created) {
        return Response::error(409, "a video with this id exists");
    }
    return videoReply(201, *created);
}

Response VideosResource::sync(const Request& request) const {
    QueryString query(request.rawQuery());
    auto dateText = query.get("date");
    auto since = dateText ? BackendDate::parse(*dateText) : std::nullopt;
    if (!since) {
        return Response::error(400, "\"date\" must be a date such as 2024-03-01T09:00:00.000Z");
    }
    auto tagValues = query.all("tags[]");
    std::set<std::string> tags(tagValues.begin(), tagValues.end());
    std::map<std::string, std::string> metadata;
    for (auto& [key, value] : query.bracketed("metadata")) {
        metadata[key] = value;
    }
    auto changes = store_.changesSince(*since, tags, metadata);
    return Response::json(200, {{"created", idList(changes.created)},
                                {"updated", idList(changes.updated)},
                                {"deleted", idList(changes.deleted)}});
}

Response VideosResource::get(const std::string& id) const {
    auto video = store_.get(id);
    if (!video) {
        return Response::error(404, "no video " + id);
    }
    return videoReply(200, *video);
}

Response VideosResource::update(const Request& request, const std::string& id) const {
    auto body = json::parse(request.body, nullptr, false);
    if (body.is_discarded() || !body.is_object()) {
        return Response::error(400, "the body must be a JSON object");
    }
    VideoChanges changes;
    if (auto error = readChanges(body, changes)) {
        return Response::error(400, *error);
    }
    // A video with a rendition in place can be played.
    if (!changes.addedResolutions.empty() && !changes.state) {
        changes.state = "processed";
    }
    auto video = store_.update(id, changes);
    if (!video) {
        return Response::error(404, "no video " + id);
    }
    if (changes.addedResolutions.empty()) {
        emit({{"event", "modified"}, {"id", video->id}});
    } else {
        emitReady(*video);
    }
    return videoReply(200, *video);
}

Response VideosResource::remove(const std::string& id) const {
    if (!store_.remove(id)) {
        return Response::error(404, "no video " + id);
    }
    emit({{"event", "deleted"}, {"id", id}});
    return Response::empty(204);
}

Response VideosResource::signedURL(const Request& request, const std::string& id) const {
    auto imported = QueryString(request.rawQuery()).get("isImported").value_or("false");
    if (imported != "true" && imported != "false") {
        return Response::error(400, "\"isImported\" must be true or false");
    }
    if (!store_.get(id)) {
        return Response::error(404, "no video " + id);
    }
    auto uploads = baseURL_() + "/uploads/" + id + "/";
    auto entry = [&](const std::string& filename) {
        return json{{"filename", filename},
                    {"sessionUrl", uploads + filename},
                    {"prefixUrl", uploads + filename + "/prefix"}};
    };
    json description = entry(imported == "true" ? "imported.mp4" : "source.mp4");
    description["converted_video_urls"] = json::array();
    for (const char* resolution : VideoRecord::resolutionNames) {
        description["converted_video_urls"].push_back(entry(std::string(resolution) + ".mp4"));
    }
    return Response::json(200, description);
}

Response VideosResource::convert(const Request& request, const std::string& id) const {
    auto body = json::parse(request.body, nullptr, false);
    if (body.is_discarded() || !body.is_object()) {
        return Response::error(400, "the body must be a JSON object");
    }
    if (body.contains("filename") && !body["filename"].is_string()) {
        return Response::error(400, "\"filename\" must be a string");
    }
    VideoChanges changes;
    changes.state = "processed";
    for (const char* resolution : VideoRecord::resolutionNames) {
        changes.addedResolutions.emplace_back(resolution);
    }
    auto video = store_.update(id, changes);
    if (!video) {
        return Response::error(404, "no video " + id);
    }
    emitReady(*video);
    return Response::json(
        200,
        {{"id", video->id}, {"filename", body.value("filename", "")}, {"state", video->state}});
}

Response VideosResource::videoReply(unsigned status, const VideoRecord& video) const {
    return Response::json(status, video.toBackendJSON(baseURL_()));
}

std::optional<MediaFile> VideosResource::media(const std::string& path) const {
    if (path.compare(0, mediaPrefix.size(), mediaPrefix) != 0) {
        return std::nullopt;
    }
    auto rest = path.substr(mediaPrefix.size());
    auto slash = rest.find('/');
    if (slash == std::string::npos) {
        return std::nullopt;
    }
    auto id = rest.substr(0, slash);
    auto file = rest.substr(slash + 1);
    auto video = store_.get(id);
    if (!video) {
        return std::nullopt;
    }
    if (file == thumbnailFile) {
        return MediaFile::ofBytes(GeneratedMedia::thumbnail(id), "image/png");
    }
    if (file.size() <= mp4Extension.size() ||
        file.compare(file.size() - mp4Extension.size(), mp4Extension.size(), mp4Extension) != 0) {
        return std::nullopt;
    }
    auto resolution = file.substr(0, file.size() - mp4Extension.size());
    const auto& inPlace = video->resolutions;
    if (std::find(inPlace.begin(), inPlace.end(), resolution) == inPlace.end()) {
        return std::nullopt;
    }
    UploadedMedia uploaded;
    {
        std::lock_guard lock(sinkMutex_);
        uploaded = uploadedMedia_;
    }
    if (uploaded) {
        if (auto bytes = uploaded(id, resolution)) {
            return MediaFile::ofBytes(std::move(*bytes));
        }
    }
    {
        std::lock_guard lock(renditionsMutex_);
        if (auto real = renditions_.find(resolution); real != renditions_.end()) {
            return MediaFile{BodySource::ofBytes(real->second), "video/mp4"};
        }
    }
    return MediaFile::ofBytes(GeneratedMedia::videoBytes(id, resolution));
}

void VideosResource::setRenditions(std::map<std::string, std::string> moviesByResolution) {
    std::lock_guard lock(renditionsMutex_);
    for (auto& [resolution, movie] : moviesByResolution) {
        renditions_[resolution] = std::make_shared<const std::string>(std::move(movie));
    }
}

std::optional<std::string> VideosResource::readListQuery(const QueryString& query,
                                                         VideoQuery& criteria) {
    if (auto text = query.get("tags"); text && !text->empty()) {
        auto tags = decodeBase64JSON(*text);
        if (!tags || !isStringArray(*tags)) {
            return "\"tags\" must be Base64 of a JSON array of strings";
        }
        for (const auto& tag : *tags) {
            criteria.tags.insert(tag.get<std::string>());
        }
    }
    if (auto text = query.get("metadata"); text && !text->empty()) {
        auto metadata = decodeBase64JSON(*text);
        if (!metadata || !isStringObject(*metadata)) {
            return "\"metadata\" must be Base64 of a JSON object of strings";
        }
        criteria.metadata = metadata->get<std::map<std::string, std::string>>();
    }
    if (auto text = query.get("ids")) {
        auto ids = decodeBase64JSON(*text);
        if (!ids || !isStringArray(*ids)) {
            return "\"ids\" must be Base64 of a JSON array of strings";
        }
        criteria.ids = ids->get<std::set<std::string>>();
    }
    criteria.title = query.get("title").value_or("");
    criteria.identity = query.get("identity").value_or("");
    if (auto text = query.get("offset")) {
        auto offset = parseInteger(*text);
        if (!offset || *offset < 0) {
            return "\"offset\" must be a whole number of at least 0";
        }
        criteria.offset = *offset;
    }
    if (auto text = query.get("limit")) {
        auto limit = parseInteger(*text);
        if (!limit || *limit < 0) {
            return "\"limit\" must be a whole number of at least 0";
        }
        criteria.limit = *limit;
    }
    auto order = query.get("sortOrder").value_or("asc");
    if (order != "asc" && order != "desc") {
        return "\"sortOrder\" must be asc or desc";
    }
    criteria.descending = order == "desc";
    return std::nullopt;
}

std::optional<std::string> VideosResource::readChanges(const json& body, VideoChanges& changes) {
    auto has = [&](const char* key) {
        return body.contains(key) && !body[key].is_null();
    };
    if (has("title")) {
        if (!body["title"].is_string()) {
            return "\"title\" must be a string";
        }
        changes.title = body["title"].get<std::string>();
    }
    if (has("tags")) {
        if (!isStringArray(body["tags"])) {
            return "\"tags\" must be an array of strings";
        }
        changes.tags = body["tags"].get<std::vector<std::string>>();
    }
    if (has("metadata")) {
        if (!isStringObject(body["metadata"])) {
            return "\"metadata\" must be an object of strings";
        }
        changes.metadata = body["metadata"].get<std::map<std::string, std::string>>();
    }
    for (auto [key, field] :
         {std::pair{"lat", &changes.latitude}, std::pair{"lng", &changes.longitude}}) {
        if (has(key)) {
            if (!body[key].is_number()) {
                return std::string("\"") + key + "\" must be a number";
            }
            *field = body[key].get<double>();
        }
    }
    for (auto [key, field] :
         {std::pair{"width", &changes.width}, std::pair{"height", &changes.height}}) {
        if (has(key)) {
            if (!body[key].is_number_integer()) {
                return std::string("\"") + key + "\" must be a whole number";
            }
            *field = body[key].get<std::int64_t>();
        }
    }
    if (has("shotOn")) {
        auto date = body["shotOn"].is_string()
                        ? BackendDate::parse(body["shotOn"].get<std::string>())
                        : std::nullopt;
        if (!date) {
            return "\"shotOn\" must be a date such as 2024-03-01T09:00:00.000Z";
        }
        changes.shotOn = *date;
    }
    if (has("transcription")) {
        if (!body["transcription"].is_string()) {
            return "\"transcription\" must be a string";
        }
        changes.transcription = body["transcription"].get<std::string>();
    }
    if (has("state")) {
        if (!body["state"].is_string() ||
            !VideoRecord::isStateName(body["state"].get<std::string>())) {
            return "\"state\" must be unknown, processing, processed or failed";
        }
        changes.state = body["state"].get<std::string>();
    }
    if (has("mp4")) {
        if (!isStringArray(body["mp4"])) {
            return "\"mp4\" must be an array of rendition names";
        }
        for (const auto& name : body["mp4"]) {
            if (!VideoRecord::isResolutionName(name.get<std::string>())) {
                return "\"mp4\" names an unknown rendition";
            }
            changes.addedResolutions.push_back(name.get<std::string>());
        }
    }
    return std::nullopt;
}

void VideosResource::setEventSink(EventSink sink) {
    std::lock_guard lock(sinkMutex_);
    sink_ = std::move(sink);
}

void VideosResource::setUploadedMedia(UploadedMedia media) {
    std::lock_guard lock(sinkMutex_);
    uploadedMedia_ = std::move(media);
}

void VideosResource::renditionUploaded(const std::string& id, const std::string& resolution) const {
    VideoChanges changes;
    changes.addedResolutions.push_back(resolution);
    if (auto video = store_.update(id, changes)) {
        emitReady(*video);
    }
}

void VideosResource::emit(const json& event) const {
    EventSink sink;
    {
        std::lock_guard lock(sinkMutex_);
        sink = sink_;
    }
    if (sink)
        sink(event);
}

void VideosResource::emitReady(const VideoRecord& video) const {
    // The event names one playable address: the highest rendition in place.
    const json backend = video.toBackendJSON(baseURL_());
    std::string address;
    if (backend.contains("mp4Url") && backend["mp4Url"].is_object()) {
        for (const char* resolution : VideoRecord::resolutionNames) {
            if (backend["mp4Url"].contains(resolution)) {
                address = backend["mp4Url"][resolution].get<std::string>();
                break;
            }
        }
    }
    emit({{"event", "ready"}, {"id", video.id}, {"data", {{"mp4Url", address}}}});
}

}  // namespace pindle::emulator
