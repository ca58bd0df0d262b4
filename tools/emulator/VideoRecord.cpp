#include "tools/emulator/VideoRecord.hpp"

#include <algorithm>

#include "tools/emulator/BackendDate.hpp"

namespace pindle::emulator {

void VideoRecord::setTags(std::vector<std::string> newTags) {
    std::sort(newTags.begin(), newTags.end());
    newTags.erase(std::unique(newTags.begin(), newTags.end()), newTags.end());
    tags = std::move(newTags);
}

void VideoRecord::addResolution(const std::string& name) {
    if (!isResolutionName(name) ||
        std::find(resolutions.begin(), resolutions.end(), name) != resolutions.end()) {
        return;
    }
    resolutions.push_back(name);
    auto rank = [](const std::string& resolution) {
        return std::find(resolutionNames.begin(), resolutionNames.end(), resolution) -
               resolutionNames.begin();
    };
    std::sort(resolutions.begin(), resolutions.end(),
              [&](const auto& a, const auto& b) { return rank(a) < rank(b); });
}

bool VideoRecord::hasTag(const std::string& tag) const {
    return std::binary_search(tags.begin(), tags.end(), tag);
}

nlohmann::json VideoRecord::toBackendJSON(const std::string& baseURL) const {
    nlohmann::json mp4Url = nlohmann::json::object();
    for (const auto& resolution : resolutions) {
        mp4Url[resolution] = baseURL + mediaPath(id, resolution);
    }
    nlohmann::json json = {
        {"id", id},
        {"title", title},
        {"identity", identity},
        {"lat", latitude},
        {"lng", longitude},
        {"state", state},
        {"height", height},
        {"width", width},
        {"tags", tags},
        {"metadata", metadata},
        {"createdAt", BackendDate::format(createdAt)},
        {"updatedAt", BackendDate::format(updatedAt)},
        {"shotOn", BackendDate::format(shotOn)},
        {"thumbUrl", baseURL + thumbnailPath(id)},
        {"mp4Url", mp4Url},
    };
    if (transcription) {
        json["transcription"] = *transcription;
    }
    return json;
}

nlohmann::json VideoRecord::toStoredJSON() const {
    nlohmann::json json = {
        {"id", id},
        {"title", title},
        {"identity", identity},
        {"lat", latitude},
        {"lng", longitude},
        {"state", state},
        {"width", width},
        {"height", height},
        {"tags", tags},
        {"metadata", metadata},
        {"createdAt", createdAt},
        {"shotOn", shotOn},
        {"updatedAt", updatedAt},
        {"resolutions", resolutions},
    };
    if (transcription) {
        json["transcription"] = *transcription;
    }
    return json;
}

std::optional<VideoRecord> VideoRecord::fromStoredJSON(const nlohmann::json& json) {
    if (!json.is_object() || !json.contains("id") || !json["id"].is_string()) {
        return std::nullopt;
    }
    try {
        VideoRecord video;
        video.id = json.at("id").get<std::string>();
        video.title = json.value("title", "");
        video.identity = json.value("identity", "");
        video.latitude = json.value("lat", 0.0);
        video.longitude = json.value("lng", 0.0);
        video.state = json.value("state", "processing");
        video.width = json.value("width", std::int64_t{0});
        video.height = json.value("height", std::int64_t{0});
        video.setTags(json.value("tags", std::vector<std::string>{}));
        video.metadata = json.value("metadata", std::map<std::string, std::string>{});
        video.createdAt = json.value("createdAt", std::int64_t{0});
        video.shotOn = json.value("shotOn", std::int64_t{0});
        video.updatedAt = json.value("updatedAt", video.createdAt);
        for (const auto& resolution : json.value("resolutions", std::vector<std::string>{})) {
            video.addResolution(resolution);
        }
        if (json.contains("transcription") && json["transcription"].is_string()) {
            video.transcription = json["transcription"].get<std::string>();
        }
        return video;
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    }
}

bool VideoRecord::isResolutionName(const std::string& name) {
    return std::find(resolutionNames.begin(), resolutionNames.end(), name) != resolutionNames.end();
}

bool VideoRecord::isStateName(const std::string& name) {
    return std::find(stateNames.begin(), stateNames.end(), name) != stateNames.end();
}

std::string VideoRecord::mediaPath(const std::string& id, const std::string& resolution) {
    return "/media/" + id + "/" + resolution + ".mp4";
}

std::string VideoRecord::thumbnailPath(const std::string& id) {
    return "/media/" + id + "/thumb.png";
}

}  // namespace pindle::emulator
