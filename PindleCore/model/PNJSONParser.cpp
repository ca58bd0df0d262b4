#include "PindleCore/model/PNJSONParser.hpp"

#include <strings.h>

#include <string_view>

#include "PindleCore/model/PNVideoListReader.hpp"
#include "PindleCore/model/PNVideoMembers.hpp"
#include "platform/foundation/Json.hpp"
#include "platform/foundation/Text.hpp"

namespace pindle {

namespace {

constexpr const char* totalCountHeader = "video-total-count";

const platform::Value* member(const platform::Dictionary& object, const char* key) {
    auto it = object.find(key);
    return it == object.end() ? nullptr : &it->second;
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

std::optional<platform::URL> PNJSONParser::resURL(const platform::Dictionary& data,
                                                  const std::string& res) const {
    return resolutionURL(member(data, "mp4Url"), res);
}

std::shared_ptr<PNVideo> PNJSONParser::parseVideo(const platform::Dictionary& data) const {
    return PNVideoMembers::fromObject(data).makeVideo();
}

}  // namespace pindle
