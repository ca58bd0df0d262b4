// ActivityIndicatorView: the spinning wheel. Animating is a state here (nothing is drawn
// turning); with hidesWhenStopped (the default) the view is hidden while stopped.
//
// Thread-safety: as View; state is guarded by UILock.
#pragma once

#include "platform/ui/View.hpp"

namespace pindle::platform::ui {

class ActivityIndicatorView;
using ActivityIndicatorViewPtr = std::shared_ptr<ActivityIndicatorView>;

class ActivityIndicatorView : public View {
  public:
    enum class Style { whiteLarge = 0, white = 1, gray = 2 };

    static ActivityIndicatorViewPtr make(Style style = Style::white);
    explicit ActivityIndicatorView(Style style);

    Style style() const { return style_; }
    void startAnimating();
    void stopAnimating();
    bool isAnimating() const;
    bool hidesWhenStopped() const;
    void setHidesWhenStopped(bool hides);

    // 37 points square for the large style, 20 for the others.
    Size intrinsicContentSize() const override;

  private:
    const Style style_;
    bool animating_ = false;        // guarded by UILock
    bool hidesWhenStopped_ = true;  // guarded by UILock
};

}  // namespace pindle::platform::ui
