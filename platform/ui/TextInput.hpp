// TextInput: the part shared by the views that take typed text (TextField, TextView): the
// text and the ability to become first responder. Typing is not simulated: hosts and tests
// set the text.
//
// Thread-safety: as View: safe from any thread, changes belong on the main thread. No
// callbacks.
#pragma once

#include <mutex>
#include <string>

#include "platform/ui/View.hpp"

namespace pindle::platform::ui {

class TextInput : public View {
  public:
    using View::View;

    std::string text() const;
    void setText(std::string text);
    bool canBecomeFirstResponder() const override { return isUserInteractionEnabled(); }

  private:
    mutable std::mutex mutex_;
    std::string text_;  // guarded by mutex_
};

}  // namespace pindle::platform::ui
