// PrivateDBus: a dbus-daemon of the test's own, listening on a socket in a scratch folder of
// the test process, so D-Bus code is tested against a real bus without touching the
// machine's system or session bus. Services the test needs are started on it as children.
//
// Thread-safety: use from one thread.
#pragma once

#include <memory>
#include <string>

#include "tests/support/ChildProcess.hpp"

namespace pindle::testing {

class PrivateDBus {
  public:
    // Null, with `why`, when dbus-daemon is not installed or does not come up.
    static std::unique_ptr<PrivateDBus> start(std::string* why);
    ~PrivateDBus();
    PrivateDBus(const PrivateDBus&) = delete;
    PrivateDBus& operator=(const PrivateDBus&) = delete;

    // "unix:path=..." for clients.
    const std::string& address() const { return address_; }
    const std::string& folder() const { return folder_; }

    PrivateDBus(std::string folder, std::unique_ptr<ChildProcess> daemon, std::string address)
        : folder_(std::move(folder)), daemon_(std::move(daemon)), address_(std::move(address)) {}

  private:
    std::string folder_;
    std::unique_ptr<ChildProcess> daemon_;
    std::string address_;
};

}  // namespace pindle::testing
