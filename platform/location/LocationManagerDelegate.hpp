// LocationManagerDelegate: what a location manager reports to its owner, on the main queue.
// Every method has an empty default.
#pragma once

#include <vector>

#include "platform/foundation/Error.hpp"
#include "platform/location/AuthorizationStatus.hpp"
#include "platform/location/Location.hpp"

namespace pindle::platform {

class LocationManager;

class LocationManagerDelegate {
  public:
    virtual ~LocationManagerDelegate() = default;
    virtual void didUpdateLocations(LocationManager& manager,
                                    const std::vector<Location>& locations);
    virtual void didFailWithError(LocationManager& manager, const Error& error);
    virtual void didChangeAuthorizationStatus(LocationManager& manager, AuthorizationStatus status);
};

}  // namespace pindle::platform
