// Button: a control with a title and an image; taps reach its targets as touch-up-inside.
// The image is the button's contents, fitted by aspect; the title is drawn over it, centred
// on one line (truncated in the middle when it does not fit), through the button's backing
// TextLayer.
//
// Thread-safety: as Control.
#pragma once

#include <string>

#include "platform/ui/Control.hpp"
#include "platform/ui/Font.hpp"
#include "platform/ui/TextLayer.hpp"

namespace pindle::platform::ui {

class Button;
using ButtonPtr = std::shared_ptr<Button>;

class Button : public Control {
  public:
    static constexpr double titlePointSize = 15;

    static ButtonPtr make(const Rect& frame = Rect::zero());
    explicit Button(const Rect& frame);

    // The normal state's title and image (the others fall back to it here).
    std::string title() const;
    void setTitle(std::string title);
    // White by default.
    Color titleColor() const;
    void setTitleColor(Color colour);
    // The system font at titlePointSize by default.
    Font titleFont() const;
    void setTitleFont(Font font);
    ImagePtr image() const;
    // Shown as the button's contents, fitted by aspect.
    void setImage(ImagePtr image);

    // 44 points high; the title's width, at least 44.
    Size intrinsicContentSize() const override;

  private:
    TextLayer& textLayer() const;
    void titleSizeChanged();
};

}  // namespace pindle::platform::ui
