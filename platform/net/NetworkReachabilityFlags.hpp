// NetworkReachabilityFlags: the 32-bit flag set that describes how a network target can be
// reached, with the bit values the phone platform publishes (code that tests these bits was
// written against those values, so they are kept exactly).
//
// Thread-safety: plain constants.
#pragma once

#include <cstdint>

namespace pindle::platform {

using NetworkReachabilityFlags = std::uint32_t;

namespace NetworkReachabilityFlag {
inline constexpr NetworkReachabilityFlags transientConnection = 1u << 0;
inline constexpr NetworkReachabilityFlags reachable = 1u << 1;
inline constexpr NetworkReachabilityFlags connectionRequired = 1u << 2;
inline constexpr NetworkReachabilityFlags connectionOnTraffic = 1u << 3;
inline constexpr NetworkReachabilityFlags interventionRequired = 1u << 4;
inline constexpr NetworkReachabilityFlags connectionOnDemand = 1u << 5;
inline constexpr NetworkReachabilityFlags isLocalAddress = 1u << 16;
inline constexpr NetworkReachabilityFlags isDirect = 1u << 17;
// Reachable over the cellular (WWAN) interface. Never set on Linux hosts.
inline constexpr NetworkReachabilityFlags isWWAN = 1u << 18;
}  // namespace NetworkReachabilityFlag

}  // namespace pindle::platform
