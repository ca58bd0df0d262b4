// NetlinkReachabilitySource: the reachability source of a Linux host, read from the kernel.
//
// The network counts as reachable when some interface other than loopback is up and running,
// carries an IPv4 or a global IPv6 address, and has a unicast route out through it. Host-name
// and address targets read those flags (no name is resolved); a loopback target (127.0.0.0/8,
// ::1, "localhost") is always reachable as a local, direct address. The cellular (WWAN) bit is
// never set.
//
// With the first watch, a background thread subscribes to the kernel's routing netlink events
// (links, addresses, routes) and recomputes the flags after each burst of them; each watcher
// hears only changes of its own target's flags. The thread runs until the source is
// destroyed, which wakes and joins it. Where netlink is unavailable the flags are still
// computed from the interfaces on every read, and no change is ever reported.
//
// Thread-safety: all operations are safe from any thread. Change handlers run on the
// background thread, with no lock held.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/net/NetworkReachabilitySource.hpp"

namespace pindle::platform {

class NetlinkReachabilitySource final : public NetworkReachabilitySource {
  public:
    NetlinkReachabilitySource();
    ~NetlinkReachabilitySource() override;

    // The flags of the network in general, computed now from the interfaces and routes.
    static NetworkReachabilityFlags computeNetworkFlags();

    // Whether the background thread is listening for kernel events.
    bool isListening() const;

    bool canCreate(const NetworkReachabilityTarget& target) override;
    std::optional<NetworkReachabilityFlags> flags(const NetworkReachabilityTarget& target) override;
    WatchId watch(const NetworkReachabilityTarget& target, ChangeHandler handler) override;
    void unwatch(WatchId id) override;

  private:
    struct Watcher {
        NetworkReachabilityTarget target;
        ChangeHandler handler;
        NetworkReachabilityFlags lastReported = 0;
    };

    static NetworkReachabilityFlags flagsForTarget(const NetworkReachabilityTarget& target,
                                                   NetworkReachabilityFlags network);
    // Opens the event socket and starts the thread; false when either fails.
    bool startListening();
    void listen(int eventSocket, int wakeFd);
    void recompute();

    mutable std::mutex mutex_;
    std::map<WatchId, Watcher> watchers_;  // guarded by mutex_
    WatchId nextWatch_ = 1;                // guarded by mutex_
    // The last computed network flags; kept only while listening keeps them current.
    std::optional<NetworkReachabilityFlags> networkFlags_;  // guarded by mutex_
    bool listenAttempted_ = false;                          // guarded by mutex_
    int wakeFd_ = -1;                                       // guarded by mutex_
    std::thread listener_;                                  // guarded by mutex_
};

}  // namespace pindle::platform
