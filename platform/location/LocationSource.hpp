// LocationSource: where positions come from. The process-wide source is replaceable; the
// default is DisabledLocationSource, since this Linux host has no positioning hardware or
// service: location services report themselves disabled. A host with a position to offer
// installs its own source; tests install ScriptedLocationSource.
//
// Thread-safety: current() and setCurrent() are safe from any thread; sources guard
// themselves.
#pragma once

#include <memory>

#include "platform/location/AuthorizationStatus.hpp"

namespace pindle::platform {

class LocationManager;

class LocationSource {
  public:
    virtual ~LocationSource() = default;
    virtual bool locationServicesEnabled() const = 0;
    virtual AuthorizationStatus authorizationStatus() const = 0;
    virtual void requestWhenInUseAuthorization() = 0;
    virtual void startUpdating(const std::shared_ptr<LocationManager>& manager) = 0;
    virtual void stopUpdating(const std::shared_ptr<LocationManager>& manager) = 0;

    static std::shared_ptr<LocationSource> current();
    // nullptr restores the default (disabled) source.
    static void setCurrent(std::shared_ptr<LocationSource> source);
};

class DisabledLocationSource final : public LocationSource {
  public:
    bool locationServicesEnabled() const override { return false; }
    AuthorizationStatus authorizationStatus() const override { return AuthorizationStatus::denied; }
    void requestWhenInUseAuthorization() override {}
    void startUpdating(const std::shared_ptr<LocationManager>&) override {}
    void stopUpdating(const std::shared_ptr<LocationManager>&) override {}
};

}  // namespace pindle::platform
