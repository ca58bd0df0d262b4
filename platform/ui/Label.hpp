// Label: a view that shows a text, drawn into every rasterisation of the layer tree through
// its backing TextLayer: lines broken and truncated as its number of lines and line-break
// mode say, centred vertically in its bounds, aligned by its text alignment.
//
// Its intrinsic content size is the size of its text as set (one line per paragraph, or
// wrapped at preferredMaxLayoutWidth when that is set and more than one line is allowed), so
// constraints that pin only an edge or the centre lay it out; changing the text or its style
// asks the superview for layout again.
//
// Thread-safety: as View; state is guarded by UILock. No callbacks.
#pragma once

#include <functional>
#include <string>

#include "platform/ui/Font.hpp"
#include "platform/ui/TextLayer.hpp"
#include "platform/ui/TextStyle.hpp"
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
    Font font() const;
    void setFont(Font font);
    // The font's size in points.
    double fontSize() const;
    void setFontSize(double size);
    // 0: as many lines as the text needs. 1 by default.
    int numberOfLines() const;
    void setNumberOfLines(int lines);
    // byTruncatingTail by default.
    LineBreakMode lineBreakMode() const;
    void setLineBreakMode(LineBreakMode mode);
    TextAlignment textAlignment() const;
    void setTextAlignment(TextAlignment alignment);
    // The width at which a label of several lines wraps when measured for its intrinsic
    // size; 0 (the default): unbounded.
    double preferredMaxLayoutWidth() const;
    void setPreferredMaxLayoutWidth(double width);

    // Whether the text drawn in the current bounds leaves something out.
    bool isTruncated() const;
    // The size the text takes with lines at most `size.width` wide, within the number of
    // lines.
    Size sizeThatFits(Size size) const;
    Size intrinsicContentSize() const override;

  private:
    TextLayer& textLayer() const;
    void updateStyle(const std::function<void(TextStyle&)>& change, bool resizes);
    // The superview places this label by its intrinsic size, which just changed.
    void invalidateIntrinsicContentSize();

    double preferredMaxLayoutWidth_ = 0;  // guarded by UILock
};

}  // namespace pindle::platform::ui
