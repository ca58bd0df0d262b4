// PNSlider: a horizontal slider with a hairline track and a large thumb drawn from the
// core bundle's "slider@2x" picture. It is meant to come from interface archives: the
// class registers with the Coder class registry under "PNSlider", and its set-up runs in
// awakeFromNib. Without its picture it stays a plain slider.
//
// The thumb is placed with single-precision arithmetic cut towards zero, and its x does not
// add the track's origin: at value 0 the thumb's centre is at x = 0.
//
// Thread-safety: as platform Slider: safe from any thread, interface work belongs on the
// main thread.
#pragma once

#include "platform/ui/Coder.hpp"
#include "platform/ui/Slider.hpp"

namespace pindle {

class PNSlider;
using PNSliderPtr = std::shared_ptr<PNSlider>;

class PNSlider : public platform::ui::Slider {
  public:
    static constexpr const char* className = "PNSlider";
    static constexpr double thumbSide = 60;
    static constexpr double thumbImageWidth = 40;

    static PNSliderPtr make(const platform::ui::Rect& frame);
    // Null when the archive does not decode.
    static PNSliderPtr make(const platform::ui::Coder& coder);
    explicit PNSlider(const platform::ui::Rect& frame) : Slider(frame) {}

    // Enables interaction and continuous values, then sets the thumb picture scaled to 40
    // points wide.
    void awakeFromNib();

    platform::ui::Rect trackRect(const platform::ui::Rect& bounds) const override;
    // A value or track width that is not finite, or a position beyond the int range, puts
    // the thumb's left edge at the nearest representable place (0 for NaN).
    platform::ui::Rect thumbRect(const platform::ui::Rect& bounds, const platform::ui::Rect& track,
                                 float value) const override;
};

}  // namespace pindle
