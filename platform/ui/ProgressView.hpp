// ProgressView: a bar filled to `progress` (0 to 1) from the left.
//
// Thread-safety: as View; state is guarded by UILock.
#pragma once

#include "platform/ui/View.hpp"

namespace pindle::platform::ui {

class ProgressView;
using ProgressViewPtr = std::shared_ptr<ProgressView>;

class ProgressView : public View {
  public:
    static ProgressViewPtr make(const Rect& frame = Rect::make(0, 0, 150, 2));
    explicit ProgressView(const Rect& frame);

    float progress() const;
    // Clamped to 0...1; `animated` is recorded (lastSetAnimated), the bar moves at once.
    void setProgress(float progress, bool animated = false);
    bool lastSetAnimated() const;
    Color progressTintColor() const;
    void setProgressTintColor(Color colour);

    Size intrinsicContentSize() const override;

  protected:
    void layoutSubviews() override;

  private:
    const LayerPtr fill_;
    float progress_ = 0;         // guarded by UILock
    bool lastAnimated_ = false;  // guarded by UILock
};

}  // namespace pindle::platform::ui
