// setThumb: shows a video's thumbnail in an image view, through the image loader.
//
// The load cannot be cancelled. When it gives an image, `block` is asked (with the image
// view) whether the image is still wanted there (a cell may show another video by now), and
// only on true is the image set. Both happen on the main queue, since the loader may call
// back on a network queue: at once when the image arrives on the main thread, otherwise
// queued there. A video without a thumbnail address, an absent image, or an image view that
// is gone by then leave everything unchanged.
//
// Thread-safety: call from any thread; `block` runs on the main queue. The image view is
// held weakly while the image loads.
#pragma once

#include <functional>
#include <memory>

#include "PindleCore/caches/PNImagesLoader.hpp"
#include "PindleCore/model/PNVideo.hpp"
#include "platform/ui/ImageView.hpp"

namespace pindle {

void setThumb(const std::shared_ptr<platform::ui::ImageView>& imageView, const PNVideo& video,
              std::function<bool(platform::ui::ImageView&)> block,
              PNImagesLoader& loader = PNImagesLoader::shared());

}  // namespace pindle
