#include "PindleCore/widgets/PNSlider.hpp"

#include <cmath>
#include <limits>

#include "PindleCore/legacy/PBundle.hpp"
#include "platform/files/FileManager.hpp"

namespace pindle {
namespace {

namespace ui = platform::ui;

// `value` cut towards zero into the int range; NaN gives 0.
int truncatedToInt(float value) {
    if (std::isnan(value))
        return 0;
    constexpr float lowest = static_cast<float>(std::numeric_limits<int>::min());
    constexpr float highest = 2147483520.0f;  // the largest float below 2^31
    if (value <= lowest)
        return std::numeric_limits<int>::min();
    if (value >= highest)
        return static_cast<int>(highest);
    return static_cast<int>(value);
}

const bool registered = [] {
    ui::Coder::registerClass(PNSlider::className, [](const ui::Coder& coder) {
        return std::static_pointer_cast<platform::Object>(PNSlider::make(coder));
    });
    return true;
}();

}  // namespace

PNSliderPtr PNSlider::make(const ui::Rect& frame) {
    return std::make_shared<PNSlider>(frame);
}

PNSliderPtr PNSlider::make(const ui::Coder& coder) {
    auto slider = std::make_shared<PNSlider>(ui::Rect::zero());
    if (!slider->decode(coder))
        return nullptr;
    return slider;
}

void PNSlider::awakeFromNib() {
    (void)registered;
    setUserInteractionEnabled(true);
    setContinuous(true);
    auto bundle = legacy::frameworkBundle();
    auto path = bundle ? bundle->pathForResource("slider@2x", "png") : std::nullopt;
    if (path) {
        auto bytes = platform::FileManager::defaultManager().contentsOfFile(*path);
        auto picture = bytes ? platform::Image::fromData(*bytes) : nullptr;
        if (auto thumb = picture ? picture->resizedToWidth(thumbImageWidth) : nullptr)
            setThumbImage(std::move(thumb));
    }
}

ui::Rect PNSlider::trackRect(const ui::Rect& bounds) const {
    return ui::Rect::make(bounds.minX(), bounds.height() / 2 - 1, bounds.width(), 0.5);
}

ui::Rect PNSlider::thumbRect(const ui::Rect& bounds, const ui::Rect& track, float value) const {
    const int x = truncatedToInt(static_cast<float>(track.width()) * value - 30.0f);
    const int y = truncatedToInt(static_cast<float>((bounds.height() - thumbSide) / 2));
    return ui::Rect::make(x, y, thumbSide, thumbSide);
}

}  // namespace pindle
