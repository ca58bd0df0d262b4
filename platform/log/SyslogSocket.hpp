// SyslogSocket: the process's line to the host's log daemon, one datagram per record over a
// Unix datagram socket (normally "/dev/log"), in the daemon's traditional format
// "<priority>Mmm dd hh:mm:ss identity[pid]: text".
//
// The socket is opened and connected once and kept: a busy logger pays one send(2) per line,
// not a socket, a connect and a close. When the daemon restarts, the first send fails (the
// old peer is gone) and the line goes out again over a fresh connection. Without a daemon
// (no socket at the path) lines are dropped and each later line tries to connect once; that is
// not an error for the caller, who logs elsewhere too. A daemon that makes no room for a line
// within a tenth of a second loses it rather than stall the caller longer.
//
// Thread-safety: all operations are safe from any thread; the socket is guarded by one mutex
// held only across system calls. Nothing calls back.
#pragma once

#include <mutex>
#include <string>
#include <string_view>

namespace pindle::platform {

class SyslogSocket {
  public:
    static constexpr const char* defaultPath = "/dev/log";
    // The facility of every record: user-level messages.
    static constexpr int userFacility = 1 << 3;

    // The process's connection to "/dev/log" under the process name (created on first use,
    // never destroyed).
    static SyslogSocket& shared();

    SyslogSocket(std::string path, std::string identity);
    ~SyslogSocket();
    SyslogSocket(const SyslogSocket&) = delete;
    SyslogSocket& operator=(const SyslogSocket&) = delete;

    // Sends one record of `level` (0 emergency ... 7 debug; clamped). Returns false when the
    // line was dropped: no daemon, or it did not take the line even after a reconnection.
    bool send(int level, std::string_view text);

  private:
    // REQUIRES: mutex_ held.
    bool connectLocked();
    void closeLocked();

    const std::string path_;
    const std::string identity_;

    std::mutex mutex_;
    int socket_ = -1;         // guarded by mutex_
    bool connected_ = false;  // guarded by mutex_
};

}  // namespace pindle::platform
