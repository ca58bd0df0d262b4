#include "PindleCore/model/PNVideoListReader.hpp"

#include "PindleCore/model/PNJSONParser.hpp"

namespace pindle {

PNVideoListReader::PNVideoListReader(const PNJSONParser&, const platform::Dictionary* headers)
    : headerTotal_(PNJSONParser::listTotal(headers)), mapper_(videos_), json_(mapper_) {}

bool PNVideoListReader::append(std::string_view piece) {
    return json_.append(piece);
}

bool PNVideoListReader::append(const platform::Data& piece) {
    return json_.append(piece);
}

std::optional<std::shared_ptr<PNVideosResponse>> PNVideoListReader::finish() {
    const std::optional<platform::Value> json = json_.finish();
    if (!json) {
        videos_ = {};
        return std::nullopt;
    }
    if (!json->isArray()) {
        videos_ = {};
        return nullptr;
    }
    std::vector<std::shared_ptr<PNVideo>> videos = std::move(videos_);
    videos.shrink_to_fit();
    const std::int64_t total = headerTotal_.value_or(static_cast<std::int64_t>(videos.size()));
    return std::make_shared<PNVideosResponse>(std::move(videos), total);
}

}  // namespace pindle
