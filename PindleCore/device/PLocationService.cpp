#include "PindleCore/device/PLocationService.hpp"

namespace pindle::legacy {

namespace {

platform::Location nowhere() {
    return platform::Location(0, 0);
}

}  // namespace

PLocationService& PLocationService::getInstance() {
    static auto* service = new std::shared_ptr<PLocationService>(make());  // never destroyed
    return **service;
}

std::shared_ptr<PLocationService> PLocationService::make() {
    auto service = std::make_shared<PLocationService>(Private{});
    service->start();
    return service;
}

void PLocationService::start() {
    if (!platform::LocationManager::locationServicesEnabled())
        return;
    manager_ = platform::LocationManager::make();
    manager_->setDelegate(shared_from_this());
    manager_->setDesiredAccuracy(platform::LocationManager::accuracyNearestTenMeters);
    manager_->setDistanceFilter(platform::LocationManager::distanceFilterNone);
    manager_->requestWhenInUseAuthorization();
    manager_->startUpdatingLocation();
}

void PLocationService::complete(const platform::Location& location, bool denied,
                                const std::optional<platform::Error>& error) {
    Completion completion;
    {
        std::lock_guard lock(mutex_);
        completion = std::move(completion_);
        completion_ = nullptr;
    }
    if (completion)
        completion(location, denied, error);
}

void PLocationService::updateLocationCoordinates(Completion completion) {
    {
        std::lock_guard lock(mutex_);
        completion_ = std::move(completion);
    }
    const platform::AuthorizationStatus status = platform::LocationManager::authorizationStatus();
    const bool authorized = status == platform::AuthorizationStatus::authorizedAlways ||
                            status == platform::AuthorizationStatus::authorizedWhenInUse;
    // Without a manager no fix can ever come: answer now rather than leave the caller waiting.
    if (!authorized || !manager_) {
        complete(nowhere(), false, std::nullopt);
        return;
    }
    manager_->startUpdatingLocation();
}

void PLocationService::didUpdateLocations(platform::LocationManager& manager,
                                          const std::vector<platform::Location>& locations) {
    if (locations.empty())
        return;
    const platform::Location& latest = locations.back();
    if (latest.timestamp().timeIntervalSinceNow() < -maximumFixAge)
        return;
    lastLatitude_.store(latest.coordinate().latitude);
    lastLongitude_.store(latest.coordinate().longitude);
    complete(latest, false, std::nullopt);
    manager.stopUpdatingLocation();
}

void PLocationService::didFailWithError(platform::LocationManager& manager,
                                        const platform::Error& error) {
    complete(nowhere(), false, error);
    manager.stopUpdatingLocation();
}

void PLocationService::didChangeAuthorizationStatus(platform::LocationManager& manager,
                                                    platform::AuthorizationStatus status) {
    if (status != platform::AuthorizationStatus::denied)
        return;
    manager.stopUpdatingLocation();
    complete(nowhere(), true, std::nullopt);
}

}  // namespace pindle::legacy
