#pragma once

#include <memory>
#include <string>

namespace pindle::emulator {

// The bytes and content type of one media resource the emulator serves. The bytes are
// shared and never changed after creation, so a reply can be cut from them without a lock.
// Thread-safety: immutable once built.
struct MediaFile {
    std::shared_ptr<const std::string> bytes;
    std::string contentType = "video/mp4";
};

}  // namespace pindle::emulator
