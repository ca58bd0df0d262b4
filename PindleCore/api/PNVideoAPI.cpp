#include "PindleCore/api/PNVideoAPI.hpp"

#include "PindleCore/api/PNAPIConstants.hpp"
#include "PindleCore/api/PNAuthToken.hpp"
#include "PindleCore/api/PNPathMaker.hpp"
#include "PindleCore/api/PNRequester.hpp"
#include "PindleCore/caches/PNVideoCache.hpp"
#include "PindleCore/caches/private/PNVideoCacheSource.hpp"
#include "PindleCore/model/PNBackendDate.hpp"
#include "PindleCore/model/PNError.hpp"
#include "PindleCore/model/PNJSONParser.hpp"
#include "PindleCore/model/PNSafePath.hpp"
#include "PindleCore/model/PNTokenObject.hpp"
#include "PindleCore/model/PNVideoListReader.hpp"
#include "platform/foundation/Base64.hpp"
#include "platform/foundation/Json.hpp"

namespace pindle {

namespace {

constexpr std::int64_t countRequestLimit = 100;

std::string commonVideosAPIPath() {
    return PNAPIConstants::apiProtocol() + "://" + PNAPIConstants::apiRoot() + "/" +
           PNAPIConstants::videosAPIPath;
}

// A list is mapped while its body arrives, so that a long one is never held whole, neither as
// text nor as a value.
PNRequester::BodyReader listReader(const platform::Dictionary* headers) {
    auto reader = std::make_shared<PNVideoListReader>(PNJSONParser::shared(), headers);
    return {[reader](const platform::Data& chunk) { reader->append(chunk); },
            [reader]() -> std::optional<platform::Value> {
                std::optional<std::shared_ptr<PNVideosResponse>> response = reader->finish();
                if (!response)
                    return std::nullopt;
                return platform::Value(std::move(*response));
            }};
}

platform::Value videoMapper(const platform::Value& json, const platform::Dictionary* headers) {
    return platform::Value(PNJSONParser::shared().parseSingleVideoResponse(json, headers));
}

platform::Error invalidIdentifier(const std::string& videoID) {
    return platform::makeURLError(platform::URLError::badURL,
                                  "The video identifier \"" + videoID + "\" cannot stand in a URL");
}

// What a read reports when the backend accepted the call but its reply yields no record or
// list (a body that is not JSON, or JSON of another shape): without it the caller would get
// neither a result nor an error.
platform::Error unusableReply(const std::optional<platform::Error>& error) {
    return error ? *error : PNError(PNError::unknown).toPlatformError();
}

platform::Array tagArray(const platform::StringSet& tags) {
    return platform::Array(tags.begin(), tags.end());
}

// The body of a create call: the video's fields as the backend reads them.
platform::Dictionary creationParameters(const std::string& title, platform::Date date,
                                        const platform::Location& location, std::int64_t height,
                                        std::int64_t width, const platform::StringSet& tags,
                                        const platform::StringDictionary& metadata) {
    return {
        {"title", title},
        {"shotOn", toString(date)},
        {"lat", location.coordinate().latitude},
        {"lng", location.coordinate().longitude},
        {"width", width},
        {"height", height},
        {"tags", tagArray(tags)},
        {"metadata", platform::Value(metadata)},
    };
}

// The video cache fetches what it does not hold through this, since it may not include the API
// client; installed as the library loads, before any lookup can miss.
class BackendVideoSource final : public PNVideoCacheSource {
  public:
    PNCancellablePtr video(const std::string& videoID, VideoCompletion completion) const override {
        return PNVideoAPI::shared().video(videoID, std::move(completion));
    }
    PNCancellablePtr videosByIds(const std::vector<std::string>& ids,
                                 VideosCompletion completion) const override {
        return PNVideoAPI::shared().videosByIds(ids, std::move(completion));
    }
};

[[maybe_unused]] const bool videoCacheSourceInstalled = [] {
    PNVideoCacheSource::install(std::make_shared<BackendVideoSource>());
    return true;
}();

}  // namespace

PNVideoAPI& PNVideoAPI::shared() {
    static PNVideoAPI* api = new PNVideoAPI;  // never destroyed
    return *api;
}

bool PNVideoAPI::isUsableIdentifier(const std::string& videoID) {
    return PNSafePath::isSafeIdentifier(videoID);
}

std::string PNVideoAPI::encodeParameter(const platform::Value& value) {
    platform::Value encodable = value;
    if (const platform::StringSet* set = value.asStringSet())
        encodable = tagArray(*set);
    std::optional<platform::Data> json = platform::Json::serializeToData(encodable);
    return json ? platform::Base64::encode(*json) : std::string();
}

std::optional<std::int64_t> PNVideoAPI::offset(std::int64_t page, std::int64_t perPage) {
    if (page < 1)
        return 0;
    std::int64_t result = 0;
    if (__builtin_mul_overflow(page - 1, perPage, &result))
        return std::nullopt;
    return result;
}

// --- The common road ------------------------------------------------------------------------

PNCancellablePtr PNVideoAPI::send(const char* pathTemplate,
                                  const std::optional<std::string>& videoID, const char* method,
                                  const platform::Dictionary& parameters, bool mapsList,
                                  bool mapsVideo, ResultCompletion handler) {
    PNRequester& requester = PNRequester::instance();
    std::string path = pathTemplate;
    if (videoID) {
        if (!isUsableIdentifier(*videoID)) {
            return requester.refuse(std::move(handler), invalidIdentifier(*videoID));
        }
        std::optional<std::string> filled =
            PNPathMaker::shared().makePath(pathTemplate, {{"videoID", *videoID}});
        if (!filled)
            return requester.refuse(std::move(handler), invalidIdentifier(*videoID));
        path = *filled;
    }
    std::optional<std::string> authorization = PNAuthToken::authHeader();
    if (!authorization) {
        return requester.refuse(std::move(handler), PNError(PNError::sessionNotStarted));
    }
    const std::string text = commonVideosAPIPath() + path;
    std::optional<platform::URL> url = platform::URL::fromString(text);
    if (!url) {
        return requester.refuse(std::move(handler),
                                platform::makeURLError(platform::URLError::badURL, text));
    }
    if (mapsList && !mapsVideo) {
        return requester.jsonRequestReadingBody(*url, method, parameters,
                                                {{"Authorization", *authorization}}, listReader,
                                                std::move(handler));
    }
    PNRequester::Mapper mapper;
    if (mapsVideo)
        mapper = videoMapper;
    return requester.jsonRequest(*url, method, parameters, {{"Authorization", *authorization}},
                                 std::move(mapper), std::move(handler));
}

PNCancellablePtr PNVideoAPI::refuseList(VideosCompletion completion, platform::Error error) {
    return PNRequester::instance().refuse(
        [completion = std::move(completion)](const platform::Value&,
                                             const std::optional<platform::Error>& refusal) {
            completion(nullptr, refusal);
        },
        std::move(error));
}

PNCancellablePtr PNVideoAPI::list(const platform::Dictionary& parameters,
                                  VideosCompletion completion) {
    return send(PNAPIConstants::videosFetchAPIPath, std::nullopt,
                PNAPIConstants::videosFetchAPIMethod, parameters, true, false,
                [completion = std::move(completion)](const platform::Value& result,
                                                     const std::optional<platform::Error>& error) {
                    auto response = result.asObjectOf<PNVideosResponse>();
                    if (!response)
                        return completion(nullptr, unusableReply(error));
                    completion(response, std::nullopt);
                    PNVideoCache::shared().putVideosToCache(response->videos());
                });
}

// --- Reading --------------------------------------------------------------------------------

PNCancellablePtr PNVideoAPI::video(const std::string& videoID, VideoCompletion completion) {
    return send(PNAPIConstants::videoByIDAPIPath, videoID, PNAPIConstants::videoByIDAPIMethod, {},
                false, true,
                [completion = std::move(completion)](const platform::Value& result,
                                                     const std::optional<platform::Error>& error) {
                    auto response = result.asObjectOf<PNVideoResponse>();
                    if (!response)
                        return completion(nullptr, unusableReply(error));
                    completion(response->video(), std::nullopt);
                    PNVideoCache::shared().putVideoToCache(response->video());
                });
}

PNCancellablePtr PNVideoAPI::videosCountByTags(const platform::StringSet& tags,
                                               const platform::StringDictionary& metadata,
                                               CountCompletion completion) {
    platform::Dictionary parameters{{"offset", 0},
                                    {"limit", countRequestLimit},
                                    {"tags", encodeParameter(tags)},
                                    {"metadata", encodeParameter(platform::Value(metadata))}};
    return send(PNAPIConstants::videosFetchAPIPath, std::nullopt,
                PNAPIConstants::videosFetchAPIMethod, parameters, true, false,
                [completion = std::move(completion)](const platform::Value& result,
                                                     const std::optional<platform::Error>& error) {
                    auto response = result.asObjectOf<PNVideosResponse>();
                    if (!response)
                        return completion(0, unusableReply(error));
                    completion(response->totalCount(), std::nullopt);
                    PNVideoCache::shared().putVideosToCache(response->videos());
                });
}

PNCancellablePtr PNVideoAPI::videosByFilter(const PNVideoFilter& filter,
                                            const std::string& sortOrder,
                                            VideosCompletion completion) {
    std::optional<std::int64_t> start = offset(filter.page, filter.limit);
    if (!start)
        return refuseList(std::move(completion), PNError(PNError::valuesTooLarge));
    return list({{"limit", filter.limit},
                 {"offset", *start},
                 {"title", filter.title},
                 {"identity", filter.identity},
                 {"tags", encodeParameter(filter.tags)},
                 {"metadata", encodeParameter(platform::Value(filter.metadata))},
                 {"sortOrder", sortOrder}},
                std::move(completion));
}

PNCancellablePtr PNVideoAPI::videosByTags(const platform::StringSet& tags,
                                          const platform::StringDictionary& metadata,
                                          std::int64_t page, std::int64_t perPage,
                                          const std::string& sortOrder,
                                          VideosCompletion completion) {
    std::optional<std::int64_t> start = offset(page, perPage);
    if (!start)
        return refuseList(std::move(completion), PNError(PNError::valuesTooLarge));
    return list({{"limit", perPage},
                 {"offset", *start},
                 {"tags", encodeParameter(tags)},
                 {"metadata", encodeParameter(platform::Value(metadata))},
                 {"sortOrder", sortOrder}},
                std::move(completion));
}

PNCancellablePtr PNVideoAPI::videosByIdentity(const std::string& identity, std::int64_t page,
                                              std::int64_t perPage, const std::string& sortOrder,
                                              VideosCompletion completion) {
    std::optional<std::int64_t> start = offset(page, perPage);
    if (!start)
        return refuseList(std::move(completion), PNError(PNError::valuesTooLarge));
    return list(
        {{"limit", perPage}, {"offset", *start}, {"identity", identity}, {"sortOrder", sortOrder}},
        std::move(completion));
}

PNCancellablePtr PNVideoAPI::videosByIds(const std::vector<std::string>& ids,
                                         VideosCompletion completion) {
    return list({{"ids", encodeParameter(platform::Array(ids.begin(), ids.end()))}},
                std::move(completion));
}

PNCancellablePtr PNVideoAPI::deleteBy(const std::string& videoID, ResultCompletion completion) {
    return send(PNAPIConstants::videoRemoveByIDAPIPath, videoID,
                PNAPIConstants::videoRemoveByIDAPIMethod, {}, false, false, std::move(completion));
}

PNCancellablePtr PNVideoAPI::syncVideos(platform::Date date, const platform::StringSet& tags,
                                        const platform::StringDictionary& metadata,
                                        ResultCompletion completion) {
    return send(PNAPIConstants::videoSyncAPIPath, std::nullopt, PNAPIConstants::videoSyncAPIMethod,
                {{"date", toString(date)},
                 {"tags", tagArray(tags)},
                 {"metadata", platform::Value(metadata)}},
                false, false, std::move(completion));
}

// --- Writing --------------------------------------------------------------------------------

PNCancellablePtr PNVideoAPI::writeVideo(const char* pathTemplate,
                                        const std::optional<std::string>& videoID,
                                        const char* method, const platform::Dictionary& parameters,
                                        const Caller& fromObject, VideoCompletion completion) {
    ResultCompletion handler = [completion = std::move(completion)](
                                   const platform::Value& result,
                                   const std::optional<platform::Error>& error) {
        auto response = result.asObjectOf<PNVideoResponse>();
        if (!response)
            return completion(nullptr, error);
        completion(response->video(), std::nullopt);
        PNVideoCache::shared().putVideoToCache(response->video());
    };
    if (!PNTokenObject::itsMe(fromObject)) {
        return PNRequester::instance().refuse(std::move(handler), PNError(PNError::unknown));
    }
    return send(pathTemplate, videoID, method, parameters, false, true, std::move(handler));
}

PNCancellablePtr PNVideoAPI::updateVideo(const std::string& videoID,
                                         const std::vector<std::string>& mp4Resolutions,
                                         const Caller& fromObject, VideoCompletion completion) {
    return writeVideo(PNAPIConstants::videoUpdateByIDAPIPath, videoID,
                      PNAPIConstants::videoUpdateByIDAPIMethod,
                      {{"mp4", platform::Array(mp4Resolutions.begin(), mp4Resolutions.end())}},
                      fromObject, std::move(completion));
}

PNCancellablePtr PNVideoAPI::updateVideo(const std::string& videoID,
                                         const platform::Dictionary& parameters,
                                         const Caller& fromObject, VideoCompletion completion) {
    return writeVideo(PNAPIConstants::videoUpdateByIDAPIPath, videoID,
                      PNAPIConstants::videoUpdateByIDAPIMethod, parameters, fromObject,
                      std::move(completion));
}

PNCancellablePtr PNVideoAPI::createVideo(const std::string& videoID, const std::string& title,
                                         platform::Date date, const platform::Location& location,
                                         std::int64_t height, std::int64_t width,
                                         const platform::StringSet& tags,
                                         const platform::StringDictionary& metadata,
                                         const Caller& fromObject, VideoCompletion completion) {
    platform::Dictionary parameters =
        creationParameters(title, date, location, height, width, tags, metadata);
    parameters["id"] = videoID;
    return writeVideo(PNAPIConstants::videoCreateAPIPath, std::nullopt,
                      PNAPIConstants::videoCreateAPIMethod, parameters, fromObject,
                      std::move(completion));
}

PNCancellablePtr PNVideoAPI::createVideo(const std::string& title, platform::Date date,
                                         const platform::Location& location, std::int64_t height,
                                         std::int64_t width, const platform::StringSet& tags,
                                         const platform::StringDictionary& metadata,
                                         const Caller& fromObject, VideoCompletion completion) {
    return writeVideo(PNAPIConstants::videoCreateAPIPath, std::nullopt,
                      PNAPIConstants::videoCreateAPIMethod,
                      creationParameters(title, date, location, height, width, tags, metadata),
                      fromObject, std::move(completion));
}

PNCancellablePtr PNVideoAPI::startConvertingVideo(const std::string& videoID,
                                                  const std::string& mediaPath,
                                                  const Caller& fromObject,
                                                  ResultCompletion completion) {
    if (!PNTokenObject::itsMe(fromObject)) {
        return PNRequester::instance().refuse(std::move(completion), PNError(PNError::unknown));
    }
    return send(PNAPIConstants::videoConvertAPIPath, videoID, PNAPIConstants::videoConvertAPIMethod,
                {{"filename", mediaPath}, {"prefix", "true"}}, false, false, std::move(completion));
}

PNCancellablePtr PNVideoAPI::uploadingURLs(const std::string& videoID, bool isImported,
                                           const Caller& fromObject, ResultCompletion completion) {
    if (!PNTokenObject::itsMe(fromObject)) {
        return PNRequester::instance().refuse(std::move(completion), PNError(PNError::unknown));
    }
    return send(
        PNAPIConstants::videoSignedUrlsAPIPath, videoID, PNAPIConstants::videoSignedUrlsAPIMethod,
        {{"isImported", isImported ? "true" : "false"}}, false, false, std::move(completion));
}

}  // namespace pindle
