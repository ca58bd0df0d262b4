#pragma once

#include <memory>
#include <string>

#include "tools/emulator/BodySource.hpp"

namespace pindle::emulator {

// The bytes and content type of one media resource the emulator serves. The source is
// shared and never changed after creation, so replies are sent from it by slices, without a
// lock and without a copy of the whole.
// Thread-safety: immutable once built.
struct MediaFile {
    std::shared_ptr<const BodySource> source;
    std::string contentType = "video/mp4";

    static MediaFile ofBytes(std::string bytes, std::string contentType = "video/mp4") {
        return {BodySource::ofBytes(std::make_shared<const std::string>(std::move(bytes))),
                std::move(contentType)};
    }
};

}  // namespace pindle::emulator
