// TextInput: the part shared by the views that take typed text (TextField, TextView): the
// text, its style, and the ability to become first responder. The text is drawn through the
// view's backing TextLayer. On a desktop the display types into the first responder
// (insertText, deleteBackward); hosts and tests may set the text directly.
//
// Thread-safety: as View: safe from any thread, changes belong on the main thread. No
// callbacks.
#pragma once

#include <string>

#include "platform/ui/TextLayer.hpp"
#include "platform/ui/View.hpp"

namespace pindle::platform::ui {

class TextInput : public View {
  public:
    // `style` and `insets` set the text; `centresVertically` as TextLayer's.
    TextInput(const Rect& frame, const TextStyle& style, const EdgeInsets& insets,
              bool centresVertically);

    std::string text() const;
    void setText(std::string text);
    Color textColor() const;
    void setTextColor(Color colour);
    Font font() const;
    void setFont(Font font);
    TextAlignment textAlignment() const;
    void setTextAlignment(TextAlignment alignment);
    // Typing: appends `typed` (UTF-8) / removes the last character.
    void insertText(const std::string& typed);
    void deleteBackward();
    bool canBecomeFirstResponder() const override { return isUserInteractionEnabled(); }

  protected:
    TextLayer& textLayer() const;
};

}  // namespace pindle::platform::ui
