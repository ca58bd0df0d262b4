#include "platform/net/NetworkReachabilitySource.hpp"

#include <mutex>

#include "platform/net/reachability/NetlinkReachabilitySource.hpp"

namespace pindle::platform {

namespace {

struct CurrentSource {
    std::mutex mutex;
    std::shared_ptr<NetworkReachabilitySource> installed;  // guarded by mutex
};

CurrentSource& currentSource() {
    static auto* holder = new CurrentSource();
    return *holder;
}

std::shared_ptr<NetworkReachabilitySource> systemSource() {
    // Leaked on purpose: references made from it may outlive static destruction.
    static auto* source = new std::shared_ptr<NetworkReachabilitySource>(
        std::make_shared<NetlinkReachabilitySource>());
    return *source;
}

}  // namespace

std::shared_ptr<NetworkReachabilitySource> NetworkReachabilitySource::current() {
    auto& holder = currentSource();
    {
        std::scoped_lock lock(holder.mutex);
        if (holder.installed) {
            return holder.installed;
        }
    }
    return systemSource();
}

void NetworkReachabilitySource::setCurrent(std::shared_ptr<NetworkReachabilitySource> source) {
    auto& holder = currentSource();
    std::scoped_lock lock(holder.mutex);
    holder.installed = std::move(source);
}

}  // namespace pindle::platform
