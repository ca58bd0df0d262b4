// TextInput: the part shared by the views that take typed text (TextField, TextView): the
// text and the ability to become first responder. On a desktop the display types into the
// first responder (insertText, deleteBackward); hosts and tests may set the text directly.
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
    // Typing: appends `typed` (UTF-8) / removes the last character.
    void insertText(const std::string& typed);
    void deleteBackward();
    bool canBecomeFirstResponder() const override { return isUserInteractionEnabled(); }

  private:
    mutable std::mutex mutex_;
    std::string text_;  // guarded by mutex_
};

}  // namespace pindle::platform::ui
