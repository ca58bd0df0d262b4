// legacy::Reachability: the legacy part's view of one network target's reachability.
//
// It reads the target's flags through the platform's network reachability, turns them into a
// NetworkStatus, and, between startNotifier() and stopNotifier(), calls the optional blocks on
// its serial queue "com.harwick.reachability" and posts "kReachabilityChangedNotification"
// (object: this monitor) on the main queue whenever the flags change. While notifying it keeps
// itself alive.
//
// Unrelated to pindle::Reachability (the newer monitor): no code, state or notification shared.
//
// Thread-safety: all operations are safe from any thread; blocks run on the serial queue,
// never under the monitor's lock.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/foundation/Object.hpp"
#include "platform/net/NetworkReachability.hpp"

namespace pindle::legacy {

extern const char* const kReachabilityChangedNotification;

enum class NetworkStatus { NotReachable = 0, ReachableViaWWAN = 1, ReachableViaWiFi = 2 };

class Reachability : public platform::Object {
  public:
    using Block = std::function<void(Reachability&)>;

    static std::shared_ptr<Reachability> reachabilityWithHostname(const std::string& hostname);
    // The same, under the spelling older hosts call.
    static std::shared_ptr<Reachability> reachabilityWithHostName(const std::string& hostname) {
        return reachabilityWithHostname(hostname);
    }
    static std::shared_ptr<Reachability> reachabilityWithAddress(const sockaddr* address,
                                                                 socklen_t length);
    // 0.0.0.0: the internet at large.
    static std::shared_ptr<Reachability> reachabilityForInternetConnection();
    // 169.254.0.0: the local link.
    static std::shared_ptr<Reachability> reachabilityForLocalWiFi();

    explicit Reachability(std::shared_ptr<platform::NetworkReachability> reachabilityRef);
    ~Reachability() override;

    bool reachableOnWWAN() const;
    void setReachableOnWWAN(bool value);
    void setReachableBlock(Block block);
    void setUnreachableBlock(Block block);

    bool startNotifier();
    void stopNotifier();

    bool isReachable() const;
    bool isReachableViaWWAN() const;
    bool isReachableViaWiFi() const;
    bool isConnectionRequired() const;
    bool connectionRequired() const { return isConnectionRequired(); }
    bool isConnectionOnDemand() const;
    bool isInterventionRequired() const;
    // The raw flags; 0 when they cannot be read.
    platform::NetworkReachabilityFlags reachabilityFlags() const;
    NetworkStatus currentReachabilityStatus() const;
    // "Cellular", "WiFi" or "No Connection".
    std::string currentReachabilityString() const;
    // "WR ctiCDld", a letter where the flag is set and "-" where not.
    std::string currentReachabilityFlags() const;
    std::string description() const override;

    bool isReachableWithFlags(platform::NetworkReachabilityFlags flags) const;
    void reachabilityChanged(platform::NetworkReachabilityFlags flags);

  private:
    const std::shared_ptr<platform::NetworkReachability> reachabilityRef_;
    mutable std::mutex mutex_;
    bool reachableOnWWAN_ = true;                           // guarded by mutex_
    std::shared_ptr<platform::DispatchQueue> serialQueue_;  // guarded by mutex_
    Block reachableBlock_;                                  // guarded by mutex_
    Block unreachableBlock_;                                // guarded by mutex_
    std::shared_ptr<Reachability> reachabilityObject_;      // guarded by mutex_
};

}  // namespace pindle::legacy
