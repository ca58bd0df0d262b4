#include "platform/ui/TextInput.hpp"

namespace pindle::platform::ui {

std::string TextInput::text() const {
    std::lock_guard lock(mutex_);
    return text_;
}

void TextInput::setText(std::string text) {
    std::lock_guard lock(mutex_);
    text_ = std::move(text);
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
