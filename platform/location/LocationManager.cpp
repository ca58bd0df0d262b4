#include "platform/location/LocationManager.hpp"

#include "platform/dispatch/DispatchQueue.hpp"

namespace pindle::platform {

LocationManager::LocationManager(Private) : source_(LocationSource::current()) {}

std::shared_ptr<LocationManager> LocationManager::make() {
    return std::make_shared<LocationManager>(Private{});
}

bool LocationManager::locationServicesEnabled() {
    return LocationSource::current()->locationServicesEnabled();
}

AuthorizationStatus LocationManager::authorizationStatus() {
    return LocationSource::current()->authorizationStatus();
}

void LocationManager::setDelegate(const std::shared_ptr<LocationManagerDelegate>& delegate) {
    delegate_.set(delegate);
}

std::shared_ptr<LocationManagerDelegate> LocationManager::delegate() const {
    return delegate_.get();
}

void LocationManager::setDesiredAccuracy(double meters) {
    std::lock_guard lock(mutex_);
    desiredAccuracy_ = meters;
}

void LocationManager::setDistanceFilter(double meters) {
    std::lock_guard lock(mutex_);
    distanceFilter_ = meters;
}

double LocationManager::desiredAccuracy() const {
    std::lock_guard lock(mutex_);
    return desiredAccuracy_;
}

double LocationManager::distanceFilter() const {
    std::lock_guard lock(mutex_);
    return distanceFilter_;
}

void LocationManager::requestWhenInUseAuthorization() {
    source_->requestWhenInUseAuthorization();
}

void LocationManager::startUpdatingLocation() {
    {
        std::lock_guard lock(mutex_);
        updating_ = true;
    }
    source_->startUpdating(shared_from_this());
}

void LocationManager::stopUpdatingLocation() {
    {
        std::lock_guard lock(mutex_);
        updating_ = false;
    }
    source_->stopUpdating(shared_from_this());
}

bool LocationManager::isUpdating() const {
    std::lock_guard lock(mutex_);
    return updating_;
}

void LocationManager::deliverLocations(std::vector<Location> locations) {
    auto self = shared_from_this();
    DispatchQueue::main()->async([self, locations = std::move(locations)] {
        if (auto delegate = self->delegate())
            delegate->didUpdateLocations(*self, locations);
    });
}

void LocationManager::deliverError(Error error) {
    auto self = shared_from_this();
    DispatchQueue::main()->async([self, error = std::move(error)] {
        if (auto delegate = self->delegate())
            delegate->didFailWithError(*self, error);
    });
}

void LocationManager::deliverAuthorizationStatus(AuthorizationStatus status) {
    auto self = shared_from_this();
    DispatchQueue::main()->async([self, status] {
        if (auto delegate = self->delegate())
            delegate->didChangeAuthorizationStatus(*self, status);
    });
}

}  // namespace pindle::platform
