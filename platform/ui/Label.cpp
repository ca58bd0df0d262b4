#include "platform/ui/Label.hpp"

#include <limits>

#include "platform/ui/UIThreadChecker.hpp"
#include "platform/ui/private/UILock.hpp"

namespace pindle::platform::ui {

LabelPtr Label::make(const Rect& frame) {
    return std::make_shared<Label>(frame);
}

Label::Label(const Rect& frame) : View(frame, TextLayer::make()) {}

TextLayer& Label::textLayer() const {
    return static_cast<TextLayer&>(*layer());
}

Value Label::valueForKey(std::string_view key) const {
    if (key == "text")
        return Value(text());
    return View::valueForKey(key);
}

std::string Label::text() const {
    return textLayer().text();
}

void Label::setText(std::string text) {
    UIThreadChecker::recordMutation("Label::setText");
    willChangeValueForKey("text");
    textLayer().setText(std::move(text));
    didChangeValueForKey("text");
    invalidateIntrinsicContentSize();
}

void Label::updateStyle(const std::function<void(TextStyle&)>& change, bool resizes) {
    TextStyle style = textLayer().style();
    change(style);
    textLayer().setStyle(style);
    if (resizes)
        invalidateIntrinsicContentSize();
}

void Label::invalidateIntrinsicContentSize() {
    setNeedsLayout();
    if (auto parent = superview())
        parent->setNeedsLayout();
}

Color Label::textColor() const {
    return textLayer().style().colour;
}

void Label::setTextColor(Color colour) {
    updateStyle([&](TextStyle& style) { style.colour = colour; }, false);
}

Font Label::font() const {
    return textLayer().style().font;
}

void Label::setFont(Font font) {
    updateStyle([&](TextStyle& style) { style.font = std::move(font); }, true);
}

double Label::fontSize() const {
    return font().pointSize;
}

void Label::setFontSize(double size) {
    updateStyle([&](TextStyle& style) { style.font.pointSize = size; }, true);
}

int Label::numberOfLines() const {
    return textLayer().style().numberOfLines;
}

void Label::setNumberOfLines(int lines) {
    updateStyle([&](TextStyle& style) { style.numberOfLines = std::max(0, lines); }, true);
}

LineBreakMode Label::lineBreakMode() const {
    return textLayer().style().lineBreakMode;
}

void Label::setLineBreakMode(LineBreakMode mode) {
    updateStyle([&](TextStyle& style) { style.lineBreakMode = mode; }, true);
}

TextAlignment Label::textAlignment() const {
    return textLayer().style().alignment;
}

void Label::setTextAlignment(TextAlignment alignment) {
    updateStyle([&](TextStyle& style) { style.alignment = alignment; }, false);
}

double Label::preferredMaxLayoutWidth() const {
    UIGuard lock(UILock::mutex());
    return preferredMaxLayoutWidth_;
}

void Label::setPreferredMaxLayoutWidth(double width) {
    {
        UIGuard lock(UILock::mutex());
        preferredMaxLayoutWidth_ = width > 0 ? width : 0;
    }
    invalidateIntrinsicContentSize();
}

bool Label::isTruncated() const {
    return textLayer().isTruncated();
}

Size Label::sizeThatFits(Size size) const {
    return textLayer().measure(size.width > 0 ? size.width
                                              : std::numeric_limits<double>::infinity());
}

Size Label::intrinsicContentSize() const {
    const double preferred = preferredMaxLayoutWidth();
    const bool wraps = numberOfLines() != 1 && preferred > 0;
    return textLayer().measure(wraps ? preferred : std::numeric_limits<double>::infinity());
}

}  // namespace pindle::platform::ui
