// NetworkReachability: a reference to one watched network target (a host name or a socket
// address). It reads the target's reachability flags on demand and, once both a callback
// and a delivery queue are attached, calls the callback on that queue whenever its source
// reports a change.
//
// The callback gets a context whose information pointer is held weakly: the reference never
// keeps its owner alive, and the callback decides what to do when the owner is gone.
// Detaching the callback (setCallback with an empty one) or the queue waits until a callback
// running on another thread has returned, so once it returns no callback is running or will
// start. A callback may detach itself; that does not wait.
//
// A reference gets its flags and change events from the NetworkReachabilitySource current at
// creation (the kernel-backed one unless a test installed another).
//
// Thread-safety: all operations are safe from any thread. The callback runs on the attached
// queue, with no lock held.
#pragma once

#include <sys/socket.h>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/Executor.hpp"
#include "platform/net/NetworkReachabilityFlags.hpp"
#include "platform/net/NetworkReachabilitySource.hpp"
#include "platform/net/NetworkReachabilityTarget.hpp"

namespace pindle::platform {

class NetworkReachability : public std::enable_shared_from_this<NetworkReachability> {
    struct PrivateTag {};

  public:
    // What the callback receives besides the flags. `info` is the caller's own object, held
    // weakly.
    struct Context {
        std::weak_ptr<void> info;
    };
    using Callback = std::function<void(NetworkReachability& reference,
                                        NetworkReachabilityFlags flags, const Context& context)>;

    // A reference to the host `name` (UTF-8). Null when the source makes no reference for it.
    static std::shared_ptr<NetworkReachability> createWithName(
        const std::string& name,
        std::shared_ptr<NetworkReachabilitySource> source = NetworkReachabilitySource::current());
    // A reference to an IPv4 or IPv6 socket address of `length` bytes. Null when the address
    // is not one of those or the source makes no reference for it.
    static std::shared_ptr<NetworkReachability> createWithAddress(
        const sockaddr* address, socklen_t length,
        std::shared_ptr<NetworkReachabilitySource> source = NetworkReachabilitySource::current());

    NetworkReachability(PrivateTag, NetworkReachabilityTarget target,
                        std::shared_ptr<NetworkReachabilitySource> source);
    ~NetworkReachability();
    NetworkReachability(const NetworkReachability&) = delete;
    NetworkReachability& operator=(const NetworkReachability&) = delete;

    // Attaches `callback` with `context`, replacing any earlier one; an empty callback
    // detaches (and waits as described above). False when the source refuses the callback;
    // then the earlier registration is unchanged. Detaching always succeeds.
    bool setCallback(Callback callback, Context context = {});

    // Attaches the queue on which the callback is called; nullptr detaches (and waits as
    // described above). False when the source refuses the queue; then nothing is attached.
    // Detaching always succeeds.
    bool setDispatchQueue(std::shared_ptr<Executor> queue);

    // The target's flags now; nothing when they cannot be read.
    std::optional<NetworkReachabilityFlags> flags() const;

    const NetworkReachabilityTarget& target() const { return target_; }

  private:
    void deliver(std::uint64_t attachment, NetworkReachabilityFlags flags);
    // Waits until no callback runs on a thread other than the caller's.
    void waitForRunningCallbacks(std::unique_lock<std::mutex>& lock);

    const NetworkReachabilityTarget target_;
    const std::shared_ptr<NetworkReachabilitySource> source_;

    mutable std::mutex mutex_;
    Callback callback_;                                        // guarded by mutex_
    Context context_;                                          // guarded by mutex_
    std::shared_ptr<Executor> queue_;                          // guarded by mutex_
    std::optional<NetworkReachabilitySource::WatchId> watch_;  // guarded by mutex_
    // Bumped on every queue change so deliveries queued for an earlier queue are dropped.
    std::uint64_t attachment_ = 0;                     // guarded by mutex_
    std::vector<std::thread::id> callbacksRunningOn_;  // guarded by mutex_
    std::condition_variable callbackFinished_;
};

}  // namespace pindle::platform
