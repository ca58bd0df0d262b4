#include "PindleCore/caches/ImageResize.hpp"

namespace pindle {

platform::ImagePtr resizeImage(const platform::ImagePtr& image, double newWidth) {
    if (!image)
        return nullptr;
    auto resized = image->resizedToWidth(newWidth);
    return resized ? resized : image;
}

}  // namespace pindle
