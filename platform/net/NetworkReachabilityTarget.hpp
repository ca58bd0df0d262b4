// NetworkReachabilityTarget: what a reachability reference watches: a host name, or a socket
// address (the zero IPv4 address standing for "the network in general").
//
// Thread-safety: a plain value type.
#pragma once

#include <sys/socket.h>

#include <optional>
#include <string>

namespace pindle::platform {

class NetworkReachabilityTarget {
  public:
    static NetworkReachabilityTarget hostName(std::string name);
    // Copies `length` bytes of `address`. Nothing when the address is null, is neither IPv4
    // nor IPv6, or is shorter than its family's address structure.
    static std::optional<NetworkReachabilityTarget> address(const sockaddr* address,
                                                            socklen_t length);
    // The zero IPv4 address (0.0.0.0, port 0).
    static NetworkReachabilityTarget zeroAddress();

    bool isHostName() const { return hostName_.has_value(); }
    // The host name; empty for an address target.
    const std::string& name() const;
    // The address; meaningful only for an address target.
    const sockaddr_storage& socketAddress() const { return address_; }

    // True for the zero address of either family.
    bool isZeroAddress() const;
    // True for an address in 127.0.0.0/8 or ::1, or for the host name "localhost".
    bool isLoopback() const;

    // "name" for a host, "ip:port" (IPv6 in brackets) for an address; for logs and tests.
    std::string description() const;

  private:
    NetworkReachabilityTarget() = default;

    std::optional<std::string> hostName_;
    sockaddr_storage address_{};
};

}  // namespace pindle::platform
