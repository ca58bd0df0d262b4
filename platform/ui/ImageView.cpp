#include "platform/ui/ImageView.hpp"

#include <chrono>
#include <cmath>
#include <mutex>

#include "platform/dispatch/Clock.hpp"

namespace pindle::platform::ui {
namespace {

ContentsGravity gravityFor(View::ContentMode mode) {
    switch (mode) {
        case View::ContentMode::scaleAspectFit:
            return ContentsGravity::resizeAspect;
        case View::ContentMode::scaleAspectFill:
            return ContentsGravity::resizeAspectFill;
        case View::ContentMode::center:
            return ContentsGravity::center;
        case View::ContentMode::topLeft:
            return ContentsGravity::topLeft;
        case View::ContentMode::scaleToFill:
        case View::ContentMode::redraw:
            break;
    }
    return ContentsGravity::resize;
}

}  // namespace

struct ImageView::Animation {
    mutable std::mutex mutex;
    std::optional<std::vector<ImagePtr>> images;  // guarded by mutex
    double duration = 0;                          // guarded by mutex
    bool animating = false;                       // guarded by mutex
    Clock::Duration startedAt{};                  // guarded by mutex
    int displayRequests = 0;                      // guarded by mutex

    // The loop's picture now; null when not animating or without pictures.
    ImagePtr frameNow() const {
        std::lock_guard lock(mutex);
        if (!animating || !images || images->empty())
            return nullptr;
        const auto count = static_cast<double>(images->size());
        const double elapsed =
            std::chrono::duration<double>(Clock::current()->uptime() - startedAt).count();
        const double period = duration > 0 ? duration : count / 30.0;
        const double position = std::fmod(std::max(0.0, elapsed), period) / period * count;
        const auto index = std::min(images->size() - 1, static_cast<std::size_t>(position));
        return (*images)[index];
    }
};

namespace {

// The image view's layer: draws the loop's current picture in place of the contents while
// the view animates.
class AnimatedImageLayer : public Layer {
  public:
    explicit AnimatedImageLayer(std::shared_ptr<const ImageView::Animation> animation)
        : animation_(std::move(animation)) {}

  protected:
    void drawContents(GraphicsContext& context, const Rect& bounds) const override {
        if (auto frame = animation_->frameNow())
            context.drawImage(*frame, bounds, fitFor(contentsGravity()));
        else
            Layer::drawContents(context, bounds);
    }

  private:
    const std::shared_ptr<const ImageView::Animation> animation_;
};

}  // namespace

std::shared_ptr<ImageView> ImageView::make(const Rect& frame) {
    return std::make_shared<ImageView>(frame);
}

std::shared_ptr<ImageView> ImageView::make(const Coder& coder) {
    auto view = std::make_shared<ImageView>(Rect::zero());
    return view->decode(coder) ? view : nullptr;
}

ImageView::ImageView(const Rect& frame) : ImageView(frame, std::make_shared<Animation>()) {}

ImageView::ImageView(const Rect& frame, std::shared_ptr<Animation> animation)
    : View(frame, std::make_shared<AnimatedImageLayer>(animation)),
      animation_(std::move(animation)) {}

ImagePtr ImageView::image() const {
    return layer()->contents();
}

void ImageView::setImage(ImagePtr image) {
    layer()->setContents(std::move(image));
    if (auto parent = superview())
        parent->setNeedsLayout();
}

void ImageView::setContentMode(ContentMode mode) {
    View::setContentMode(mode);
    layer()->setContentsGravity(gravityFor(mode));
}

Size ImageView::intrinsicContentSize() const {
    if (auto picture = image())
        return picture->size();
    return View::intrinsicContentSize();
}

std::optional<std::vector<ImagePtr>> ImageView::animationImages() const {
    std::lock_guard lock(animation_->mutex);
    return animation_->images;
}

void ImageView::setAnimationImages(std::optional<std::vector<ImagePtr>> images) {
    std::lock_guard lock(animation_->mutex);
    animation_->images = std::move(images);
}

double ImageView::animationDuration() const {
    std::lock_guard lock(animation_->mutex);
    return animation_->duration;
}

void ImageView::setAnimationDuration(double seconds) {
    std::lock_guard lock(animation_->mutex);
    animation_->duration = seconds;
}

void ImageView::startAnimating() {
    const auto now = Clock::current()->uptime();
    std::lock_guard lock(animation_->mutex);
    animation_->animating = true;
    animation_->startedAt = now;
}

void ImageView::stopAnimating() {
    std::lock_guard lock(animation_->mutex);
    animation_->animating = false;
}

bool ImageView::isAnimating() const {
    std::lock_guard lock(animation_->mutex);
    return animation_->animating;
}

ImagePtr ImageView::currentImage() const {
    if (auto frame = animation_->frameNow())
        return frame;
    return image();
}

void ImageView::setNeedsDisplay() {
    std::lock_guard lock(animation_->mutex);
    ++animation_->displayRequests;
}

int ImageView::displayRequests() const {
    std::lock_guard lock(animation_->mutex);
    return animation_->displayRequests;
}

}  // namespace pindle::platform::ui
