// PBandwidthService: whether the device is off line, for the legacy classes.
//
// It watches the internet at large (legacy::Reachability for 0.0.0.0) and keeps offlineMode;
// when a reachability change flips it, it posts "kPCurrentBandwidthModeIsChangedNotification"
// (no object, no user info) on the main queue, where the change notifications arrive.
//
// Thread-safety: offlineMode() may be read from any thread.
#pragma once

#include <atomic>
#include <memory>

#include "PindleCore/device/Reachability.hpp"
#include "platform/foundation/NotificationCenter.hpp"

namespace pindle::legacy {

extern const char* const kPCurrentBandwidthModeIsChangedNotification;

class PBandwidthService {
  public:
    // The process-wide service, watching the internet through the platform's current
    // reachability source (created on first use).
    static PBandwidthService& getInstance();
    // Replaces the process-wide service (for example with one over a scripted reachability
    // source in tests); nullptr goes back to one over the current source, made on next use.
    // The replaced service stays alive for those still holding it.
    static void setInstance(std::shared_ptr<PBandwidthService> service);

    // A service watching `reachability` (tests give it one over a scripted source).
    explicit PBandwidthService(std::shared_ptr<Reachability> reachability);
    PBandwidthService(const PBandwidthService&) = delete;
    PBandwidthService& operator=(const PBandwidthService&) = delete;

    bool offlineMode() const { return offlineMode_.load(); }
    const std::shared_ptr<Reachability>& reachability() const { return reachability_; }

    // The observer of "kReachabilityChangedNotification".
    void bandwidthIsChanged(const platform::Notification& notification);

  private:
    bool isOffline() const;

    const std::shared_ptr<Reachability> reachability_;
    std::atomic<bool> offlineMode_{false};
    platform::NotificationCenter::ScopedRegistration registration_;
};

}  // namespace pindle::legacy
