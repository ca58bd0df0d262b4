// LocationManager: the device's position, for the code that asks for it.
//
// A manager asks the current LocationSource for permission and for updates; the source
// reports fixes, failures and authorization changes, which reach the manager's delegate on the
// main queue.
//
// Thread-safety: all operations are safe from any thread; delegate calls arrive on the main
// queue with no lock held. The delegate is held weakly.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "platform/foundation/Error.hpp"
#include "platform/foundation/WeakDelegate.hpp"
#include "platform/location/AuthorizationStatus.hpp"
#include "platform/location/Location.hpp"
#include "platform/location/LocationManagerDelegate.hpp"
#include "platform/location/LocationSource.hpp"

namespace pindle::platform {

class LocationManager : public std::enable_shared_from_this<LocationManager> {
  public:
    static constexpr double accuracyNearestTenMeters = 10.0;
    static constexpr double distanceFilterNone = -1.0;

    static std::shared_ptr<LocationManager> make();
    static bool locationServicesEnabled();
    static AuthorizationStatus authorizationStatus();

    void setDelegate(const std::shared_ptr<LocationManagerDelegate>& delegate);
    void setDesiredAccuracy(double meters);
    void setDistanceFilter(double meters);
    double desiredAccuracy() const;
    double distanceFilter() const;

    void requestWhenInUseAuthorization();
    void startUpdatingLocation();
    void stopUpdatingLocation();
    bool isUpdating() const;

    // For sources: hand a report to the delegate on the main queue.
    void deliverLocations(std::vector<Location> locations);
    void deliverError(Error error);
    void deliverAuthorizationStatus(AuthorizationStatus status);

  private:
    struct Private {
        explicit Private() = default;
    };

  public:
    explicit LocationManager(Private);

  private:
    std::shared_ptr<LocationManagerDelegate> delegate() const;

    const std::shared_ptr<LocationSource> source_;
    WeakDelegate<LocationManagerDelegate> delegate_;
    mutable std::mutex mutex_;
    double desiredAccuracy_ = 0;                  // guarded by mutex_
    double distanceFilter_ = distanceFilterNone;  // guarded by mutex_
    bool updating_ = false;                       // guarded by mutex_
};

}  // namespace pindle::platform
