#include "platform/media/AffineTransform.hpp"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <numbers>

namespace pindle::platform {

namespace {

constexpr double degreesPerQuarterTurn = 90;
constexpr int quarterTurnsPerTurn = 4;

int normalizedQuarterTurns(double degrees) {
    if (!std::isfinite(degrees))
        return 0;
    const long turns = std::lround(degrees / degreesPerQuarterTurn);
    return static_cast<int>(((turns % quarterTurnsPerTurn) + quarterTurnsPerTurn) %
                            quarterTurnsPerTurn);
}

}  // namespace

AffineTransform AffineTransform::rotationInQuarterTurns(double degrees, Size size) {
    switch (normalizedQuarterTurns(degrees)) {
        case 1:
            return AffineTransform{0, 1, -1, 0, size.height, 0};
        case 2:
            return AffineTransform{-1, 0, 0, -1, size.width, size.height};
        case 3:
            return AffineTransform{0, -1, 1, 0, 0, size.width};
        default:
            return identity();
    }
}

double AffineTransform::clockwiseRotationDegrees() const {
    double degrees = std::atan2(b, a) * 180.0 / std::numbers::pi;
    if (degrees < 0)
        degrees += 360.0;
    return degrees >= 360.0 ? 0.0 : degrees;
}

int AffineTransform::clockwiseQuarterTurns() const {
    return normalizedQuarterTurns(clockwiseRotationDegrees());
}

Size AffineTransform::boundingSize(Size size) const {
    // Corners of the rectangle: x' = a x + c y + tx, y' = b x + d y + ty; the translation
    // moves every corner alike and drops out.
    const double xs[] = {0, a * size.width, c * size.height, a * size.width + c * size.height};
    const double ys[] = {0, b * size.width, d * size.height, b * size.width + d * size.height};
    const auto [minX, maxX] = std::minmax_element(std::begin(xs), std::end(xs));
    const auto [minY, maxY] = std::minmax_element(std::begin(ys), std::end(ys));
    return {*maxX - *minX, *maxY - *minY};
}

}  // namespace pindle::platform
