#include "tools/emulator/VideoQuery.hpp"

#include <algorithm>
#include <cctype>

namespace pindle::emulator {

namespace {

std::string lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

}  // namespace

bool VideoQuery::matches(const VideoRecord& video) const {
    if (!hasTagsAndMetadata(video.tags, video.metadata, tags, metadata)) {
        return false;
    }
    if (!identity.empty() && video.identity != identity) {
        return false;
    }
    if (!title.empty() && lowered(video.title).find(lowered(title)) == std::string::npos) {
        return false;
    }
    return !ids || ids->count(video.id) > 0;
}

bool VideoQuery::hasTagsAndMetadata(const std::vector<std::string>& videoTags,
                                    const std::map<std::string, std::string>& videoMetadata,
                                    const std::set<std::string>& tags,
                                    const std::map<std::string, std::string>& metadata) {
    for (const auto& tag : tags) {
        if (std::find(videoTags.begin(), videoTags.end(), tag) == videoTags.end()) {
            return false;
        }
    }
    for (const auto& [key, value] : metadata) {
        auto it = videoMetadata.find(key);
        if (it == videoMetadata.end() || it->second != value) {
            return false;
        }
    }
    return true;
}

}  // namespace pindle::emulator
