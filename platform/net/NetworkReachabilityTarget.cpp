#include "platform/net/NetworkReachabilityTarget.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>

namespace pindle::platform {

namespace {

constexpr std::uint32_t loopbackNetworkMask = 0xff000000u;
constexpr std::uint32_t loopbackNetwork = 0x7f000000u;

const std::string& emptyName() {
    static const auto* empty = new std::string();
    return *empty;
}

}  // namespace

NetworkReachabilityTarget NetworkReachabilityTarget::hostName(std::string name) {
    NetworkReachabilityTarget target;
    target.hostName_ = std::move(name);
    return target;
}

std::optional<NetworkReachabilityTarget> NetworkReachabilityTarget::address(const sockaddr* address,
                                                                            socklen_t length) {
    if (address == nullptr || length < static_cast<socklen_t>(sizeof(sa_family_t))) {
        return std::nullopt;
    }
    socklen_t needed = 0;
    switch (address->sa_family) {
        case AF_INET:
            needed = sizeof(sockaddr_in);
            break;
        case AF_INET6:
            needed = sizeof(sockaddr_in6);
            break;
        default:
            return std::nullopt;
    }
    if (length < needed) {
        return std::nullopt;
    }
    NetworkReachabilityTarget target;
    std::memcpy(&target.address_, address, needed);
    return target;
}

NetworkReachabilityTarget NetworkReachabilityTarget::zeroAddress() {
    sockaddr_in zero{};
    zero.sin_family = AF_INET;
    return *address(reinterpret_cast<const sockaddr*>(&zero), sizeof(zero));
}

const std::string& NetworkReachabilityTarget::name() const {
    return hostName_ ? *hostName_ : emptyName();
}

bool NetworkReachabilityTarget::isZeroAddress() const {
    if (isHostName()) {
        return false;
    }
    if (address_.ss_family == AF_INET) {
        const auto& in = reinterpret_cast<const sockaddr_in&>(address_);
        return in.sin_addr.s_addr == htonl(INADDR_ANY);
    }
    const auto& in6 = reinterpret_cast<const sockaddr_in6&>(address_);
    return IN6_IS_ADDR_UNSPECIFIED(&in6.sin6_addr);
}

bool NetworkReachabilityTarget::isLoopback() const {
    if (isHostName()) {
        return *hostName_ == "localhost";
    }
    if (address_.ss_family == AF_INET) {
        const auto& in = reinterpret_cast<const sockaddr_in&>(address_);
        return (ntohl(in.sin_addr.s_addr) & loopbackNetworkMask) == loopbackNetwork;
    }
    const auto& in6 = reinterpret_cast<const sockaddr_in6&>(address_);
    return IN6_IS_ADDR_LOOPBACK(&in6.sin6_addr);
}

std::string NetworkReachabilityTarget::description() const {
    if (isHostName()) {
        return *hostName_;
    }
    char text[INET6_ADDRSTRLEN] = {};
    if (address_.ss_family == AF_INET) {
        const auto& in = reinterpret_cast<const sockaddr_in&>(address_);
        inet_ntop(AF_INET, &in.sin_addr, text, sizeof(text));
        return std::string(text) + ":" + std::to_string(ntohs(in.sin_port));
    }
    const auto& in6 = reinterpret_cast<const sockaddr_in6&>(address_);
    inet_ntop(AF_INET6, &in6.sin6_addr, text, sizeof(text));
    return "[" + std::string(text) + "]:" + std::to_string(ntohs(in6.sin6_port));
}

}  // namespace pindle::platform
