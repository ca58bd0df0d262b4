#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace pindle::emulator {

// The fields an update sets on a video; absent fields stay as they are. Renditions are
// added to those already in place.
// Thread-safety: a plain value.
struct VideoChanges {
    std::optional<std::string> title;
    std::optional<std::vector<std::string>> tags;
    std::optional<std::map<std::string, std::string>> metadata;
    std::optional<double> latitude;
    std::optional<double> longitude;
    std::optional<std::int64_t> width;
    std::optional<std::int64_t> height;
    std::optional<std::int64_t> shotOn;
    std::optional<std::string> transcription;
    std::optional<std::string> state;
    std::vector<std::string> addedResolutions;
};

}  // namespace pindle::emulator
