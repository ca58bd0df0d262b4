#include "platform/location/LocationManagerDelegate.hpp"

namespace pindle::platform {

void LocationManagerDelegate::didUpdateLocations(LocationManager&, const std::vector<Location>&) {}
void LocationManagerDelegate::didFailWithError(LocationManager&, const Error&) {}
void LocationManagerDelegate::didChangeAuthorizationStatus(LocationManager&, AuthorizationStatus) {}

}  // namespace pindle::platform
