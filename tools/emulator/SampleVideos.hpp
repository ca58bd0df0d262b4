#pragma once

#include <cstddef>
#include <vector>

#include "tools/emulator/VideoRecord.hpp"

namespace pindle::emulator {

// The sample videos an emulator starts with when asked to: the same list every time, with
// stable identifiers, a spread of tags, metadata, identities and dates an hour apart, and
// all three renditions in place.
// Thread-safety: stateless.
struct SampleVideos {
    static constexpr std::size_t defaultCount = 25;
    static std::vector<VideoRecord> make(std::size_t count = defaultCount);
};

}  // namespace pindle::emulator
