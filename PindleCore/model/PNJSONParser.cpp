#include "PindleCore/model/PNJSONParser.hpp"

#include <strings.h>

#include "PindleCore/model/PNBackendDate.hpp"
#include "platform/foundation/Text.hpp"

namespace pindle {

namespace {

constexpr const char* totalCountHeader = "video-total-count";

const platform::Value* member(const platform::Dictionary& object, const char* key) {
    auto it = object.find(key);
    return it == object.end() ? nullptr : &it->second;
}

std::optional<std::string> stringMember(const platform::Dictionary& object, const char* key) {
    const platform::Value* value = member(object, key);
    if (!value || !value->asString())
        return std::nullopt;
    return *value->asString();
}

double doubleMember(const platform::Dictionary& object, const char* key) {
    const platform::Value* value = member(object, key);
    return value ? value->asDouble().value_or(0) : 0;
}

std::int64_t wholeNumberMember(const platform::Dictionary& object, const char* key) {
    const platform::Value* value = member(object, key);
    return value ? value->asWholeNumber().value_or(0) : 0;
}

std::optional<platform::Date> dateMember(const platform::Dictionary& object, const char* key) {
    const platform::Value* value = member(object, key);
    const std::string* text = value ? value->asString() : nullptr;
    return text ? parseDate(*text) : std::nullopt;
}

std::optional<std::int64_t> totalCountFromHeaders(const platform::Dictionary* headers) {
    if (!headers)
        return std::nullopt;
    for (const auto& [name, value] : *headers) {
        if (strcasecmp(name.c_str(), totalCountHeader) != 0)
            continue;
        const std::string* text = value.asString();
        if (!text)
            return std::nullopt;
        return platform::Text::signedInt64Value(*text);
    }
    return std::nullopt;
}

}  // namespace

const PNJSONParser& PNJSONParser::shared() {
    static const PNJSONParser* parser = new PNJSONParser;
    return *parser;
}

std::shared_ptr<PNVideoResponse> PNJSONParser::parseSingleVideoResponse(
    const platform::Value& data, const platform::Dictionary*) const {
    const platform::Dictionary* object = data.asDictionary();
    if (!object)
        return nullptr;
    std::shared_ptr<PNVideo> video = parseVideo(*object);
    if (!video)
        return nullptr;
    return std::make_shared<PNVideoResponse>(std::move(video));
}

std::shared_ptr<PNVideosResponse> PNJSONParser::parseListResponce(
    const platform::Value& data, const platform::Dictionary* headers) const {
    const platform::Array* array = data.asArray();
    if (!array)
        return nullptr;
    std::vector<std::shared_ptr<PNVideo>> videos = parseVideos(*array);
    std::int64_t total =
        totalCountFromHeaders(headers).value_or(static_cast<std::int64_t>(videos.size()));
    return std::make_shared<PNVideosResponse>(std::move(videos), total);
}

std::vector<std::shared_ptr<PNVideo>> PNJSONParser::parseVideos(const platform::Array& data) const {
    std::vector<std::shared_ptr<PNVideo>> videos;
    videos.reserve(data.size());
    for (const platform::Value& element : data) {
        const platform::Dictionary* object = element.asDictionary();
        if (!object)
            continue;
        if (std::shared_ptr<PNVideo> video = parseVideo(*object))
            videos.push_back(std::move(video));
    }
    return videos;
}

std::optional<platform::URL> PNJSONParser::resURL(const platform::Dictionary& data,
                                                  const std::string& res) const {
    const platform::Value* urls = member(data, "mp4Url");
    if (!urls)
        return std::nullopt;
    const platform::Value* entry = urls->find(res);
    if (!entry || !entry->asString())
        return std::nullopt;
    return platform::URL::fromString(*entry->asString());
}

std::shared_ptr<PNVideo> PNJSONParser::parseVideo(const platform::Dictionary& data) const {
    std::optional<std::string> videoID = stringMember(data, "id");
    std::optional<platform::Date> createdAt = dateMember(data, "createdAt");
    std::optional<platform::Date> shotOn = dateMember(data, "shotOn");
    if (!videoID || !createdAt || !shotOn)
        return nullptr;

    PNVideo::Fields fields;
    fields.videoID = std::move(*videoID);
    fields.location = platform::Location(doubleMember(data, "lat"), doubleMember(data, "lng"));
    fields.title = stringMember(data, "title").value_or("");
    if (std::optional<std::string> state = stringMember(data, "state")) {
        fields.state = videoStateFromRawValue(*state).value_or(PNVideoState::unknown);
    }
    fields.transcription = stringMember(data, "transcription");
    fields.height = wholeNumberMember(data, "height");
    fields.width = wholeNumberMember(data, "width");
    if (const platform::Value* metadata = member(data, "metadata")) {
        fields.metadata = metadata->asStringDictionary().value_or(platform::StringDictionary{});
    }
    if (std::optional<std::string> thumb = stringMember(data, "thumbUrl")) {
        fields.thumbnailImageURL = platform::URL::fromString(*thumb);
    }
    if (const platform::Value* tags = member(data, "tags"); tags && tags->isArray()) {
        fields.tags = tags->asStringSetLoosely().value_or(platform::StringSet{});
    }
    fields.creationDate = createdAt;
    fields.modifyDate = createdAt;
    fields.shotOn = *shotOn;
    fields.mediaMP4URL720p = resURL(data, "720p");
    fields.mediaMP4URL540p = resURL(data, "540p");
    if (!fields.mediaMP4URL540p)
        fields.mediaMP4URL540p = resURL(data, "480p");
    fields.mediaMP4URL360p = resURL(data, "360p");
    return PNVideo::make(std::move(fields));
}

}  // namespace pindle
