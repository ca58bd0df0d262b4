#pragma once

#include <cstddef>
#include <string>

namespace pindle::emulator {

// Stand-in media for videos that have no real file: bytes that depend only on the video
// identifier and the rendition (so a client can check what it cached against a fresh
// download), a few hundred KiB per rendition, and a thumbnail image in a colour of the
// video's own.
// Thread-safety: stateless.
struct GeneratedMedia {
    static std::size_t videoSize(const std::string& videoID, const std::string& resolution);
    static std::string videoBytes(const std::string& videoID, const std::string& resolution);
    static std::string thumbnail(const std::string& videoID);
};

}  // namespace pindle::emulator
