#include "platform/ui/Button.hpp"

#include <algorithm>

#include "platform/ui/UILock.hpp"

namespace pindle::platform::ui {
namespace {
constexpr double kMinimumSide = 44;
constexpr double kCharacterWidth = 0.6 * 15;
}  // namespace

ButtonPtr Button::make(const Rect& frame) {
    return std::make_shared<Button>(frame);
}

Button::Button(const Rect& frame) : Control(frame) {
    layer()->setContentsGravity(ContentsGravity::resizeAspect);
}

std::string Button::title() const {
    UIGuard lock(UILock::mutex());
    return title_;
}

void Button::setTitle(std::string title) {
    UIGuard lock(UILock::mutex());
    title_ = std::move(title);
}

ImagePtr Button::image() const {
    return layer()->contents();
}

void Button::setImage(ImagePtr image) {
    layer()->setContents(std::move(image));
}

Size Button::intrinsicContentSize() const {
    const double width = kCharacterWidth * static_cast<double>(title().size());
    return Size{std::max(kMinimumSide, width), kMinimumSide};
}

}  // namespace pindle::platform::ui
