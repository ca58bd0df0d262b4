#include "PindleCore/widgets/PNNoiseView.hpp"

#include <random>

#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/foundation/Weakly.hpp"

namespace pindle {

namespace ui = platform::ui;

PNNoiseViewPtr PNNoiseView::make(const ui::Rect& frame) {
    auto view = std::make_shared<PNNoiseView>(frame);
    view->prepareNoiseImages();
    return view;
}

PNNoiseView::PNNoiseView(const ui::Rect& frame)
    : ImageView(frame), size_(platform::Size{frame.width(), frame.height()}) {
    setBackgroundColor(ui::Color::black());
    setHidden(false);
    layer()->setOpacity(0.8);
    setAnimationDuration(1.0);
    setAnimationImages(std::vector<platform::ImagePtr>{});
    setContentMode(ContentMode::scaleAspectFill);
}

std::vector<std::uint8_t> PNNoiseView::noiseBytes(int width, int height, std::uint32_t seed) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(width) *
                                    static_cast<std::size_t>(height));
    std::uint32_t state = seed;
    for (auto& byte : bytes) {
        state = (state * 214013u + 2531011u) & 0x7fffffffu;
        byte = static_cast<std::uint8_t>((state >> 16) & 0xffu);
    }
    return bytes;
}

std::optional<std::pair<int, int>> PNNoiseView::pictureSize() const {
    if (!size_ || !(size_->width >= 1) || !(size_->height >= 1))
        return std::nullopt;
    if (size_->width * size_->height > static_cast<double>(platform::Image::maxDecodedPixels))
        return std::nullopt;
    return std::pair{static_cast<int>(size_->width), static_cast<int>(size_->height)};
}

platform::ImagePtr PNNoiseView::generatedNoiseImage() const {
    const auto pixels = pictureSize();
    if (!pixels)
        return nullptr;
    const auto [width, height] = *pixels;
    thread_local std::mt19937 random{std::random_device{}()};
    std::uniform_int_distribution<std::uint32_t> seeds(0, maxSeed);
    return platform::Image::fromGrey8(width, height, noiseBytes(width, height, seeds(random)));
}

void PNNoiseView::prepareNoiseImages() {
    if (!pictureSize())
        return;  // nothing can be made at this size: no queue, no work
    queue_ = platform::OperationQueue::create("local.pindle.noise");
    for (int i = 0; i < frameCount; ++i) {
        queue_->addOperationWithBlock(platform::weakly(this, [](PNNoiseView& self) {
            auto picture = self.generatedNoiseImage();
            if (!picture)
                return;
            // The view may go while the picture travels.
            platform::DispatchQueue::main()->async(
                platform::weakly(&self, [picture](PNNoiseView& view) { view.receive(picture); }));
        }));
    }
}

void PNNoiseView::receive(platform::ImagePtr picture) {
    auto pictures = animationImages();
    if (!pictures)
        return;
    pictures->push_back(std::move(picture));
    const bool complete = static_cast<int>(pictures->size()) == frameCount;
    setAnimationImages(std::move(pictures));
    if (active_ && complete) {
        startAnimating();
        setNeedsDisplay();
    }
}

void PNNoiseView::show() {
    active_ = true;
    startAnimating();
    setHidden(false);
}

void PNNoiseView::hide() {
    active_ = false;
    stopAnimating();
    setHidden(true);
}

}  // namespace pindle
