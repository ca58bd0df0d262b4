// PNNoiseView: an image view that loops grey random noise over black. On creation it makes
// its 60 noise pictures in the background, at one byte per point of its frame, and collects
// them on the main queue; show() loops them (the whole loop once a second) and hide() stops
// and hides the view. Pictures that arrive while the view is shown restart the loop once
// all 60 are in.
//
// A frame less than one point wide or high makes no pictures and starts nothing.
//
// Thread-safety: make, show and hide on the main thread, like any interface work. The
// pictures are made on an operation queue's threads and handed to the main queue.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "platform/dispatch/OperationQueue.hpp"
#include "platform/foundation/Size.hpp"
#include "platform/ui/ImageView.hpp"

namespace pindle {

class PNNoiseView;
using PNNoiseViewPtr = std::shared_ptr<PNNoiseView>;

class PNNoiseView : public platform::ui::ImageView {
  public:
    static constexpr int frameCount = 60;
    static constexpr int maxSeed = 114;

    // Made first and set up after: the picture work holds the view weakly.
    static PNNoiseViewPtr make(const platform::ui::Rect& frame);
    explicit PNNoiseView(const platform::ui::Rect& frame);

    bool isActive() const { return active_; }
    std::optional<platform::Size> size() const { return size_; }

    void show();
    void hide();

    // The noise bytes for a w by h picture from a starting seed: each byte advances the
    // seed as seed = (seed * 214013 + 2531011) mod 2^31 and takes (seed >> 16) mod 256.
    static std::vector<std::uint8_t> noiseBytes(int width, int height, std::uint32_t seed);
    // One picture at the view's size with a random seed in 0...maxSeed; null for a size
    // below one point, or one too large to hold.
    platform::ImagePtr generatedNoiseImage() const;

  private:
    // The picture size in whole pixels; nothing below one point or beyond what an image
    // may hold.
    std::optional<std::pair<int, int>> pictureSize() const;
    void prepareNoiseImages();
    void receive(platform::ImagePtr picture);

    std::atomic<bool> active_{false};
    // Set once in the constructor, read by the picture work.
    std::optional<platform::Size> size_;
    // Made by prepareNoiseImages (on the main thread) and kept while the pictures are made.
    std::shared_ptr<platform::OperationQueue> queue_;
};

}  // namespace pindle
