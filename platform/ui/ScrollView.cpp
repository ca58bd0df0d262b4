#include "platform/ui/ScrollView.hpp"

#include <algorithm>

namespace pindle::platform::ui {
namespace {

// The new offset on one axis: the least move that shows [low, high) in a window of
// `visible` starting at `offset`, kept within the content.
double axisOffset(double offset, double visible, double low, double high, double content) {
    if (high - low > visible)
        offset = low;
    else if (low < offset)
        offset = low;
    else if (high > offset + visible)
        offset = high - visible;
    return std::max(0.0, std::min(offset, std::max(0.0, content - visible)));
}

}  // namespace

ScrollViewPtr ScrollView::make(const Rect& frame) {
    return std::make_shared<ScrollView>(frame);
}

ScrollView::ScrollView(const Rect& frame) : View(frame) {}

Size ScrollView::contentSize() const {
    std::lock_guard lock(mutex_);
    return contentSize_;
}

void ScrollView::setContentSize(Size size) {
    std::lock_guard lock(mutex_);
    contentSize_ = size;
}

Point ScrollView::contentOffset() const {
    std::lock_guard lock(mutex_);
    return contentOffset_;
}

void ScrollView::setContentOffset(Point offset) {
    std::lock_guard lock(mutex_);
    contentOffset_ = offset;
}

void ScrollView::scrollRectToVisible(const Rect& rect, bool animated) {
    if (rect.isEmpty())
        return;
    const Size visible = bounds().size;
    std::lock_guard lock(mutex_);
    lastAnimated_ = animated;
    contentOffset_.x =
        axisOffset(contentOffset_.x, visible.width, rect.minX(), rect.maxX(), contentSize_.width);
    contentOffset_.y =
        axisOffset(contentOffset_.y, visible.height, rect.minY(), rect.maxY(), contentSize_.height);
}

bool ScrollView::lastScrollAnimated() const {
    std::lock_guard lock(mutex_);
    return lastAnimated_;
}

}  // namespace pindle::platform::ui
