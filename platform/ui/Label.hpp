// Label: a view that shows a text. Text is a property only: snapshots do not rasterise it,
// so tests read text, colour and visibility.
//
// Thread-safety: as View; state is guarded by UILock.
#pragma once

#include <string>

#include "platform/ui/View.hpp"

namespace pindle::platform::ui {

class Label;
using LabelPtr = std::shared_ptr<Label>;

class Label : public View {
  public:
    static LabelPtr make(const Rect& frame = Rect::zero());
    explicit Label(const Rect& frame);

    // Observable keys: "text" and View's.
    Value valueForKey(std::string_view key) const override;

    std::string text() const;
    void setText(std::string text);
    Color textColor() const;
    void setTextColor(Color colour);
    double fontSize() const;
    void setFontSize(double size);
    int numberOfLines() const;
    void setNumberOfLines(int lines);

    // One line at 0.6 of the font size per character, 1.2 font sizes high.
    Size intrinsicContentSize() const override;

  private:
    // All guarded by UILock.
    std::string text_;
    Color textColor_ = Color::black();
    double fontSize_ = 17;
    int numberOfLines_ = 1;
};

}  // namespace pindle::platform::ui
