// Location: a place on Earth, the stand-in for the platform's location object.
//
// Thread-safety: a plain value type.
#pragma once

#include "platform/foundation/Date.hpp"

namespace pindle::platform {

struct LocationCoordinate2D {
    double latitude = 0;
    double longitude = 0;
    bool operator==(const LocationCoordinate2D&) const = default;
};

class Location {
  public:
    // `horizontalAccuracy`: the radius in metres the fix is good to; negative when unknown.
    Location(double latitude, double longitude, Date timestamp = Date::now(),
             double horizontalAccuracy = -1)
        : coordinate_{latitude, longitude},
          timestamp_(timestamp),
          horizontalAccuracy_(horizontalAccuracy) {}

    const LocationCoordinate2D& coordinate() const { return coordinate_; }
    Date timestamp() const { return timestamp_; }
    double horizontalAccuracy() const { return horizontalAccuracy_; }

  private:
    LocationCoordinate2D coordinate_;
    Date timestamp_;
    double horizontalAccuracy_;
};

}  // namespace pindle::platform
