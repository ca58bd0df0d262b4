// PNCachedImage: one entry of the image cache: a decoded image and the stamp of its last
// use (a higher stamp is a more recent use).
//
// Thread-safety: none of its own. The cache changes the entries it holds only under its
// lock and hands out copies.
#pragma once

#include <cstdint>

#include "platform/media/Image.hpp"

namespace pindle {

class PNCachedImage {
  public:
    PNCachedImage(platform::ImagePtr image, std::int64_t timeStamp)
        : image_(std::move(image)), timestamp_(timeStamp) {}

    const platform::ImagePtr& image() const { return image_; }
    void setImage(platform::ImagePtr image) { image_ = std::move(image); }
    std::int64_t timestamp() const { return timestamp_; }
    void setTimestamp(std::int64_t timestamp) { timestamp_ = timestamp; }

  private:
    platform::ImagePtr image_;
    std::int64_t timestamp_;
};

}  // namespace pindle
