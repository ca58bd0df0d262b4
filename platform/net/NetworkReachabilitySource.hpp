// NetworkReachabilitySource: where reachability references get their flags and their change
// events from. The seam that lets tests script the network: the process has one current
// source (by default the kernel-backed NetlinkReachabilitySource); a test installs a
// ScriptedReachabilitySource with setCurrent() and restores the default afterwards.
//
// A source answers flag reads for a target and reports changes to watchers. It may refuse to
// create a reference or to register a callback or a queue, which is how tests reach the
// failure paths of code above.
//
// Thread-safety: implementations are safe for concurrent use from any thread. Change
// handlers are called on a thread of the source's choosing (a background thread, or the
// thread that scripts a change), never while the source holds a lock.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "platform/net/NetworkReachabilityFlags.hpp"
#include "platform/net/NetworkReachabilityTarget.hpp"

namespace pindle::platform {

class NetworkReachabilitySource {
  public:
    using WatchId = std::uint64_t;
    // Called with the target's flags as the source saw them when it noticed a change.
    using ChangeHandler = std::function<void(NetworkReachabilityFlags flags)>;

    NetworkReachabilitySource() = default;
    virtual ~NetworkReachabilitySource() = default;
    NetworkReachabilitySource(const NetworkReachabilitySource&) = delete;
    NetworkReachabilitySource& operator=(const NetworkReachabilitySource&) = delete;

    // Whether a reference for `target` can be made.
    virtual bool canCreate(const NetworkReachabilityTarget& target) = 0;
    // The flags of `target` now; nothing when they cannot be read.
    virtual std::optional<NetworkReachabilityFlags> flags(
        const NetworkReachabilityTarget& target) = 0;
    // Whether a callback / a delivery queue may be registered for `target` now.
    virtual bool acceptsCallback(const NetworkReachabilityTarget&) { return true; }
    virtual bool acceptsDispatchQueue(const NetworkReachabilityTarget&) { return true; }

    // Starts reporting changes of `target`'s flags to `handler` until unwatch().
    // REQUIRES: handler is callable.
    virtual WatchId watch(const NetworkReachabilityTarget& target, ChangeHandler handler) = 0;
    // Stops reporting to that watch. A handler call already under way may still finish
    // after this returns; nothing starts afterwards.
    virtual void unwatch(WatchId id) = 0;

    // The process's current source (created on first use, never destroyed).
    static std::shared_ptr<NetworkReachabilitySource> current();
    // Installs `source` as the current one; nullptr restores the kernel-backed default.
    // References already made keep the source they were made with.
    static void setCurrent(std::shared_ptr<NetworkReachabilitySource> source);
};

}  // namespace pindle::platform
