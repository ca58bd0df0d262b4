// Slider: a control that picks a value between a minimum and a maximum by dragging along a
// track. A touch that begins on the slider moves the value to the touch (value-changed
// while it moves when continuous, and at the end), then touch-up-inside or -outside.
// trackRect and thumbRect are virtual: subclasses reshape both the drawing and the mapping
// of a touch to a value.
//
// setValue records whether the last change asked for animation (lastSetAnimated), since
// the headless interface does not animate a thumb.
//
// Thread-safety: as Control.
#pragma once

#include "platform/ui/Control.hpp"

namespace pindle::platform::ui {

class Slider;
using SliderPtr = std::shared_ptr<Slider>;

class Slider : public Control {
  public:
    static SliderPtr make(const Rect& frame = Rect::zero());
    explicit Slider(const Rect& frame);

    float value() const;
    // Clamped to [minimumValue, maximumValue]; a value that is not a finite number is
    // refused. Sends no action, as on the phone platform.
    void setValue(float value, bool animated = false);
    bool lastSetAnimated() const;
    float minimumValue() const;
    void setMinimumValue(float value);
    float maximumValue() const;
    void setMaximumValue(float value);
    bool isContinuous() const;
    void setContinuous(bool continuous);
    ImagePtr thumbImage() const;
    void setThumbImage(ImagePtr image);

    // The track inside `bounds`: the full width less the thumb's, 4 points high, centred.
    virtual Rect trackRect(const Rect& bounds) const;
    // The thumb for `value` on `track`.
    virtual Rect thumbRect(const Rect& bounds, const Rect& track, float value) const;

  protected:
    void beginTracking(Point point) override;
    void continueTracking(Point point) override;
    void endTracking(Point point) override;
    void layoutSubviews() override;

  private:
    // Moves the value to `point`; true when it changed.
    bool track(Point point);

    static constexpr double kThumbSide = 28;
    // All guarded by UILock.
    float value_ = 0;
    float minimum_ = 0;
    float maximum_ = 1;
    bool continuous_ = true;
    bool lastAnimated_ = false;
    ImagePtr thumbImage_;
    LayerPtr trackLayer_;
    LayerPtr thumbLayer_;
};

}  // namespace pindle::platform::ui
