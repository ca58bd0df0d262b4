// TextStyle: how a text is set: its font and colour, how lines are aligned, how many lines it
// may take and what happens where it does not fit. Labels, button titles and the text entry
// views keep one each (see TextLayer).
//
// Thread-safety: a plain value.
#pragma once

#include "platform/foundation/Color.hpp"
#include "platform/ui/Font.hpp"

namespace pindle::platform::ui {

// Where lines break and what is shown of a text that does not fit. Lines before the last
// break between words (byCharWrapping: anywhere); a word wider than the line breaks between
// its characters. The truncating modes put an ellipsis where text was left out: on a single
// line at its head, middle or tail; on several lines at the tail of the last. The others cut
// what does not fit at the edge.
enum class LineBreakMode {
    byWordWrapping,
    byCharWrapping,
    byClipping,
    byTruncatingHead,
    byTruncatingTail,
    byTruncatingMiddle,
};

// natural: left for left-to-right text, right for right-to-left text.
enum class TextAlignment { left, center, right, natural };

struct TextStyle {
    Font font;
    Color colour = Color::black();
    TextAlignment alignment = TextAlignment::natural;
    // 0: as many lines as the text needs.
    int numberOfLines = 1;
    LineBreakMode lineBreakMode = LineBreakMode::byTruncatingTail;

    bool operator==(const TextStyle&) const = default;
};

}  // namespace pindle::platform::ui
