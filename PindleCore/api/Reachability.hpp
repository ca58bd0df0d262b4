// Reachability: watches whether a host name, or the network in general, can be reached, and
// over which kind of interface (Wi-Fi or cellular). It wraps one platform reachability
// reference, reads its flags afresh for every query and, while the notifier runs, reports
// each change of the flags by calling whenReachable or whenUnreachable and by posting
// ReachabilityChangedNotification (object: the monitor, no user info) on its notification
// center. Only a host application makes monitors; nothing in the SDK does.
//
// Not to be confused with the legacy pindle::legacy::Reachability: the two share nothing.
//
// Threading. The first evaluation after startNotifier() runs on the monitor's own serial
// queue ("uk.co.brennock.reachability"), so its callback and notification arrive there. Every
// later change arrives on the main queue. start, stop and the queries run on the caller's
// thread. All operations are safe from any thread: the fields are guarded by a lock, and no
// lock is held while whenReachable/whenUnreachable run or while the notification is posted.
// The platform callback holds the monitor weakly, so a monitor whose last owner lets go is
// destroyed (stopping its notifier) and hears nothing more; evaluations already queued keep it
// alive until they have run.
#pragma once

#include <netinet/in.h>

#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/foundation/Error.hpp"
#include "platform/foundation/NotificationCenter.hpp"
#include "platform/foundation/Object.hpp"
#include "platform/net/NetworkReachability.hpp"

namespace pindle {

// Posted on the monitor's notification center at every reported change.
inline constexpr const char* ReachabilityChangedNotification = "ReachabilityChangedNotification";

// What startNotifier() throws; the two creation cases exist for hosts' own use (the
// monitor's factories report a failed creation by returning null).
class ReachabilityError : public std::exception {
  public:
    enum class Case {
        FailedToCreateWithAddress,
        FailedToCreateWithHostname,
        UnableToSetCallback,
        UnableToSetDispatchQueue,
    };

    static ReachabilityError failedToCreateWithAddress(const sockaddr_in& address);
    static ReachabilityError failedToCreateWithHostname(std::string hostname);
    static ReachabilityError unableToSetCallback();
    static ReachabilityError unableToSetDispatchQueue();

    Case errorCase() const { return case_; }
    // The payload of FailedToCreateWithAddress.
    const std::optional<sockaddr_in>& address() const { return address_; }
    // The payload of FailedToCreateWithHostname.
    const std::optional<std::string>& hostname() const { return hostname_; }

    // The case's name.
    const char* what() const noexcept override;
    // As a platform error: domain "PindleCore.ReachabilityError", code the case's position.
    platform::Error asError() const;

  private:
    explicit ReachabilityError(Case errorCase) : case_(errorCase) {}

    Case case_;
    std::optional<sockaddr_in> address_;
    std::optional<std::string> hostname_;
};

class Reachability final : public platform::Object {
    struct PrivateTag {};

  public:
    enum class NetworkStatus { notReachable, reachableViaWiFi, reachableViaWWAN };
    using Callback = std::function<void(Reachability& reachability)>;

    static constexpr const char* kSerialQueueLabel = "uk.co.brennock.reachability";

    // A monitor for `reachabilityRef` (which may be null: such a monitor never reports and
    // reads every flag as clear).
    static std::shared_ptr<Reachability> make(
        std::shared_ptr<platform::NetworkReachability> reachabilityRef);
    // A monitor for the host `hostname`; null when the platform makes no reference for it.
    static std::shared_ptr<Reachability> make(const std::string& hostname);
    // A monitor for the network in general (the zero IPv4 address); null when the platform
    // makes no reference for it.
    static std::shared_ptr<Reachability> make();

    Reachability(PrivateTag, std::shared_ptr<platform::NetworkReachability> reachabilityRef);
    // Stops the notifier.
    ~Reachability() override;
    Reachability(const Reachability&) = delete;
    Reachability& operator=(const Reachability&) = delete;

    // Called when a change leaves the target reachable / unreachable. Unset by default.
    Callback whenReachable() const;
    void setWhenReachable(Callback callback);
    Callback whenUnreachable() const;
    void setWhenUnreachable(Callback callback);
    // Whether a target reachable only over the cellular interface counts as reachable.
    // True by default.
    bool reachableOnWWAN() const;
    void setReachableOnWWAN(bool reachableOnWWAN);
    // Where ReachabilityChangedNotification is posted; the default center unless set.
    // REQUIRES (set): center is not null.
    std::shared_ptr<platform::NotificationCenter> notificationCenter() const;
    void setNotificationCenter(std::shared_ptr<platform::NotificationCenter> center);

    // Starts reporting changes. The first start always reports once, on the serial queue,
    // because nothing has been reported yet; a restart reports only if the flags moved since
    // the last report. Does nothing without a reference or when already running.
    // Throws ReachabilityError (UnableToSetCallback or UnableToSetDispatchQueue) when the
    // platform refuses a registration; the monitor is then stopped and may be started again.
    void startNotifier();
    // Stops reporting. Never fails; stopping a stopped monitor does nothing.
    void stopNotifier();

    bool isReachable() const;
    bool isReachableViaWiFi() const;
    bool isReachableViaWWAN() const;
    NetworkStatus currentReachabilityStatus() const;
    // "No Connection", "WiFi" or "Cellular".
    std::string currentReachabilityString() const;
    // Ten characters for the current flags: cellular "W", reachable "R", a blank, then
    // connection required "c", transient "t", intervention required "i", connection on traffic
    // "C", connection on demand "D", local address "l", direct "d"; "-" for each clear bit.
    std::string description() const override;

  private:
    platform::NetworkReachabilityFlags reachabilityFlags() const;
    void reachabilityChanged();
    void stopNotifierHoldingNotifierMutex();
    static void callback(platform::NetworkReachability& reachability,
                         platform::NetworkReachabilityFlags flags,
                         const platform::NetworkReachability::Context& context);

    const std::shared_ptr<platform::NetworkReachability> reachabilityRef_;
    const std::shared_ptr<platform::DispatchQueue> reachabilitySerialQueue_;

    // Serialises startNotifier() and stopNotifier(); never taken on a callback path.
    std::mutex notifierMutex_;

    mutable std::mutex mutex_;
    Callback whenReachable_;                                            // guarded by mutex_
    Callback whenUnreachable_;                                          // guarded by mutex_
    bool reachableOnWWAN_ = true;                                       // guarded by mutex_
    std::shared_ptr<platform::NotificationCenter> notificationCenter_;  // guarded by mutex_
    std::optional<platform::NetworkReachabilityFlags> previousFlags_;   // guarded by mutex_
    bool notifierRunning_ = false;                                      // guarded by mutex_
};

// "No Connection", "WiFi" or "Cellular".
std::string description(Reachability::NetworkStatus status);

}  // namespace pindle
