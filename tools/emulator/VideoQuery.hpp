#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "tools/emulator/VideoRecord.hpp"

namespace pindle::emulator {

// The selection and page of a video list: a video matches when it carries every tag,
// every metadata entry (same key, same value), contains the title text (ignoring ASCII
// case), belongs to the identity, and is among the identifiers, each criterion applying
// only when given. Matches are ordered by creation date (then identifier) and paged.
// Thread-safety: a plain value.
struct VideoQuery {
    std::set<std::string> tags;
    std::map<std::string, std::string> metadata;
    std::string title;
    std::string identity;
    std::optional<std::set<std::string>> ids;
    std::int64_t offset = 0;
    std::optional<std::int64_t> limit;  // everything from offset when absent
    bool descending = false;

    bool matches(const VideoRecord& video) const;
    // The tag and metadata criteria alone, which change sync applies.
    static bool hasTagsAndMetadata(const std::vector<std::string>& videoTags,
                                   const std::map<std::string, std::string>& videoMetadata,
                                   const std::set<std::string>& tags,
                                   const std::map<std::string, std::string>& metadata);
};

}  // namespace pindle::emulator
