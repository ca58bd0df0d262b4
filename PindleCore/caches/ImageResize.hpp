// resizeImage: an image drawn at a new width in points, its height scaled by the same
// factor, at scale 1 (the slider widget sizes its thumb image with it).
//
// A width that is not a positive finite number, or one that would leave the image less
// than a pixel high, gives the original image back rather than nothing: callers set the
// result straight on a control.
//
// Thread-safety: a pure function of immutable images; safe from any thread.
#pragma once

#include "platform/media/Image.hpp"

namespace pindle {

platform::ImagePtr resizeImage(const platform::ImagePtr& image, double newWidth);

}  // namespace pindle
