// GeoClueStandIn: a small service that answers on a private bus as the desktop's location
// service (GeoClue2) does: a manager that hands out one client, whose DesktopId and
// RequestedAccuracyLevel properties can be set, whose Start and Stop methods work, and which
// signals LocationUpdated with location objects carrying Latitude, Longitude, Accuracy and
// Timestamp. Like the real service, it refuses to start a client without a desktop id; it
// also refuses one that did not ask for the exact accuracy level (8), so a test sees both.
//
// Written in Python (dbus-python and GLib, which python3-dbusmock brings), started as a child
// of the test on the bus it is given.
//
// Thread-safety: use from one thread.
#pragma once

#include <memory>
#include <string>

#include "tests/support/ChildProcess.hpp"

namespace pindle::testing {

class GeoClueStandIn {
  public:
    enum class Behaviour {
        fix,           // Start succeeds; one fix (48.8584, 2.2945, 10 m) stamped now follows
        staleFirst,    // as fix, but first a fix at (1, 1) stamped ten seconds ago
        refuse,        // Start fails with AccessDenied, as when the agent says no
        refuseClient,  // GetClient fails with AccessDenied, as for an application not allowed
        silent,        // GetClient is never answered
        silentStart,   // GetClient answers, Start never does
    };

    static constexpr double latitude = 48.8584;
    static constexpr double longitude = 2.2945;

    // Null, with `why`, when Python with dbus-python is missing or the service does not come
    // up on the bus at `address`.
    static std::unique_ptr<GeoClueStandIn> start(const std::string& address, Behaviour behaviour,
                                                 std::string* why);

    explicit GeoClueStandIn(std::unique_ptr<ChildProcess> process) : process_(std::move(process)) {}

  private:
    std::unique_ptr<ChildProcess> process_;
};

}  // namespace pindle::testing
