#include "platform/net/NetworkReachabilityTarget.hpp"

#include <gtest/gtest.h>
#include <netinet/in.h>

#include <arpa/inet.h>

namespace pindle::platform {
namespace {

NetworkReachabilityTarget fromText(int family, const char* text, std::uint16_t port) {
    if (family == AF_INET) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        inet_pton(AF_INET, text, &address.sin_addr);
        return *NetworkReachabilityTarget::address(reinterpret_cast<const sockaddr*>(&address),
                                                   sizeof(address));
    }
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_port = htons(port);
    inet_pton(AF_INET6, text, &address.sin6_addr);
    return *NetworkReachabilityTarget::address(reinterpret_cast<const sockaddr*>(&address),
                                               sizeof(address));
}

TEST(NetworkReachabilityTargetTest, ClassifiesAndDescribesTargets) {
    struct Case {
        NetworkReachabilityTarget target;
        bool zero;
        bool loopback;
        const char* description;
    };
    const std::vector<Case> cases = {
        {NetworkReachabilityTarget::zeroAddress(), true, false, "0.0.0.0:0"},
        {fromText(AF_INET6, "::", 0), true, false, "[::]:0"},
        {fromText(AF_INET, "127.0.0.1", 80), false, true, "127.0.0.1:80"},
        {fromText(AF_INET, "127.255.0.1", 0), false, true, "127.255.0.1:0"},
        {fromText(AF_INET, "128.0.0.1", 0), false, false, "128.0.0.1:0"},
        {fromText(AF_INET6, "::1", 443), false, true, "[::1]:443"},
        {fromText(AF_INET6, "2001:db8::5", 0), false, false, "[2001:db8::5]:0"},
        {NetworkReachabilityTarget::hostName("localhost"), false, true, "localhost"},
        {NetworkReachabilityTarget::hostName("video.example"), false, false, "video.example"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.target.isZeroAddress(), c.zero) << c.description;
        EXPECT_EQ(c.target.isLoopback(), c.loopback) << c.description;
        EXPECT_EQ(c.target.description(), c.description);
    }
}

}  // namespace
}  // namespace pindle::platform
