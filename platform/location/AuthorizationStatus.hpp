// AuthorizationStatus: what the user allowed the application to know of its position.
#pragma once

namespace pindle::platform {

enum class AuthorizationStatus {
    notDetermined = 0,
    restricted = 1,
    denied = 2,
    authorizedAlways = 3,
    authorizedWhenInUse = 4,
};

}  // namespace pindle::platform
