// TextView: a text entry view of several lines. It becomes first responder when editing starts
// and resigns when editing ends (Application::endEditing).
//
// Thread-safety: as View: safe from any thread, changes belong on the main thread. No
// callbacks.
#pragma once

#include "platform/ui/TextInput.hpp"

namespace pindle::platform::ui {

class TextView : public TextInput {
  public:
    static std::shared_ptr<TextView> make(const Rect& frame = Rect::zero()) {
        return std::make_shared<TextView>(frame);
    }
    explicit TextView(const Rect& frame) : TextInput(frame) {}
};

}  // namespace pindle::platform::ui
