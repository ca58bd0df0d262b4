#include "platform/log/SyslogSocket.hpp"

#include <errno.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <ctime>

namespace pindle::platform {

namespace {

constexpr int highestLevel = 7;  // debug
constexpr std::size_t timestampCapacity = 32;
// A daemon drains its queue (a handful of datagrams) in microseconds; one that has not made
// room by then is stuck, and the line is not worth stalling the caller's queue any longer.
constexpr timeval sendTimeout{0, 100'000};

// Errors after which the socket no longer reaches a daemon, though one may be listening again.
bool lostPeer(int error) {
    return error == ENOTCONN || error == ECONNREFUSED || error == EBADF || error == ECONNRESET;
}

std::string header(int level, const std::string& identity) {
    char timestamp[timestampCapacity] = "";
    std::time_t now = std::time(nullptr);
    std::tm local{};
    if (::localtime_r(&now, &local)) {
        std::strftime(timestamp, sizeof timestamp, "%b %e %T", &local);
    }
    return "<" + std::to_string(SyslogSocket::userFacility | std::clamp(level, 0, highestLevel)) +
           ">" + timestamp + " " + identity + "[" + std::to_string(::getpid()) + "]: ";
}

}  // namespace

SyslogSocket& SyslogSocket::shared() {
    static auto* socket = new SyslogSocket(defaultPath, program_invocation_short_name);
    return *socket;
}

SyslogSocket::SyslogSocket(std::string path, std::string identity)
    : path_(std::move(path)), identity_(std::move(identity)) {}

SyslogSocket::~SyslogSocket() {
    std::scoped_lock lock(mutex_);
    closeLocked();
}

bool SyslogSocket::send(int level, std::string_view text) {
    std::string line = header(level, identity_);
    line.append(text);
    std::scoped_lock lock(mutex_);
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!connected_ && !connectLocked()) {
            return false;
        }
        if (::send(socket_, line.data(), line.size(), MSG_NOSIGNAL) >= 0) {
            return true;
        }
        if (!lostPeer(errno)) {
            return false;  // a stuck daemon or an oversized line: drop this one, keep the socket
        }
        closeLocked();
    }
    return false;
}

bool SyslogSocket::connectLocked() {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path_.size() >= sizeof address.sun_path) {
        return false;
    }
    std::memcpy(address.sun_path, path_.c_str(), path_.size() + 1);
    if (socket_ < 0) {
        socket_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (socket_ < 0) {
            return false;
        }
        ::setsockopt(socket_, SOL_SOCKET, SO_SNDTIMEO, &sendTimeout, sizeof sendTimeout);
    }
    // An unconnected datagram socket may try again, so a missing daemon costs one connect a
    // line, not a new socket.
    connected_ =
        ::connect(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    return connected_;
}

void SyslogSocket::closeLocked() {
    if (socket_ >= 0) {
        ::close(socket_);
    }
    socket_ = -1;
    connected_ = false;
}

}  // namespace pindle::platform
