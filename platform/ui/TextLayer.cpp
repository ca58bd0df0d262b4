#include "platform/ui/TextLayer.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/ui/UIThreadChecker.hpp"
#include "platform/ui/private/TextEngine.hpp"
#include "platform/ui/private/UILock.hpp"

namespace pindle::platform::ui {

namespace {

// Layouts kept per layer: one for measuring unbounded, one for the bounds drawn in.
constexpr std::size_t keptLayouts = 2;
constexpr double estimatedCharacterWidth = 0.6;
constexpr double estimatedLineHeight = 1.2;

double availableWidth(const Rect& bounds, const EdgeInsets& insets) {
    return std::max(0.0, bounds.width() - insets.left - insets.right);
}

Size estimatedSize(const std::string& text, double pointSize) {
    if (text.empty())
        return Size{};
    const auto characters = std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    });
    return Size{estimatedCharacterWidth * pointSize * static_cast<double>(characters),
                estimatedLineHeight * pointSize};
}

}  // namespace

TextLayerPtr TextLayer::make() {
    return std::make_shared<TextLayer>();
}

std::string TextLayer::text() const {
    UIGuard lock(UILock::mutex());
    return text_;
}

void TextLayer::setText(std::string text) {
    UIThreadChecker::recordMutation("TextLayer::setText");
    UIGuard lock(UILock::mutex());
    text_ = std::move(text);
}

TextStyle TextLayer::style() const {
    UIGuard lock(UILock::mutex());
    return style_;
}

void TextLayer::setStyle(const TextStyle& style) {
    UIThreadChecker::recordMutation("TextLayer::setStyle");
    UIGuard lock(UILock::mutex());
    style_ = style;
}

EdgeInsets TextLayer::insets() const {
    UIGuard lock(UILock::mutex());
    return insets_;
}

void TextLayer::setInsets(const EdgeInsets& insets) {
    UIThreadChecker::recordMutation("TextLayer::setInsets");
    UIGuard lock(UILock::mutex());
    insets_ = insets;
}

bool TextLayer::centresVertically() const {
    UIGuard lock(UILock::mutex());
    return centresVertically_;
}

void TextLayer::setCentresVertically(bool centres) {
    UIThreadChecker::recordMutation("TextLayer::setCentresVertically");
    UIGuard lock(UILock::mutex());
    centresVertically_ = centres;
}

TextLayer::Snapshot TextLayer::snapshot() const {
    UIGuard lock(UILock::mutex());
    return Snapshot{text_, style_, insets_, centresVertically_};
}

std::shared_ptr<const TextLayout> TextLayer::layoutFor(const Snapshot& state,
                                                       double maxWidth) const {
    {
        std::lock_guard lock(keptMutex_);
        for (const Kept& kept : kept_) {
            if (kept.maxWidth == maxWidth && kept.style == state.style && kept.text == state.text)
                return kept.layout;
        }
    }
    auto layout = TextEngine::shared().layout(state.text, state.style, maxWidth);
    std::lock_guard lock(keptMutex_);
    if (kept_.size() == keptLayouts)
        kept_.erase(kept_.begin());
    kept_.push_back(Kept{state.text, state.style, maxWidth, layout});
    return layout;
}

Size TextLayer::measure(double maxWidth) const {
    const Snapshot state = snapshot();
    if (state.text.empty())
        return Size{};
    auto layout = layoutFor(state, maxWidth);
    if (!layout)
        return estimatedSize(state.text, state.style.font.pointSize);
    const Size size = layout->size();
    return Size{std::ceil(size.width), std::ceil(size.height)};
}

bool TextLayer::isTruncated() const {
    const Snapshot state = snapshot();
    if (state.text.empty())
        return false;
    auto layout = layoutFor(state, availableWidth(bounds(), state.insets));
    return layout && layout->truncated;
}

void TextLayer::drawContents(GraphicsContext& context, const Rect& bounds) const {
    Layer::drawContents(context, bounds);
    const Snapshot state = snapshot();
    if (state.text.empty() || state.style.colour.isClear())
        return;
    auto layout = layoutFor(state, availableWidth(bounds, state.insets));
    if (!layout)
        return;
    const Rect inner =
        Rect::make(bounds.minX() + state.insets.left, bounds.minY() + state.insets.top,
                   availableWidth(bounds, state.insets),
                   std::max(0.0, bounds.height() - state.insets.top - state.insets.bottom));
    context.saveState();
    context.clip(bounds);
    TextEngine::shared().draw(*layout, context, inner, state.style.alignment, state.style.colour,
                              state.centres);
    context.restoreState();
}

}  // namespace pindle::platform::ui
