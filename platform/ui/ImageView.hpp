// ImageView: a view that shows one image, fitted by its content mode (scale to fill,
// aspect fit, aspect fill, centre, top left). Its natural size is the image's size.
//
// It can also loop a list of pictures (animationImages) once per animationDuration while
// animating: the picture shown is computed from Clock when the view is drawn, each shown
// for duration / count. With no pictures, animating shows `image`.
//
// Thread-safety: as View: safe from any thread, changes belong on the main thread
// (UIThreadChecker counts the others). No callbacks.
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "platform/media/Image.hpp"
#include "platform/ui/View.hpp"

namespace pindle::platform::ui {

class ImageView : public View {
  public:
    static std::shared_ptr<ImageView> make(const Rect& frame = Rect::zero());
    // Null when the archive does not decode (as View::make(coder)).
    static std::shared_ptr<ImageView> make(const Coder& coder);

    explicit ImageView(const Rect& frame);

    struct Animation;

    ImagePtr image() const;
    void setImage(ImagePtr image);
    void setContentMode(ContentMode mode) override;
    Size intrinsicContentSize() const override;

    // Nothing: no list (as distinct from an empty one).
    std::optional<std::vector<ImagePtr>> animationImages() const;
    void setAnimationImages(std::optional<std::vector<ImagePtr>> images);
    double animationDuration() const;
    void setAnimationDuration(double seconds);
    // Starts (or restarts) the loop from its first picture, now on Clock.
    void startAnimating();
    void stopAnimating();
    bool isAnimating() const;
    // The picture shown now: the loop's current one while animating with pictures, else
    // `image`.
    ImagePtr currentImage() const;
    // Asks for the view to be drawn again; counted for tests (a headless build draws only
    // in snapshots).
    void setNeedsDisplay();
    int displayRequests() const;

  private:
    ImageView(const Rect& frame, std::shared_ptr<Animation> animation);

    const std::shared_ptr<Animation> animation_;
};

}  // namespace pindle::platform::ui
