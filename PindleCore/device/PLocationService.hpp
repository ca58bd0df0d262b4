// PLocationService: the device's last known latitude and longitude, for the legacy classes.
//
// Created by the legacy start-up, it asks for permission and runs location updates until the
// first fresh fix (at most 5 seconds old), a failure or a denial. A completion block handed to
// updateLocationCoordinates() is called at most once, on the main queue where the location
// reports arrive (or at once on the caller's thread when there is nothing to wait for), with the
// location (0, 0 when there is none), whether access was denied, and the error.
//
// Thread-safety: all operations are safe from any thread; the block is called without any
// lock held.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/foundation/Error.hpp"
#include "platform/location/LocationManager.hpp"

namespace pindle::legacy {

class PLocationService : public platform::LocationManagerDelegate,
                         public std::enable_shared_from_this<PLocationService> {
  public:
    using Completion = std::function<void(const platform::Location& location, bool denied,
                                          const std::optional<platform::Error>& error)>;

    static constexpr double maximumFixAge = 5.0;

    static PLocationService& getInstance();
    // A service over the current location source, already asking for updates.
    static std::shared_ptr<PLocationService> make();

    void updateLocationCoordinates(Completion completion);
    double lastLatitude() const { return lastLatitude_.load(); }
    double lastLongitude() const { return lastLongitude_.load(); }
    bool hasManager() const { return manager_ != nullptr; }

    void didUpdateLocations(platform::LocationManager& manager,
                            const std::vector<platform::Location>& locations) override;
    void didFailWithError(platform::LocationManager& manager,
                          const platform::Error& error) override;
    void didChangeAuthorizationStatus(platform::LocationManager& manager,
                                      platform::AuthorizationStatus status) override;

  private:
    struct Private {
        explicit Private() = default;
    };

  public:
    explicit PLocationService(Private) {}

  private:
    void start();
    // Takes the stored block, if any, and calls it.
    void complete(const platform::Location& location, bool denied,
                  const std::optional<platform::Error>& error);

    std::shared_ptr<platform::LocationManager> manager_;  // set once, in start()
    std::atomic<double> lastLatitude_{0.0};
    std::atomic<double> lastLongitude_{0.0};
    std::mutex mutex_;
    Completion completion_;  // guarded by mutex_
};

}  // namespace pindle::legacy
