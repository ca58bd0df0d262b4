// TextLayer: a layer that draws a text over its contents image, set by a TextStyle within its
// bounds less some insets, and clipped to its bounds. Labels, buttons and the text entry views
// are backed by one, so their text is in every rasterisation of the layer tree (snapshots and
// the window presenter alike).
//
// The text is laid out by the process's text engine (FreeType, HarfBuzz and fontconfig,
// loaded on the first text measured or drawn). When no font can be had, nothing is drawn and
// measure() gives an estimate so that layout still has sizes.
//
// Thread-safety: as Layer: all operations are safe from any thread; state is guarded by
// UILock, the layouts kept for reuse by a lock of their own. No callbacks.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/foundation/EdgeInsets.hpp"
#include "platform/ui/Layer.hpp"
#include "platform/ui/TextStyle.hpp"

namespace pindle::platform::ui {

struct TextLayout;
class TextLayer;
using TextLayerPtr = std::shared_ptr<TextLayer>;

class TextLayer : public Layer {
  public:
    static TextLayerPtr make();
    TextLayer() = default;

    std::string text() const;
    void setText(std::string text);
    TextStyle style() const;
    void setStyle(const TextStyle& style);
    EdgeInsets insets() const;
    void setInsets(const EdgeInsets& insets);
    // Whether the lines sit in the middle of the bounds (labels, buttons, fields) or start at
    // the top (text views). True by default.
    bool centresVertically() const;
    void setCentresVertically(bool centres);

    // The size the text takes when its lines are at most `maxWidth` points wide (infinity:
    // as wide as its paragraphs), insets not included; a line of 0.6 of the font size per
    // character, 1.2 sizes high, when no font can be had.
    Size measure(double maxWidth) const;
    // Whether the text drawn in the current bounds leaves something out (lines beyond the
    // limit, or an ellipsis in place of text).
    bool isTruncated() const;

  protected:
    void drawContents(GraphicsContext& context, const Rect& bounds) const override;

  private:
    struct Snapshot {
        std::string text;
        TextStyle style;
        EdgeInsets insets;
        bool centres = true;
    };
    Snapshot snapshot() const;
    // The layout of `text` in `style` within `maxWidth`, reusing a recent one; null when no
    // font can be had.
    std::shared_ptr<const TextLayout> layoutFor(const Snapshot& state, double maxWidth) const;

    // All guarded by UILock.
    std::string text_;
    TextStyle style_;
    EdgeInsets insets_;
    bool centresVertically_ = true;

    struct Kept {
        std::string text;
        TextStyle style;
        double maxWidth = 0;
        std::shared_ptr<const TextLayout> layout;
    };
    mutable std::mutex keptMutex_;
    mutable std::vector<Kept> kept_;  // guarded by keptMutex_; newest last
};

}  // namespace pindle::platform::ui
