// ScrollView: a view that shows part of a larger content area: contentSize is the area,
// contentOffset the point of it shown at the view's top left. scrollRectToVisible moves the
// offset by the least amount that brings a rectangle of the content into view. A headless
// build draws no scrolling, so the offset changes at once; whether the last scroll asked
// for animation is recorded for tests.
//
// Thread-safety: as View: safe from any thread, changes belong on the main thread. No
// callbacks.
#pragma once

#include <mutex>

#include "platform/ui/View.hpp"

namespace pindle::platform::ui {

class ScrollView;
using ScrollViewPtr = std::shared_ptr<ScrollView>;

class ScrollView : public View {
  public:
    static ScrollViewPtr make(const Rect& frame = Rect::zero());
    explicit ScrollView(const Rect& frame);

    Size contentSize() const;
    void setContentSize(Size size);
    Point contentOffset() const;
    void setContentOffset(Point offset);
    // Scrolls so that `rect` (in content coordinates) is visible, as far as the content
    // allows; an empty rectangle scrolls nothing.
    void scrollRectToVisible(const Rect& rect, bool animated);
    bool lastScrollAnimated() const;

  private:
    mutable std::mutex mutex_;
    Size contentSize_;           // guarded by mutex_
    Point contentOffset_;        // guarded by mutex_
    bool lastAnimated_ = false;  // guarded by mutex_
};

}  // namespace pindle::platform::ui
