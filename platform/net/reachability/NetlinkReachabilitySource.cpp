#include "platform/net/reachability/NetlinkReachabilitySource.hpp"

#include <ifaddrs.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <set>
#include <system_error>
#include <utility>
#include <vector>

namespace pindle::platform {

namespace {

constexpr std::size_t receiveBufferSize = 64 * 1024;
constexpr int dumpTimeoutSeconds = 2;
constexpr unsigned eventGroups =
    RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE;
constexpr NetworkReachabilityFlags loopbackFlags = NetworkReachabilityFlag::reachable |
                                                   NetworkReachabilityFlag::isLocalAddress |
                                                   NetworkReachabilityFlag::isDirect;

// Closes a file descriptor on scope exit.
class FileDescriptor {
  public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

  private:
    int fd_;
};

bool isLinkLocal(const sockaddr* address) {
    if (address->sa_family != AF_INET6) {
        return false;
    }
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(address);
    return IN6_IS_ADDR_LINKLOCAL(&in6->sin6_addr);
}

// Interfaces other than loopback that are up, running and carry a usable address.
std::set<int> usableInterfaces() {
    std::set<int> result;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        return result;
    }
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        const sockaddr* address = entry->ifa_addr;
        if (address == nullptr ||
            (address->sa_family != AF_INET && address->sa_family != AF_INET6)) {
            continue;
        }
        const unsigned flags = entry->ifa_flags;
        if ((flags & IFF_UP) == 0 || (flags & IFF_RUNNING) == 0 || (flags & IFF_LOOPBACK) != 0 ||
            isLinkLocal(address)) {
            continue;
        }
        if (const unsigned index = ::if_nametoindex(entry->ifa_name); index != 0) {
            result.insert(static_cast<int>(index));
        }
    }
    ::freeifaddrs(list);
    return result;
}

void collectRouteInterfaces(const nlmsghdr* message, std::set<int>& interfaces) {
    const auto* route = static_cast<const rtmsg*>(NLMSG_DATA(message));
    if (route->rtm_type != RTN_UNICAST) {
        return;
    }
    int attributesLength = static_cast<int>(RTM_PAYLOAD(message));
    for (const rtattr* attribute = RTM_RTA(route); RTA_OK(attribute, attributesLength);
         attribute = RTA_NEXT(attribute, attributesLength)) {
        if (attribute->rta_type == RTA_OIF &&
            RTA_PAYLOAD(attribute) >= static_cast<int>(sizeof(int))) {
            interfaces.insert(*static_cast<const int*>(RTA_DATA(attribute)));
        } else if (attribute->rta_type == RTA_MULTIPATH) {
            const auto* hop = static_cast<const rtnexthop*>(RTA_DATA(attribute));
            int remaining = static_cast<int>(RTA_PAYLOAD(attribute));
            while (RTNH_OK(hop, remaining)) {
                interfaces.insert(hop->rtnh_ifindex);
                remaining -= static_cast<int>(RTNH_ALIGN(hop->rtnh_len));
                hop = RTNH_NEXT(hop);
            }
        }
    }
}

// Interfaces that some unicast route leaves through; nothing when the routes cannot be read.
std::optional<std::set<int>> routedInterfaces() {
    FileDescriptor socket(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
    if (socket.get() < 0) {
        return std::nullopt;
    }
    timeval timeout{dumpTimeoutSeconds, 0};
    ::setsockopt(socket.get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));

    constexpr std::uint32_t sequence = 1;
    struct {
        nlmsghdr header;
        rtmsg route;
    } request{};
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg));
    request.header.nlmsg_type = RTM_GETROUTE;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = sequence;
    request.route.rtm_family = AF_UNSPEC;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(socket.get(), &request, request.header.nlmsg_len, 0,
                 reinterpret_cast<const sockaddr*>(&kernel), sizeof(kernel)) < 0) {
        return std::nullopt;
    }

    std::set<int> interfaces;
    std::vector<std::uint8_t> buffer(receiveBufferSize);
    for (;;) {
        const ssize_t received = ::recv(socket.get(), buffer.data(), buffer.size(), 0);
        if (received < 0 && errno == EINTR) {
            continue;
        }
        if (received <= 0) {
            return std::nullopt;
        }
        auto remaining = static_cast<unsigned>(received);
        for (auto* message = reinterpret_cast<const nlmsghdr*>(buffer.data());
             NLMSG_OK(message, remaining); message = NLMSG_NEXT(message, remaining)) {
            if (message->nlmsg_seq != sequence) {
                continue;
            }
            if (message->nlmsg_type == NLMSG_DONE) {
                return interfaces;
            }
            if (message->nlmsg_type == NLMSG_ERROR) {
                return std::nullopt;
            }
            if (message->nlmsg_type == RTM_NEWROUTE) {
                collectRouteInterfaces(message, interfaces);
            }
        }
    }
}

bool isInterestingEvent(std::uint16_t type) {
    switch (type) {
        case RTM_NEWLINK:
        case RTM_DELLINK:
        case RTM_NEWADDR:
        case RTM_DELADDR:
        case RTM_NEWROUTE:
        case RTM_DELROUTE:
            return true;
        default:
            return false;
    }
}

// Reads every queued event; true when one of them may change reachability (or some were lost).
bool drainEvents(int eventSocket, std::vector<std::uint8_t>& buffer) {
    bool changed = false;
    for (;;) {
        const ssize_t received = ::recv(eventSocket, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (received < 0) {
            if (errno == EINTR) {
                continue;
            }
            // The kernel dropped events when our queue overflowed: assume the worst.
            return changed || errno == ENOBUFS;
        }
        if (received == 0) {
            return changed;
        }
        auto remaining = static_cast<unsigned>(received);
        for (auto* message = reinterpret_cast<const nlmsghdr*>(buffer.data());
             NLMSG_OK(message, remaining); message = NLMSG_NEXT(message, remaining)) {
            changed = changed || isInterestingEvent(message->nlmsg_type);
        }
    }
}

}  // namespace

NetlinkReachabilitySource::NetlinkReachabilitySource() = default;

NetlinkReachabilitySource::~NetlinkReachabilitySource() {
    std::thread listener;
    int wakeFd = -1;
    {
        std::scoped_lock lock(mutex_);
        listener = std::move(listener_);
        wakeFd = std::exchange(wakeFd_, -1);
    }
    if (wakeFd >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] auto written = ::write(wakeFd, &one, sizeof(one));
    }
    if (listener.joinable()) {
        listener.join();
    }
    if (wakeFd >= 0) {
        ::close(wakeFd);
    }
}

NetworkReachabilityFlags NetlinkReachabilitySource::computeNetworkFlags() {
    const auto usable = usableInterfaces();
    if (usable.empty()) {
        return 0;
    }
    const auto routed = routedInterfaces();
    if (!routed) {
        // Routes unreadable (no netlink here): an interface that is up with an address is the
        // best evidence left.
        return NetworkReachabilityFlag::reachable;
    }
    for (const int index : usable) {
        if (routed->count(index) != 0) {
            return NetworkReachabilityFlag::reachable;
        }
    }
    return 0;
}

bool NetlinkReachabilitySource::isListening() const {
    std::scoped_lock lock(mutex_);
    return listener_.joinable();
}

bool NetlinkReachabilitySource::canCreate(const NetworkReachabilityTarget& target) {
    return !target.isHostName() || !target.name().empty();
}

std::optional<NetworkReachabilityFlags> NetlinkReachabilitySource::flags(
    const NetworkReachabilityTarget& target) {
    if (target.isLoopback()) {
        return loopbackFlags;
    }
    std::optional<NetworkReachabilityFlags> cached;
    {
        std::scoped_lock lock(mutex_);
        cached = networkFlags_;
    }
    return flagsForTarget(target, cached ? *cached : computeNetworkFlags());
}

NetworkReachabilitySource::WatchId NetlinkReachabilitySource::watch(
    const NetworkReachabilityTarget& target, ChangeHandler handler) {
    const auto current = flags(target).value_or(0);
    std::scoped_lock lock(mutex_);
    const auto id = nextWatch_++;
    watchers_.emplace(id, Watcher{target, std::move(handler), current});
    if (!listenAttempted_) {
        listenAttempted_ = true;
        startListening();
    }
    return id;
}

void NetlinkReachabilitySource::unwatch(WatchId id) {
    ChangeHandler released;
    std::scoped_lock lock(mutex_);
    if (auto found = watchers_.find(id); found != watchers_.end()) {
        released = std::move(found->second.handler);
        watchers_.erase(found);
    }
}

NetworkReachabilityFlags NetlinkReachabilitySource::flagsForTarget(
    const NetworkReachabilityTarget& target, NetworkReachabilityFlags network) {
    return target.isLoopback() ? loopbackFlags : network;
}

bool NetlinkReachabilitySource::startListening() {
    FileDescriptor eventSocket(
        ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE));
    if (eventSocket.get() < 0) {
        return false;
    }
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    local.nl_groups = eventGroups;
    if (::bind(eventSocket.get(), reinterpret_cast<const sockaddr*>(&local), sizeof(local)) != 0) {
        return false;
    }
    FileDescriptor wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (wake.get() < 0) {
        return false;
    }
    try {
        listener_ =
            std::thread(&NetlinkReachabilitySource::listen, this, eventSocket.get(), wake.get());
    } catch (const std::system_error&) {
        return false;
    }
    eventSocket.release();  // the listener owns it now
    wakeFd_ = wake.release();
    return true;
}

void NetlinkReachabilitySource::listen(int eventSocketFd, int wakeFd) {
    FileDescriptor eventSocket(eventSocketFd);
    std::vector<std::uint8_t> buffer(receiveBufferSize);
    // Subscribed before this first computation, so no change after it goes unnoticed.
    recompute();
    for (;;) {
        std::array<pollfd, 2> fds{pollfd{eventSocket.get(), POLLIN, 0}, pollfd{wakeFd, POLLIN, 0}};
        if (::poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) {
            break;
        }
        if (fds[1].revents != 0 || (fds[0].revents & POLLNVAL) != 0) {
            break;
        }
        // POLLERR is how an overrun (ENOBUFS) shows; draining reads and clears it.
        if (fds[0].revents != 0 && drainEvents(eventSocket.get(), buffer)) {
            recompute();
        }
    }
    // Without the listener the cache would go stale; reads compute afresh again.
    std::scoped_lock lock(mutex_);
    networkFlags_.reset();
}

void NetlinkReachabilitySource::recompute() {
    const auto network = computeNetworkFlags();
    std::vector<std::pair<ChangeHandler, NetworkReachabilityFlags>> changes;
    {
        std::scoped_lock lock(mutex_);
        networkFlags_ = network;
        for (auto& [id, watcher] : watchers_) {
            const auto flags = flagsForTarget(watcher.target, network);
            if (flags != watcher.lastReported) {
                watcher.lastReported = flags;
                changes.emplace_back(watcher.handler, flags);
            }
        }
    }
    for (const auto& [handler, flags] : changes) {
        handler(flags);
    }
}

}  // namespace pindle::platform
