#include "platform/ui/TextInput.hpp"

#include "platform/ui/UIThreadChecker.hpp"

namespace pindle::platform::ui {

TextInput::TextInput(const Rect& frame, const TextStyle& style, const EdgeInsets& insets,
                     bool centresVertically)
    : View(frame, TextLayer::make()) {
    textLayer().setStyle(style);
    textLayer().setInsets(insets);
    textLayer().setCentresVertically(centresVertically);
}

TextLayer& TextInput::textLayer() const {
    return static_cast<TextLayer&>(*layer());
}

std::string TextInput::text() const {
    return textLayer().text();
}

void TextInput::setText(std::string text) {
    UIThreadChecker::recordMutation("TextInput::setText");
    textLayer().setText(std::move(text));
}

Color TextInput::textColor() const {
    return textLayer().style().colour;
}

void TextInput::setTextColor(Color colour) {
    TextStyle style = textLayer().style();
    style.colour = colour;
    textLayer().setStyle(style);
}

Font TextInput::font() const {
    return textLayer().style().font;
}

void TextInput::setFont(Font font) {
    TextStyle style = textLayer().style();
    style.font = std::move(font);
    textLayer().setStyle(style);
}

TextAlignment TextInput::textAlignment() const {
    return textLayer().style().alignment;
}

void TextInput::setTextAlignment(TextAlignment alignment) {
    TextStyle style = textLayer().style();
    style.alignment = alignment;
    textLayer().setStyle(style);
}

void TextInput::insertText(const std::string& typed) {
    setText(text() + typed);
}

void TextInput::deleteBackward() {
    std::string current = text();
    if (current.empty())
        return;
    // Back over UTF-8 continuation bytes to the start of the last character.
    std::size_t end = current.size() - 1;
    while (end > 0 && (static_cast<unsigned char>(current[end]) & 0xC0) == 0x80) --end;
    current.erase(end);
    setText(std::move(current));
}

}  // namespace pindle::platform::ui
