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

}  // namespace pindle::platform::ui
