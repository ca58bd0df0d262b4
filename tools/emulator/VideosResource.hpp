#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "tools/emulator/MediaFile.hpp"
#include "tools/emulator/QueryString.hpp"
#include "tools/emulator/Request.hpp"
#include "tools/emulator/Response.hpp"
#include "tools/emulator/Router.hpp"
#include "tools/emulator/SessionRegistry.hpp"
#include "tools/emulator/VideoChanges.hpp"
#include "tools/emulator/VideoQuery.hpp"
#include "tools/emulator/VideoStore.hpp"

namespace pindle::emulator {

// The backend's "videos" resource below the API root:
//   GET    videos                    list and count; query "tags", "metadata" and "ids" as
//                                    Base64 of JSON, "title", "identity", "offset", "limit",
//                                    "sortOrder" ("asc" or "desc"); header "video-total-count"
//   POST   videos                    create (JSON body; 201 with the video)
//   GET    videos/sync               changes since "date": "tags[]" and "metadata[key]"
//                                    query pairs; {"created","updated","deleted"} of {"id"}
//   GET    videos/{id}               one video
//   PUT    videos/{id}               update: "title", "tags", "metadata", "mp4" (renditions
//                                    now in place), "lat", "lng", "shotOn", ...
//   DELETE videos/{id}               204 without a body
//   GET    videos/{id}/signedUrl     upload description for "isImported"
//   POST   videos/{id}/convert       makes every rendition available
// Every call needs "Authorization: Bearer" with an API token or a live session token
// (401 otherwise). Failures are JSON {"error": ...} with 400, 404 or 409. It also serves the
// renditions and thumbnails of its videos, under "/media/{id}/", to the media library.
// Thread-safety: safe from any thread; handlers run on the server's I/O threads.
class VideosResource {
  public:
    using BaseURL = std::function<std::string()>;

    VideosResource(VideoStore& store, SessionRegistry& sessions, BaseURL baseURL);
    VideosResource(const VideosResource&) = delete;
    VideosResource& operator=(const VideosResource&) = delete;

    // REQUIRES: apiRoot starts with "/" and has no trailing slash, such as "/v1".
    void addRoutes(Router& router, const std::string& apiRoot);

    // The rendition or thumbnail under a decoded "/media/{id}/{file}" path.
    std::optional<MediaFile> media(const std::string& path) const;

    // Real movies to serve as every video's rendition of a resolution ("720p", "540p",
    // "360p"), in place of the generated stand-in bytes. Resolutions left out keep those.
    void setRenditions(std::map<std::string, std::string> moviesByResolution);

    // Receives the live events of changes made through this resource, as the notification
    // channel sends them: {"event": "ready", "id", "data": {"mp4Url"}} when renditions come into
    // place (an update naming "mp4", or a conversion), "modified" for other updates, "deleted".
    using EventSink = std::function<void(const nlohmann::json& event)>;
    void setEventSink(EventSink sink);

    // Media a client has uploaded to storage, served in place of the generated renditions: the
    // bytes of one rendition ("720p", ...) of a video, or nothing.
    using UploadedMedia = std::function<std::optional<std::string>(const std::string& id,
                                                                   const std::string& resolution)>;
    void setUploadedMedia(UploadedMedia media);
    // The storage received the whole of a video's rendition: the video gains it (a file sent for
    // the backend to convert counts as its 720p rendition), as a conversion would give it.
    void renditionUploaded(const std::string& id, const std::string& resolution) const;

  private:
    mutable std::mutex renditionsMutex_;
    // guarded by renditionsMutex_
    std::map<std::string, std::shared_ptr<const std::string>> renditions_;

    using Caller = SessionRegistry::Caller;
    using Handler = std::function<Response(const Request&, const Router::Params&, const Caller&)>;

    Router::Handler authorized(Handler handler) const;

    Response list(const Request& request) const;
    Response create(const Request& request, const Caller& caller) const;
    Response sync(const Request& request) const;
    Response get(const std::string& id) const;
    Response update(const Request& request, const std::string& id) const;
    Response remove(const std::string& id) const;
    Response signedURL(const Request& request, const std::string& id) const;
    Response convert(const Request& request, const std::string& id) const;

    Response videoReply(unsigned status, const VideoRecord& video) const;
    // Reads the list criteria; the error text when a parameter is malformed.
    static std::optional<std::string> readListQuery(const QueryString& query, VideoQuery& criteria);
    // Reads the fields of a create or update body; the error text when one is malformed.
    static std::optional<std::string> readChanges(const nlohmann::json& body,
                                                  VideoChanges& changes);

    VideoStore& store_;
    SessionRegistry& sessions_;
    BaseURL baseURL_;
    void emit(const nlohmann::json& event) const;
    void emitReady(const VideoRecord& video) const;
    mutable std::mutex sinkMutex_;
    EventSink sink_;               // guarded by sinkMutex_
    UploadedMedia uploadedMedia_;  // guarded by sinkMutex_
};

}  // namespace pindle::emulator
