#include "platform/location/ScriptedLocationSource.hpp"

#include "platform/location/LocationManager.hpp"

namespace pindle::platform {

bool ScriptedLocationSource::locationServicesEnabled() const {
    std::lock_guard lock(mutex_);
    return enabled_;
}

AuthorizationStatus ScriptedLocationSource::authorizationStatus() const {
    std::lock_guard lock(mutex_);
    return status_;
}

void ScriptedLocationSource::requestWhenInUseAuthorization() {
    std::lock_guard lock(mutex_);
    ++requests_;
}

void ScriptedLocationSource::startUpdating(const std::shared_ptr<LocationManager>& manager) {
    std::lock_guard lock(mutex_);
    for (const auto& entry : managers_) {
        if (entry.lock() == manager)
            return;
    }
    managers_.push_back(manager);
}

void ScriptedLocationSource::stopUpdating(const std::shared_ptr<LocationManager>& manager) {
    std::lock_guard lock(mutex_);
    std::erase_if(managers_, [&](const std::weak_ptr<LocationManager>& entry) {
        auto strong = entry.lock();
        return !strong || strong == manager;
    });
}

void ScriptedLocationSource::setEnabled(bool enabled) {
    std::lock_guard lock(mutex_);
    enabled_ = enabled;
}

void ScriptedLocationSource::setAuthorizationStatus(AuthorizationStatus status) {
    std::lock_guard lock(mutex_);
    status_ = status;
}

int ScriptedLocationSource::authorizationRequests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::size_t ScriptedLocationSource::updatingManagers() const {
    return updating().size();
}

std::vector<std::shared_ptr<LocationManager>> ScriptedLocationSource::updating() const {
    std::lock_guard lock(mutex_);
    std::vector<std::shared_ptr<LocationManager>> result;
    for (const auto& entry : managers_) {
        if (auto manager = entry.lock())
            result.push_back(std::move(manager));
    }
    return result;
}

void ScriptedLocationSource::fix(const Location& location) {
    for (const auto& manager : updating()) manager->deliverLocations({location});
}

void ScriptedLocationSource::fail(const Error& error) {
    for (const auto& manager : updating()) manager->deliverError(error);
}

void ScriptedLocationSource::changeAuthorization(AuthorizationStatus status) {
    setAuthorizationStatus(status);
    for (const auto& manager : updating()) manager->deliverAuthorizationStatus(status);
}

}  // namespace pindle::platform
