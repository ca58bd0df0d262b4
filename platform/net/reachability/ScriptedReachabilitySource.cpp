#include "platform/net/reachability/ScriptedReachabilitySource.hpp"

#include <vector>

namespace pindle::platform {

ScriptedReachabilitySource::ScriptedReachabilitySource(
    std::optional<NetworkReachabilityFlags> flags)
    : flags_(flags) {}

void ScriptedReachabilitySource::setFlags(std::optional<NetworkReachabilityFlags> flags) {
    std::scoped_lock lock(mutex_);
    flags_ = flags;
}

void ScriptedReachabilitySource::fireChange() {
    NetworkReachabilityFlags reported = 0;
    {
        std::scoped_lock lock(mutex_);
        reported = flags_.value_or(0);
    }
    fireChange(reported);
}

void ScriptedReachabilitySource::fireChange(NetworkReachabilityFlags reported) {
    std::vector<ChangeHandler> handlers;
    {
        std::scoped_lock lock(mutex_);
        for (const auto& [id, handler] : watchers_) {
            handlers.push_back(handler);
        }
    }
    for (const auto& handler : handlers) {
        handler(reported);
    }
}

void ScriptedReachabilitySource::setFailsCreation(bool fails) {
    std::scoped_lock lock(mutex_);
    failsCreation_ = fails;
}

void ScriptedReachabilitySource::setFailsCallback(bool fails) {
    std::scoped_lock lock(mutex_);
    failsCallback_ = fails;
}

void ScriptedReachabilitySource::setFailsDispatchQueue(bool fails) {
    std::scoped_lock lock(mutex_);
    failsDispatchQueue_ = fails;
}

std::size_t ScriptedReachabilitySource::acceptedCallbackCount() const {
    std::scoped_lock lock(mutex_);
    return acceptedCallbacks_;
}

std::size_t ScriptedReachabilitySource::watchCount() const {
    std::scoped_lock lock(mutex_);
    return watchers_.size();
}

std::size_t ScriptedReachabilitySource::flagReadCount() const {
    std::scoped_lock lock(mutex_);
    return flagReads_;
}

bool ScriptedReachabilitySource::canCreate(const NetworkReachabilityTarget&) {
    std::scoped_lock lock(mutex_);
    return !failsCreation_;
}

std::optional<NetworkReachabilityFlags> ScriptedReachabilitySource::flags(
    const NetworkReachabilityTarget&) {
    std::scoped_lock lock(mutex_);
    ++flagReads_;
    return flags_;
}

bool ScriptedReachabilitySource::acceptsCallback(const NetworkReachabilityTarget&) {
    std::scoped_lock lock(mutex_);
    if (failsCallback_) {
        return false;
    }
    ++acceptedCallbacks_;
    return true;
}

bool ScriptedReachabilitySource::acceptsDispatchQueue(const NetworkReachabilityTarget&) {
    std::scoped_lock lock(mutex_);
    return !failsDispatchQueue_;
}

NetworkReachabilitySource::WatchId ScriptedReachabilitySource::watch(
    const NetworkReachabilityTarget&, ChangeHandler handler) {
    std::scoped_lock lock(mutex_);
    auto id = nextWatch_++;
    watchers_.emplace(id, std::move(handler));
    return id;
}

void ScriptedReachabilitySource::unwatch(WatchId id) {
    std::scoped_lock lock(mutex_);
    watchers_.erase(id);
}

}  // namespace pindle::platform
