// ScriptedReachabilitySource: a reachability source whose network a test writes. Every target
// reads the same scripted flags; fireChange() reports a change to every watcher on the
// calling thread, whether or not the flags moved, as a platform may. Creation, callback
// registration and queue attachment can be made to fail.
//
// Install it with NetworkReachabilitySource::setCurrent() before making references.
//
// Thread-safety: all operations are safe from any thread. Change handlers run on the thread
// that calls fireChange(), with no lock held.
#pragma once

#include <cstddef>
#include <map>
#include <mutex>
#include <optional>

#include "platform/net/NetworkReachabilitySource.hpp"

namespace pindle::platform {

class ScriptedReachabilitySource final : public NetworkReachabilitySource {
  public:
    explicit ScriptedReachabilitySource(
        std::optional<NetworkReachabilityFlags> flags = NetworkReachabilityFlag::reachable);

    // The flags every target reads from now on; nothing makes every read fail.
    void setFlags(std::optional<NetworkReachabilityFlags> flags);
    // Reports a change to every watcher, passing the current flags (the empty set when reads
    // fail).
    void fireChange();
    // Reports a change to every watcher passing `reported`, which need not be what a read
    // gives.
    void fireChange(NetworkReachabilityFlags reported);

    void setFailsCreation(bool fails);
    void setFailsCallback(bool fails);
    void setFailsDispatchQueue(bool fails);

    // How many times a callback was accepted, how many watches are active, how many flag
    // reads were answered.
    std::size_t acceptedCallbackCount() const;
    std::size_t watchCount() const;
    std::size_t flagReadCount() const;

    bool canCreate(const NetworkReachabilityTarget& target) override;
    std::optional<NetworkReachabilityFlags> flags(const NetworkReachabilityTarget& target) override;
    bool acceptsCallback(const NetworkReachabilityTarget& target) override;
    bool acceptsDispatchQueue(const NetworkReachabilityTarget& target) override;
    WatchId watch(const NetworkReachabilityTarget& target, ChangeHandler handler) override;
    void unwatch(WatchId id) override;

  private:
    mutable std::mutex mutex_;
    std::optional<NetworkReachabilityFlags> flags_;  // guarded by mutex_
    bool failsCreation_ = false;                     // guarded by mutex_
    bool failsCallback_ = false;                     // guarded by mutex_
    bool failsDispatchQueue_ = false;                // guarded by mutex_
    std::size_t acceptedCallbacks_ = 0;              // guarded by mutex_
    std::size_t flagReads_ = 0;                      // guarded by mutex_
    WatchId nextWatch_ = 1;                          // guarded by mutex_
    std::map<WatchId, ChangeHandler> watchers_;      // guarded by mutex_
};

}  // namespace pindle::platform
