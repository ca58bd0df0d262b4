// DBusConnection: one sd-bus client connection, run on a thread of its own.
//
// sd-bus connections are not thread-safe, so every use of the bus happens on that thread:
// post() hands it work, and call() and matchSignal(), which only that work may use, send a
// method call or add a signal match without blocking it. Every call has a deadline: a
// service that answers slowly or never produces a "NoReply" error when it passes, so
// nothing waits for ever.
//
// Handlers (replies, signals, the lost connection) run on the bus thread. Destroying the
// connection stops the thread and drops pending handlers without calling them.
//
// Thread-safety: post() from any thread; the destructor from any thread but the bus thread
// (REQUIRES: a connection is never destroyed by one of its own handlers); everything else on
// the bus thread only.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/location/private/SDBusLibrary.hpp"

namespace pindle::platform {

class DBusConnection {
  public:
    // `error` is null when the call succeeded; then `reply` is the answer.
    using ReplyHandler = std::function<void(sd_bus_message* reply, const sd_bus_error* error)>;
    using SignalHandler = std::function<void(sd_bus_message* signal)>;
    // Appends the call's arguments; returns a negative errno when it cannot.
    using Arguments = std::function<int(const SDBusLibrary& bus, sd_bus_message* call)>;

    // Connects to the bus at `address` ("unix:path=..."; empty for the system bus) and starts
    // the bus thread. Null, with `why`, when libsystemd or the bus cannot be reached; when no
    // system bus address is set and nothing is at the default socket, libsystemd is not loaded.
    // `lost` runs on the bus thread if the connection breaks later.
    static std::unique_ptr<DBusConnection> open(const std::string& address,
                                                std::function<void(const std::string& why)> lost,
                                                std::string* why);
    ~DBusConnection();
    DBusConnection(const DBusConnection&) = delete;
    DBusConnection& operator=(const DBusConnection&) = delete;

    void post(std::function<void()> work);
    // Stops the bus thread (waiting for the work or handler it runs) and drops what is
    // pending; later posts are ignored. The destructor stops it too. REQUIRES: not on the bus
    // thread.
    void stop();

    // REQUIRES (these three): on the bus thread.
    void call(const std::string& destination, const std::string& path, const std::string& interface,
              const std::string& member, const Arguments& arguments,
              std::chrono::microseconds timeout, ReplyHandler handler);
    // Signals of `interface`.`member` sent from `path`; `installed` hears whether the bus
    // accepted the match. Returns an identifier for removeMatch().
    std::uint64_t matchSignal(const std::string& path, const std::string& interface,
                              const std::string& member, SignalHandler handler,
                              ReplyHandler installed);
    void removeMatch(std::uint64_t id);

    const SDBusLibrary& library() const { return bus_; }

    struct Private {
        explicit Private() = default;
    };
    DBusConnection(Private, const SDBusLibrary& library, sd_bus* bus, int wakeFd,
                   std::function<void(const std::string&)> lost);

  private:
    // What sd-bus hands back as userdata: the map entry itself (map nodes do not move).
    struct PendingReply {
        DBusConnection* owner = nullptr;
        std::uint64_t id = 0;
        ReplyHandler handler;
    };
    struct Match {
        DBusConnection* owner = nullptr;
        std::uint64_t id = 0;
        sd_bus_slot* slot = nullptr;
        SignalHandler handler;
        ReplyHandler installed;
    };

    void run();
    static int onReply(sd_bus_message* reply, void* userdata, sd_bus_error* error);
    static int onSignal(sd_bus_message* signal, void* userdata, sd_bus_error* error);
    static int onMatchInstalled(sd_bus_message* reply, void* userdata, sd_bus_error* error);

    const SDBusLibrary& bus_;
    sd_bus* const connection_;
    const int wakeFd_;
    const std::function<void(const std::string&)> lost_;

    std::mutex mutex_;
    std::vector<std::function<void()>> work_;  // guarded by mutex_
    bool stopping_ = false;                    // guarded by mutex_

    // Bus thread only. Pending replies by identifier (the sd-bus userdata), so that a handler
    // the bus never calls is still freed with the connection.
    std::uint64_t nextId_ = 1;
    std::map<std::uint64_t, PendingReply> replies_;
    std::map<std::uint64_t, Match> matches_;
    bool broken_ = false;

    std::thread thread_;
};

}  // namespace pindle::platform
