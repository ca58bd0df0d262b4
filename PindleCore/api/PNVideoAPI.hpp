// PNVideoAPI: the client of the backend's videos resource.
//
// Reads: one video, counts and lists (by filter, tags and metadata, identity, identifiers),
// delete, and the changes since a date. Writes, for the library's own callers only (each takes
// `fromObject` and acts only for the internal-caller token): create, update, upload URLs,
// conversion.
//
// Every operation sends one request with the single header "Authorization", returns its
// cancellable, and completes exactly once on the requester's delegate queue. Operations that
// receive records call their completion first and then store the records in the video cache,
// on the same thread. A read whose accepted reply yields no record or list completes with
// PNError unknown (the count with 0); a write so answered completes with neither record nor
// error, since the backend did take the change. A call that cannot be made sends nothing and
// completes asynchronously with an error: an identifier that is empty, "." or "..", or holds "/",
// "?", "#", "%" or a character a URL cannot hold; a caller that is not the token (PNError unknown);
// a session without the token its mode needs (PNError sessionNotStarted).
//
// Thread-safety: stateless; any thread; calls run concurrently.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "PindleCore/model/PNCancellable.hpp"
#include "PindleCore/model/PNVideo.hpp"
#include "PindleCore/model/PNVideoFilter.hpp"
#include "PindleCore/model/PNVideosResponse.hpp"
#include "platform/foundation/Date.hpp"
#include "platform/foundation/Error.hpp"
#include "platform/foundation/Value.hpp"
#include "platform/location/Location.hpp"

namespace pindle {

class PNVideoAPI : public platform::Object {
  public:
    using VideoCompletion = std::function<void(const std::shared_ptr<PNVideo>& video,
                                               const std::optional<platform::Error>& error)>;
    using VideosCompletion = std::function<void(const std::shared_ptr<PNVideosResponse>& response,
                                                const std::optional<platform::Error>& error)>;
    using CountCompletion =
        std::function<void(std::int64_t count, const std::optional<platform::Error>& error)>;
    using ResultCompletion = std::function<void(const platform::Value& result,
                                                const std::optional<platform::Error>& error)>;
    using Caller = std::shared_ptr<platform::Object>;

    static PNVideoAPI& shared();

    // --- Reading ---
    PNCancellablePtr video(const std::string& videoID, VideoCompletion completion);
    // The backend's total for the query (0 on failure); asks for at most 100 records and
    // caches those that come back.
    PNCancellablePtr videosCountByTags(const platform::StringSet& tags,
                                       const platform::StringDictionary& metadata,
                                       CountCompletion completion);
    PNCancellablePtr videosByFilter(const PNVideoFilter& filter, const std::string& sortOrder,
                                    VideosCompletion completion);
    // Pages count from 1; a page of 0 or less asks for the first.
    PNCancellablePtr videosByTags(const platform::StringSet& tags,
                                  const platform::StringDictionary& metadata, std::int64_t page,
                                  std::int64_t perPage, const std::string& sortOrder,
                                  VideosCompletion completion);
    PNCancellablePtr videosByIdentity(const std::string& identity, std::int64_t page,
                                      std::int64_t perPage, const std::string& sortOrder,
                                      VideosCompletion completion);
    PNCancellablePtr videosByIds(const std::vector<std::string>& ids, VideosCompletion completion);
    PNCancellablePtr deleteBy(const std::string& videoID, ResultCompletion completion);
    // The backend's "created", "updated" and "deleted" since `date`, unparsed.
    PNCancellablePtr syncVideos(platform::Date date, const platform::StringSet& tags,
                                const platform::StringDictionary& metadata,
                                ResultCompletion completion);

    // --- Writing (internal-caller token only) ---
    PNCancellablePtr updateVideo(const std::string& videoID,
                                 const std::vector<std::string>& mp4Resolutions,
                                 const Caller& fromObject, VideoCompletion completion);
    PNCancellablePtr updateVideo(const std::string& videoID, const platform::Dictionary& parameters,
                                 const Caller& fromObject, VideoCompletion completion);
    PNCancellablePtr createVideo(const std::string& videoID, const std::string& title,
                                 platform::Date date, const platform::Location& location,
                                 std::int64_t height, std::int64_t width,
                                 const platform::StringSet& tags,
                                 const platform::StringDictionary& metadata,
                                 const Caller& fromObject, VideoCompletion completion);
    PNCancellablePtr createVideo(const std::string& title, platform::Date date,
                                 const platform::Location& location, std::int64_t height,
                                 std::int64_t width, const platform::StringSet& tags,
                                 const platform::StringDictionary& metadata,
                                 const Caller& fromObject, VideoCompletion completion);
    PNCancellablePtr startConvertingVideo(const std::string& videoID, const std::string& mediaPath,
                                          const Caller& fromObject, ResultCompletion completion);
    PNCancellablePtr uploadingURLs(const std::string& videoID, bool isImported,
                                   const Caller& fromObject, ResultCompletion completion);

    // JSON of a set (as an array), an array or a dictionary, in Base64; "" when it cannot be
    // serialised.
    static std::string encodeParameter(const platform::Value& value);
    // Whether an identifier can stand in a resource path as it is.
    static bool isUsableIdentifier(const std::string& videoID);

  private:
    PNVideoAPI() = default;

    // Sends one request; `handler` gets the requester's result and error.
    PNCancellablePtr send(const char* pathTemplate, const std::optional<std::string>& videoID,
                          const char* method, const platform::Dictionary& parameters, bool mapsList,
                          bool mapsVideo, ResultCompletion handler);
    PNCancellablePtr list(const platform::Dictionary& parameters, VideosCompletion completion);
    PNCancellablePtr refuseList(VideosCompletion completion, platform::Error error);
    PNCancellablePtr writeVideo(const char* pathTemplate, const std::optional<std::string>& videoID,
                                const char* method, const platform::Dictionary& parameters,
                                const Caller& fromObject, VideoCompletion completion);
    static std::optional<std::int64_t> offset(std::int64_t page, std::int64_t perPage);
};

}  // namespace pindle
