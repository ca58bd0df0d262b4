#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace pindle::emulator {

// One video as the backend keeps it. It is written out in two forms: the backend JSON that
// clients read (media and thumbnail addresses pointing at the emulator itself), and the
// stored form of the emulator's store file, which keeps every field exactly.
// Thread-safety: a plain value.
struct VideoRecord {
    // The MP4 renditions the backend makes, highest first.
    static constexpr std::array<const char*, 3> resolutionNames = {"720p", "540p", "360p"};
    // The processing states a video can be in.
    static constexpr std::array<const char*, 4> stateNames = {"unknown", "processing", "processed",
                                                              "failed"};

    std::string id;
    std::string title;
    std::string identity;  // the user who created it
    double latitude = 0;
    double longitude = 0;
    std::string state = "processing";
    std::optional<std::string> transcription;
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::vector<std::string> tags;  // sorted, without duplicates
    std::map<std::string, std::string> metadata;
    std::int64_t createdAt = 0;  // milliseconds since 1970
    std::int64_t shotOn = 0;
    std::int64_t updatedAt = 0;
    std::vector<std::string> resolutions;  // renditions in place, in resolutionNames order

    void setTags(std::vector<std::string> newTags);
    void addResolution(const std::string& name);
    bool hasTag(const std::string& tag) const;

    nlohmann::json toBackendJSON(const std::string& baseURL) const;
    nlohmann::json toStoredJSON() const;
    static std::optional<VideoRecord> fromStoredJSON(const nlohmann::json& json);

    static bool isResolutionName(const std::string& name);
    static bool isStateName(const std::string& name);
    // Where the emulator serves a rendition and the thumbnail of a video.
    static std::string mediaPath(const std::string& id, const std::string& resolution);
    static std::string thumbnailPath(const std::string& id);
};

}  // namespace pindle::emulator
