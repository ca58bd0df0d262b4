// PAVHelper: still pictures of video files, turned as they are to be shown.
//
// Thread-safety: safe from any thread; runs synchronously on the caller's thread. No
// callbacks.
#pragma once

#include <memory>
#include <optional>

#include "platform/foundation/URL.hpp"
#include "platform/media/Image.hpp"
#include "platform/media/URLAsset.hpp"

namespace pindle::legacy {

class PAVHelper {
  public:
    // The time of the thumbnail when none is given: 1/60 s, as single precision has it.
    static constexpr double defaultThumbTime = 0.01666666753590107;

    // Null for no URL, for a file that gives no picture, or on any error (not reported).
    static platform::ImagePtr generateThumbForAssetURL(const std::optional<platform::URL>& url);
    static platform::ImagePtr generateThumbForAssetURL(const std::optional<platform::URL>& url,
                                                       double seconds);
    static platform::ImagePtr generateThumbForAVURLAsset(
        const std::shared_ptr<platform::URLAsset>& asset, double seconds);
};

}  // namespace pindle::legacy
