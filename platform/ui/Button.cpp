#include "platform/ui/Button.hpp"

#include <algorithm>
#include <limits>

#include "platform/ui/UIThreadChecker.hpp"

namespace pindle::platform::ui {
namespace {
constexpr double kMinimumSide = 44;
}  // namespace

ButtonPtr Button::make(const Rect& frame) {
    return std::make_shared<Button>(frame);
}

Button::Button(const Rect& frame) : Control(frame, TextLayer::make()) {
    layer()->setContentsGravity(ContentsGravity::resizeAspect);
    TextStyle style;
    style.font = Font::systemFont(titlePointSize);
    style.colour = Color::whiteColor();
    style.alignment = TextAlignment::center;
    style.lineBreakMode = LineBreakMode::byTruncatingMiddle;
    textLayer().setStyle(style);
}

TextLayer& Button::textLayer() const {
    return static_cast<TextLayer&>(*layer());
}

std::string Button::title() const {
    return textLayer().text();
}

void Button::setTitle(std::string title) {
    UIThreadChecker::recordMutation("Button::setTitle");
    textLayer().setText(std::move(title));
    titleSizeChanged();
}

Color Button::titleColor() const {
    return textLayer().style().colour;
}

void Button::setTitleColor(Color colour) {
    TextStyle style = textLayer().style();
    style.colour = colour;
    textLayer().setStyle(style);
}

Font Button::titleFont() const {
    return textLayer().style().font;
}

void Button::setTitleFont(Font font) {
    TextStyle style = textLayer().style();
    style.font = std::move(font);
    textLayer().setStyle(style);
    titleSizeChanged();
}

void Button::titleSizeChanged() {
    if (auto parent = superview())
        parent->setNeedsLayout();
}

ImagePtr Button::image() const {
    return layer()->contents();
}

void Button::setImage(ImagePtr image) {
    layer()->setContents(std::move(image));
}

Size Button::intrinsicContentSize() const {
    const double width = textLayer().measure(std::numeric_limits<double>::infinity()).width;
    return Size{std::max(kMinimumSide, width), kMinimumSide};
}

}  // namespace pindle::platform::ui
