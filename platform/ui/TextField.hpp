// TextField: a one-line text entry view. It becomes first responder when editing starts
// and resigns when editing ends (Application::endEditing). Its text is drawn on one line,
// centred vertically, its tail truncated when it does not fit.
//
// Thread-safety: as View: safe from any thread, changes belong on the main thread. No
// callbacks.
#pragma once

#include "platform/ui/TextInput.hpp"

namespace pindle::platform::ui {

class TextField : public TextInput {
  public:
    static std::shared_ptr<TextField> make(const Rect& frame = Rect::zero()) {
        return std::make_shared<TextField>(frame);
    }
    explicit TextField(const Rect& frame)
        : TextInput(frame,
                    TextStyle{Font::systemFont(Font::defaultPointSize), Color::black(),
                              TextAlignment::natural, 1, LineBreakMode::byTruncatingTail},
                    EdgeInsets{}, true) {}
};

}  // namespace pindle::platform::ui
