#include "PindleCore/model/PNJSONParser.hpp"

#include <strings.h>

#include <algorithm>
#include <array>
#include <string_view>

#include "PindleCore/model/PNBackendDate.hpp"
#include "PindleCore/model/PNVideoListReader.hpp"
#include "platform/foundation/Json.hpp"
#include "platform/foundation/Text.hpp"

namespace pindle {

namespace {

constexpr const char* totalCountHeader = "video-total-count";

const platform::Value* member(const platform::Dictionary& object, const char* key) {
    auto it = object.find(key);
    return it == object.end() ? nullptr : &it->second;
}

}  // namespace

std::optional<std::int64_t> PNJSONParser::listTotal(const platform::Dictionary* headers) {
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
    std::int64_t total = listTotal(headers).value_or(static_cast<std::int64_t>(videos.size()));
    return std::make_shared<PNVideosResponse>(std::move(videos), total);
}

std::optional<std::shared_ptr<PNVideosResponse>> PNJSONParser::parseListBody(
    const platform::Data& body, const platform::Dictionary* headers) const {
    PNVideoListReader reader(*this, headers);
    reader.append(body);
    return reader.finish();
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

namespace {

// The members a video object is read from, in the dictionary's own (byte) order, so that one
// walk through the dictionary finds them all.
enum VideoKey {
    createdAtKey,
    heightKey,
    idKey,
    latKey,
    lngKey,
    metadataKey,
    mp4UrlKey,
    shotOnKey,
    stateKey,
    tagsKey,
    thumbUrlKey,
    titleKey,
    transcriptionKey,
    widthKey,
    videoKeyCount
};
constexpr std::array<std::string_view, videoKeyCount> videoKeyNames = {
    "createdAt", "height", "id",   "lat",      "lng",   "metadata",      "mp4Url",
    "shotOn",    "state",  "tags", "thumbUrl", "title", "transcription", "width"};
static_assert(std::is_sorted(videoKeyNames.begin(), videoKeyNames.end()));

using VideoMembers = std::array<const platform::Value*, videoKeyCount>;

VideoMembers videoMembers(const platform::Dictionary& data) {
    VideoMembers found{};
    auto entry = data.begin();
    std::size_t key = 0;
    while (entry != data.end() && key < videoKeyCount) {
        const int order = std::string_view(entry->first).compare(videoKeyNames[key]);
        if (order < 0) {
            ++entry;
        } else if (order > 0) {
            ++key;
        } else {
            found[key++] = &entry->second;
            ++entry;
        }
    }
    return found;
}

const std::string* textOf(const platform::Value* value) {
    return value ? value->asString() : nullptr;
}

std::optional<platform::Date> dateOf(const platform::Value* value) {
    const std::string* text = textOf(value);
    return text ? parseDate(*text) : std::nullopt;
}

// The address of `resolution` in the "mp4Url" object `urls`.
std::optional<platform::URL> resolutionURL(const platform::Value* urls,
                                           std::string_view resolution) {
    const platform::Dictionary* byResolution = urls ? urls->asDictionary() : nullptr;
    if (!byResolution)
        return std::nullopt;
    auto entry = byResolution->find(resolution);
    const std::string* text = entry == byResolution->end() ? nullptr : entry->second.asString();
    return text ? platform::URL::fromString(*text) : std::nullopt;
}

}  // namespace

std::optional<platform::URL> PNJSONParser::resURL(const platform::Dictionary& data,
                                                  const std::string& res) const {
    return resolutionURL(member(data, "mp4Url"), res);
}

std::shared_ptr<PNVideo> PNJSONParser::parseVideo(const platform::Dictionary& data) const {
    const VideoMembers members = videoMembers(data);
    const std::string* videoID = textOf(members[idKey]);
    std::optional<platform::Date> createdAt = dateOf(members[createdAtKey]);
    std::optional<platform::Date> shotOn = dateOf(members[shotOnKey]);
    if (!videoID || !createdAt || !shotOn)
        return nullptr;

    const auto number = [&](VideoKey key) {
        return members[key] ? members[key]->asDouble().value_or(0) : 0;
    };
    const auto wholeNumber = [&](VideoKey key) {
        return members[key] ? members[key]->asWholeNumber().value_or(0) : 0;
    };
    PNVideo::Fields fields;
    fields.videoID = *videoID;
    fields.location = platform::Location(number(latKey), number(lngKey));
    if (const std::string* title = textOf(members[titleKey]))
        fields.title = *title;
    if (const std::string* state = textOf(members[stateKey])) {
        fields.state = videoStateFromRawValue(*state).value_or(PNVideoState::unknown);
    }
    if (const std::string* transcription = textOf(members[transcriptionKey]))
        fields.transcription = *transcription;
    fields.height = wholeNumber(heightKey);
    fields.width = wholeNumber(widthKey);
    if (const platform::Value* metadata = members[metadataKey]) {
        fields.metadata = metadata->asStringDictionary().value_or(platform::StringDictionary{});
    }
    if (const std::string* thumb = textOf(members[thumbUrlKey])) {
        fields.thumbnailImageURL = platform::URL::fromString(*thumb);
    }
    if (const platform::Value* tags = members[tagsKey]; tags && tags->isArray()) {
        fields.tags = tags->asStringSetLoosely().value_or(platform::StringSet{});
    }
    fields.creationDate = createdAt;
    fields.modifyDate = createdAt;
    fields.shotOn = *shotOn;
    const platform::Value* urls = members[mp4UrlKey];
    fields.mediaMP4URL720p = resolutionURL(urls, "720p");
    fields.mediaMP4URL540p = resolutionURL(urls, "540p");
    if (!fields.mediaMP4URL540p)
        fields.mediaMP4URL540p = resolutionURL(urls, "480p");
    fields.mediaMP4URL360p = resolutionURL(urls, "360p");
    return PNVideo::make(std::move(fields));
}

}  // namespace pindle
