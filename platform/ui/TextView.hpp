// TextView: a text entry view of several lines. It becomes first responder when editing starts
// and resigns when editing ends (Application::endEditing). Its text is drawn from the top,
// wrapped between words at its width, inside a small margin; what passes the bottom is cut.
//
// Thread-safety: as View: safe from any thread, changes belong on the main thread. No
// callbacks.
#pragma once

#include "platform/ui/TextInput.hpp"

namespace pindle::platform::ui {

class TextView : public TextInput {
  public:
    static constexpr EdgeInsets textInsets{8, 5, 8, 5};

    static std::shared_ptr<TextView> make(const Rect& frame = Rect::zero()) {
        return std::make_shared<TextView>(frame);
    }
    explicit TextView(const Rect& frame)
        : TextInput(frame,
                    TextStyle{Font::systemFont(Font::defaultPointSize), Color::black(),
                              TextAlignment::natural, 0, LineBreakMode::byWordWrapping},
                    textInsets, false) {}
};

}  // namespace pindle::platform::ui
