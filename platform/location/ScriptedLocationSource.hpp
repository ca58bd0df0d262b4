// ScriptedLocationSource: a location source a test drives: whether services are on, the
// permission, and fixes, failures and permission changes reported to the managers updating.
//
// Thread-safety: all operations are safe from any thread.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "platform/foundation/Error.hpp"
#include "platform/location/Location.hpp"
#include "platform/location/LocationSource.hpp"

namespace pindle::platform {

class ScriptedLocationSource final : public LocationSource {
  public:
    bool locationServicesEnabled() const override;
    AuthorizationStatus authorizationStatus() const override;
    void requestWhenInUseAuthorization() override;
    void startUpdating(const std::shared_ptr<LocationManager>& manager) override;
    void stopUpdating(const std::shared_ptr<LocationManager>& manager) override;

    void setEnabled(bool enabled);
    void setAuthorizationStatus(AuthorizationStatus status);
    int authorizationRequests() const;
    std::size_t updatingManagers() const;
    // Reports to every manager that is updating.
    void fix(const Location& location);
    void fail(const Error& error);
    void changeAuthorization(AuthorizationStatus status);

  private:
    std::vector<std::shared_ptr<LocationManager>> updating() const;

    mutable std::mutex mutex_;
    bool enabled_ = true;                                                    // guarded by mutex_
    AuthorizationStatus status_ = AuthorizationStatus::authorizedWhenInUse;  // guarded by mutex_
    int requests_ = 0;                                                       // guarded by mutex_
    std::vector<std::weak_ptr<LocationManager>> managers_;                   // guarded by mutex_
};

}  // namespace pindle::platform
