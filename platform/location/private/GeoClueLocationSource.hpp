// GeoClueLocationSource: positions from the desktop's location service, GeoClue2, on D-Bus.
//
// One GeoClue client serves every manager that updates: the first startUpdating() configures
// it (desktop id, the "exact" accuracy level that the nearest-ten-metres request asks for)
// and starts it; each LocationUpdated signal is read from the location object it names
// (latitude, longitude, accuracy, timestamp) and reported to the updating managers; the last
// stopUpdating() stops it.
//
// Permission: the desktop's agent decides when the client starts. Until it refuses, the
// source reports authorizedWhenInUse (the legacy services then start updates and so make the
// agent ask); a refusal (of GetClient or of Start) becomes denied, reported to the updating
// managers as an authorization change and by description(). A service that stops answering (each
// call has `Options::timeout`), or a lost bus, makes the source disabled: location services off,
// the updating managers told with an error whose description begins "location services disabled".
//
// Thread-safety: all operations are safe from any thread. The bus is used on a thread of the
// source's own; reports reach managers through LocationManager's deliver calls (so their
// delegates hear them on the main queue).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/location/LocationSource.hpp"

namespace pindle::platform {

class DBusConnection;

class GeoClueLocationSource final : public LocationSource,
                                    public std::enable_shared_from_this<GeoClueLocationSource> {
  public:
    static constexpr const char* serviceName = "org.freedesktop.GeoClue2";
    // GeoClue's accuracy levels: the nearest-ten-metres request asks for the best.
    static constexpr unsigned accuracyLevelExact = 8;
    // The error domain and code of the reports that say location services went away.
    static constexpr const char* errorDomain = "kCLErrorDomain";
    static constexpr std::int64_t errorLocationUnknown = 0;

    struct Options {
        // "unix:path=..." of the bus; empty for the system bus.
        std::string busAddress;
        // The desktop file name (without ".desktop") the agent shows when it asks.
        std::string desktopId = "pindle";
        // How long any one call to the service may take.
        std::chrono::milliseconds timeout{2000};
        // Whether this source is the process's choice (LocationSource::current()): a refusal
        // or a loss is then said once in the log as the choice's new answer.
        bool isProcessChoice = false;
    };

    // Connects and asks the service for a client. Null, with `why`, when that fails within
    // the timeout: no D-Bus library, no bus, no service on it, or a service that is silent.
    static std::shared_ptr<GeoClueLocationSource> connect(const Options& options,
                                                          std::string* why = nullptr);
    ~GeoClueLocationSource() override;

    bool locationServicesEnabled() const override;
    AuthorizationStatus authorizationStatus() const override;
    void requestWhenInUseAuthorization() override {}
    void startUpdating(const std::shared_ptr<LocationManager>& manager) override;
    void stopUpdating(const std::shared_ptr<LocationManager>& manager) override;
    std::string description() const override;

    // The client's object path ("" before the service gave one).
    std::string clientPath() const;

    struct Private {
        explicit Private() = default;
    };
    GeoClueLocationSource(Private, Options options);

  private:
    enum class Step { none, client, configured, started };

    // Bus thread only: moves the client toward what the managers want, one call at a time.
    void advance();
    void getClient(std::function<void(const std::string& why)> done);
    void configure();
    void start();
    void stop();
    void readLocation(const std::string& path);
    // Says what the source now is, when it is the process's choice.
    void sayChange();
    // A refusal: denied, told to the updating managers.
    void refuse();
    // The service is gone or silent: disabled, told to the updating managers.
    void disable(const std::string& why);
    std::vector<std::shared_ptr<LocationManager>> updatingManagers();
    // Whether any manager updates, without holding one.
    bool wanted();
    // Hands `report` the updating managers on a global queue.
    void tellManagers(std::function<void(LocationManager&)> report);

    const Options options_;
    std::unique_ptr<DBusConnection> bus_;

    std::atomic<bool> enabled_{true};
    std::atomic<AuthorizationStatus> status_{AuthorizationStatus::authorizedWhenInUse};

    mutable std::mutex mutex_;
    std::vector<std::weak_ptr<LocationManager>> managers_;  // guarded by mutex_
    std::string clientPath_;                                // guarded by mutex_
    std::string disabledWhy_;                               // guarded by mutex_

    // Bus thread only.
    Step step_ = Step::none;
    bool busy_ = false;
    std::uint64_t signalMatch_ = 0;
};

}  // namespace pindle::platform
