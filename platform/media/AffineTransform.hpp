// AffineTransform: a 2-D affine map in the platform's image coordinates (origin top left,
// y growing downwards): x' = a*x + c*y + tx, y' = b*x + d*y + ty.
//
// Video tracks use it as their preferred transform: the map from the stored frame to the
// picture as it should be shown (a portrait recording is stored landscape with a quarter
// turn here).
//
// Thread-safety: a plain value.
#pragma once

#include "platform/foundation/Size.hpp"

namespace pindle::platform {

struct AffineTransform {
    double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;

    static constexpr AffineTransform identity() { return AffineTransform{}; }

    // A clockwise turn by `degrees`, rounded to the nearest quarter turn, of a frame of
    // `size`, moved so that the turned frame again starts at the origin.
    static AffineTransform rotationInQuarterTurns(double degrees, Size size);

    // The clockwise angle of the rotating part, in degrees in [0, 360).
    double clockwiseRotationDegrees() const;
    // The rotation rounded to quarter turns: 0, 1, 2 or 3.
    int clockwiseQuarterTurns() const;
    bool isIdentity() const { return *this == identity(); }
    // The size of the box bounding a rectangle of `size` at the origin once mapped (the
    // displayed size of a frame turned by a preferred transform).
    Size boundingSize(Size size) const;

    bool operator==(const AffineTransform&) const = default;
};

}  // namespace pindle::platform
