// Size: a width and height in points (images, video tracks, views).
//
// Thread-safety: a plain value.
#pragma once

namespace pindle::platform {

struct Size {
    double width = 0;
    double height = 0;

    bool operator==(const Size&) const = default;
};

}  // namespace pindle::platform
