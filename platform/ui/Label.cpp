#include "platform/ui/Label.hpp"

#include "platform/ui/UILock.hpp"
#include "platform/ui/UIThreadChecker.hpp"

namespace pindle::platform::ui {

LabelPtr Label::make(const Rect& frame) {
    return std::make_shared<Label>(frame);
}

Label::Label(const Rect& frame) : View(frame) {}

Value Label::valueForKey(std::string_view key) const {
    if (key == "text")
        return Value(text());
    return View::valueForKey(key);
}

std::string Label::text() const {
    UIGuard lock(UILock::mutex());
    return text_;
}

void Label::setText(std::string text) {
    UIThreadChecker::recordMutation("Label::setText");
    willChangeValueForKey("text");
    {
        UIGuard lock(UILock::mutex());
        text_ = std::move(text);
    }
    didChangeValueForKey("text");
    setNeedsLayout();
}

Color Label::textColor() const {
    UIGuard lock(UILock::mutex());
    return textColor_;
}

void Label::setTextColor(Color colour) {
    UIGuard lock(UILock::mutex());
    textColor_ = colour;
}

double Label::fontSize() const {
    UIGuard lock(UILock::mutex());
    return fontSize_;
}

void Label::setFontSize(double size) {
    UIGuard lock(UILock::mutex());
    fontSize_ = size;
}

int Label::numberOfLines() const {
    UIGuard lock(UILock::mutex());
    return numberOfLines_;
}

void Label::setNumberOfLines(int lines) {
    UIGuard lock(UILock::mutex());
    numberOfLines_ = lines;
}

Size Label::intrinsicContentSize() const {
    UIGuard lock(UILock::mutex());
    return Size{0.6 * fontSize_ * static_cast<double>(text_.size()), 1.2 * fontSize_};
}

}  // namespace pindle::platform::ui
