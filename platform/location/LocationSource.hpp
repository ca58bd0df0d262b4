// LocationSource: where positions come from. The process-wide source is replaceable. The
// default is chosen on first use: GeoClueLocationSource when the desktop's location service
// answers on the system bus, else DisabledLocationSource (location services off), saying
// which and why once in the log (DeviceChoiceLog, kind "location"). PINDLE_LOCATION=none
// forces the disabled source. Hosts may install their own source; tests install
// ScriptedLocationSource.
//
// Thread-safety: current() and setCurrent() are safe from any thread (the first current()
// may wait for the bus, up to GeoClueLocationSource's time-out); sources guard themselves.
#pragma once

#include <memory>
#include <string>

#include "platform/location/AuthorizationStatus.hpp"

namespace pindle::platform {

class LocationManager;

class LocationSource {
  public:
    static constexpr const char* environmentVariable = "PINDLE_LOCATION";

    virtual ~LocationSource() = default;
    virtual bool locationServicesEnabled() const = 0;
    virtual AuthorizationStatus authorizationStatus() const = 0;
    virtual void requestWhenInUseAuthorization() = 0;
    virtual void startUpdating(const std::shared_ptr<LocationManager>& manager) = 0;
    virtual void stopUpdating(const std::shared_ptr<LocationManager>& manager) = 0;
    // What the source is, for people ("GeoClue2 on the system bus", "location services
    // disabled (no GeoClue2 service on the bus)").
    virtual std::string description() const { return {}; }

    static std::shared_ptr<LocationSource> current();
    // nullptr makes the next current() choose the default again.
    static void setCurrent(std::shared_ptr<LocationSource> source);
};

class DisabledLocationSource final : public LocationSource {
  public:
    explicit DisabledLocationSource(std::string why = {}) : why_(std::move(why)) {}

    bool locationServicesEnabled() const override { return false; }
    AuthorizationStatus authorizationStatus() const override { return AuthorizationStatus::denied; }
    void requestWhenInUseAuthorization() override {}
    void startUpdating(const std::shared_ptr<LocationManager>&) override {}
    void stopUpdating(const std::shared_ptr<LocationManager>&) override {}
    std::string description() const override {
        return why_.empty() ? "location services disabled"
                            : "location services disabled (" + why_ + ")";
    }

  private:
    std::string why_;
};

}  // namespace pindle::platform
