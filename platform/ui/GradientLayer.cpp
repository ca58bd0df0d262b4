#include "platform/ui/GradientLayer.hpp"

#include <algorithm>
#include <cmath>

namespace pindle::platform::ui {

std::vector<Color> GradientLayer::colors() const {
    std::lock_guard lock(mutex_);
    return colours_;
}

void GradientLayer::setColors(std::vector<Color> colours) {
    std::lock_guard lock(mutex_);
    colours_ = std::move(colours);
}

std::vector<double> GradientLayer::locations() const {
    std::lock_guard lock(mutex_);
    return locations_;
}

void GradientLayer::setLocations(std::vector<double> locations) {
    std::lock_guard lock(mutex_);
    locations_ = std::move(locations);
}

Point GradientLayer::startPoint() const {
    std::lock_guard lock(mutex_);
    return start_;
}

void GradientLayer::setStartPoint(Point point) {
    std::lock_guard lock(mutex_);
    start_ = point;
}

Point GradientLayer::endPoint() const {
    std::lock_guard lock(mutex_);
    return end_;
}

void GradientLayer::setEndPoint(Point point) {
    std::lock_guard lock(mutex_);
    end_ = point;
}

Color GradientLayer::colorAt(double fraction) const {
    std::lock_guard lock(mutex_);
    const std::size_t count = colours_.size();
    if (count == 0)
        return Color::clear();
    auto location = [&](std::size_t i) {
        if (locations_.size() == count)
            return locations_[i];
        return count == 1 ? 0.0 : static_cast<double>(i) / static_cast<double>(count - 1);
    };
    if (fraction <= location(0))
        return colours_.front();
    for (std::size_t i = 1; i < count; ++i) {
        const double low = location(i - 1), high = location(i);
        if (fraction > high)
            continue;
        const double t = high > low ? (fraction - low) / (high - low) : 1.0;
        const Color& a = colours_[i - 1];
        const Color& b = colours_[i];
        return Color{a.red + (b.red - a.red) * t, a.green + (b.green - a.green) * t,
                     a.blue + (b.blue - a.blue) * t, a.alpha + (b.alpha - a.alpha) * t};
    }
    return colours_.back();
}

void GradientLayer::drawContents(GraphicsContext& context, const Rect& bounds) const {
    const Point start = startPoint(), end = endPoint();
    if (start.y != end.y || start.x == end.x) {
        context.fill(bounds, colorAt(0));
        return;
    }
    // One strip per point across: fine enough for a mask's ramp at the scales snapshots use.
    const int strips = std::max(1, static_cast<int>(std::ceil(bounds.width())));
    const double stripWidth = bounds.width() / strips;
    for (int i = 0; i < strips; ++i) {
        const double unitX = (i + 0.5) / strips;
        const double fraction = (unitX - start.x) / (end.x - start.x);
        context.fill(
            Rect::make(bounds.minX() + i * stripWidth, bounds.minY(), stripWidth, bounds.height()),
            colorAt(fraction));
    }
}

}  // namespace pindle::platform::ui
