// Button: a control with a title and an image; taps reach its targets as touch-up-inside.
// Titles are properties only: snapshots do not rasterise text.
//
// Thread-safety: as Control.
#pragma once

#include <string>

#include "platform/ui/Control.hpp"

namespace pindle::platform::ui {

class Button;
using ButtonPtr = std::shared_ptr<Button>;

class Button : public Control {
  public:
    static ButtonPtr make(const Rect& frame = Rect::zero());
    explicit Button(const Rect& frame);

    // The normal state's title and image (the others fall back to it here).
    std::string title() const;
    void setTitle(std::string title);
    ImagePtr image() const;
    // Shown as the button's contents, fitted by aspect.
    void setImage(ImagePtr image);

    // 44 points high; the title's width at 0.6 of a 15-point font, at least 44.
    Size intrinsicContentSize() const override;

  private:
    std::string title_;  // guarded by UILock
};

}  // namespace pindle::platform::ui
