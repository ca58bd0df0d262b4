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
    Location(double latitude, double longitude, Date timestamp = Date::now())
        : coordinate_{latitude, longitude}, timestamp_(timestamp) {}

    const LocationCoordinate2D& coordinate() const { return coordinate_; }
    Date timestamp() const { return timestamp_; }

  private:
    LocationCoordinate2D coordinate_;
    Date timestamp_;
};

}  // namespace pindle::platform
