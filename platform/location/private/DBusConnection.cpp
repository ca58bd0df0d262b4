#include "platform/location/private/DBusConnection.hpp"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace pindle::platform {

namespace {

const char* describe(int negativeErrno) {
    return std::strerror(negativeErrno < 0 ? -negativeErrno : negativeErrno);
}

// Where the system bus listens when the environment names no other address.
constexpr const char* defaultSystemBusSocket = "/run/dbus/system_bus_socket";

// Whether a connection to the system bus could succeed at all: false only when no address is
// set in the environment and nothing is at the default socket's path, the common case of a
// container or a build machine. Lets a process without a system bus answer as sd-bus would
// (ENOENT) without mapping libsystemd and the libraries it brings.
bool systemBusMayExist() {
    const char* address = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    if (address && *address)
        return true;
    struct stat status {};
    return ::stat(defaultSystemBusSocket, &status) == 0 || errno != ENOENT;
}

std::uint64_t monotonicMicroseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000 +
           static_cast<std::uint64_t>(now.tv_nsec) / 1000;
}

}  // namespace

std::unique_ptr<DBusConnection> DBusConnection::open(const std::string& address,
                                                     std::function<void(const std::string&)> lost,
                                                     std::string* why) {
    const auto refuse = [&](std::string reason) -> std::unique_ptr<DBusConnection> {
        if (why)
            *why = std::move(reason);
        return nullptr;
    };
    if (address.empty() && !systemBusMayExist())
        return refuse(std::string("cannot connect to the system bus: ") + describe(ENOENT));
    std::string missing;
    const SDBusLibrary* library = SDBusLibrary::load(&missing);
    if (!library)
        return refuse("no D-Bus client library (" + missing + ")");
    sd_bus* bus = nullptr;
    int result = 0;
    if (address.empty()) {
        result = library->sd_bus_open_system(&bus);
    } else {
        result = library->sd_bus_new(&bus);
        if (result >= 0)
            result = library->sd_bus_set_address(bus, address.c_str());
        if (result >= 0)
            result = library->sd_bus_set_bus_client(bus, 1);
        if (result >= 0)
            result = library->sd_bus_start(bus);
    }
    if (result < 0) {
        if (bus)
            library->sd_bus_flush_close_unref(bus);
        return refuse(std::string("cannot connect to the ") +
                      (address.empty() ? "system bus" : "bus at " + address) + ": " +
                      describe(result));
    }
    const int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) {
        library->sd_bus_flush_close_unref(bus);
        return refuse(std::string("cannot make an event descriptor: ") + describe(errno));
    }
    auto connection =
        std::make_unique<DBusConnection>(Private{}, *library, bus, wake, std::move(lost));
    connection->thread_ = std::thread([raw = connection.get()] { raw->run(); });
    return connection;
}

DBusConnection::DBusConnection(Private, const SDBusLibrary& library, sd_bus* bus, int wakeFd,
                               std::function<void(const std::string&)> lost)
    : bus_(library), connection_(bus), wakeFd_(wakeFd), lost_(std::move(lost)) {}

DBusConnection::~DBusConnection() {
    stop();
    ::close(wakeFd_);
}

void DBusConnection::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(wakeFd_, &one, sizeof one);
    if (thread_.joinable())
        thread_.join();
}

void DBusConnection::post(std::function<void()> work) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_)
            return;
        work_.push_back(std::move(work));
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(wakeFd_, &one, sizeof one);
}

void DBusConnection::run() {
    for (;;) {
        std::vector<std::function<void()>> work;
        {
            std::lock_guard lock(mutex_);
            if (stopping_)
                break;
            work.swap(work_);
        }
        for (auto& item : work) item();

        int processed = 0;
        while (!broken_ && (processed = bus_.sd_bus_process(connection_, nullptr)) > 0) {
        }
        if (!broken_ && processed < 0) {
            broken_ = true;
            // Pending calls will never be answered now.
            std::map<std::uint64_t, PendingReply> orphans;
            orphans.swap(replies_);
            sd_bus_error lostError{SD_BUS_ERROR_NO_REPLY, "the connection to the bus was lost", 0};
            for (auto& [id, pending] : orphans)
                if (pending.handler)
                    pending.handler(nullptr, &lostError);
            if (lost_)
                lost_(std::string("the connection to the bus was lost: ") + describe(processed));
        }

        pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {-1, 0, 0}};
        nfds_t count = 1;
        int timeoutMs = -1;
        if (!broken_) {
            fds[1].fd = bus_.sd_bus_get_fd(connection_);
            const int events = bus_.sd_bus_get_events(connection_);
            fds[1].events = static_cast<short>(events > 0 ? events : 0);
            count = fds[1].fd >= 0 ? 2 : 1;
            std::uint64_t until = UINT64_MAX;
            if (bus_.sd_bus_get_timeout(connection_, &until) >= 0 && until != UINT64_MAX) {
                const std::uint64_t now = monotonicMicroseconds();
                const std::uint64_t left = until > now ? until - now : 0;
                timeoutMs = static_cast<int>(std::min<std::uint64_t>((left + 999) / 1000, INT_MAX));
            }
        }
        if (::poll(fds, count, timeoutMs) > 0 && (fds[0].revents & POLLIN)) {
            std::uint64_t drained = 0;
            [[maybe_unused]] const auto read = ::read(wakeFd_, &drained, sizeof drained);
        }
    }
    for (auto& [id, match] : matches_)
        if (match.slot)
            bus_.sd_bus_slot_unref(match.slot);
    matches_.clear();
    // Frees the pending calls' floating slots without calling them; the handlers go with
    // replies_ below.
    bus_.sd_bus_flush_close_unref(connection_);
    replies_.clear();
}

void DBusConnection::call(const std::string& destination, const std::string& path,
                          const std::string& interface, const std::string& member,
                          const Arguments& arguments, std::chrono::microseconds timeout,
                          ReplyHandler handler) {
    const auto fail = [&](const char* name, const std::string& text) {
        const sd_bus_error error{name, text.c_str(), 0};
        handler(nullptr, &error);
    };
    if (broken_)
        return fail(SD_BUS_ERROR_NO_REPLY, "the connection to the bus was lost");
    sd_bus_message* message = nullptr;
    int result =
        bus_.sd_bus_message_new_method_call(connection_, &message, destination.c_str(),
                                            path.c_str(), interface.c_str(), member.c_str());
    if (result >= 0 && arguments)
        result = arguments(bus_, message);
    const std::uint64_t id = nextId_++;
    if (result >= 0) {
        auto& pending = replies_[id];
        pending = PendingReply{this, id, std::move(handler)};
        result = bus_.sd_bus_call_async(connection_, nullptr, message, &DBusConnection::onReply,
                                        &pending, static_cast<std::uint64_t>(timeout.count()));
        if (result < 0) {
            handler = std::move(pending.handler);
            replies_.erase(id);
        }
    }
    if (message)
        bus_.sd_bus_message_unref(message);
    if (result < 0)
        fail(SD_BUS_ERROR_FAILED, std::string("cannot call ") + member + ": " + describe(result));
}

int DBusConnection::onReply(sd_bus_message* reply, void* userdata, sd_bus_error*) {
    auto* pending = static_cast<PendingReply*>(userdata);
    DBusConnection* self = pending->owner;
    ReplyHandler handler = std::move(pending->handler);
    self->replies_.erase(pending->id);
    const sd_bus_error* error = nullptr;
    if (self->bus_.sd_bus_message_is_method_error(reply, nullptr) > 0)
        error = self->bus_.sd_bus_message_get_error(reply);
    if (handler)
        handler(reply, error);
    return 0;
}

std::uint64_t DBusConnection::matchSignal(const std::string& path, const std::string& interface,
                                          const std::string& member, SignalHandler handler,
                                          ReplyHandler installed) {
    const std::uint64_t id = nextId_++;
    auto& match = matches_[id];
    match = Match{this, id, nullptr, std::move(handler), std::move(installed)};
    const int result = bus_.sd_bus_match_signal_async(
        connection_, &match.slot, nullptr, path.c_str(), interface.c_str(), member.c_str(),
        &DBusConnection::onSignal, &DBusConnection::onMatchInstalled, &match);
    if (result < 0) {
        ReplyHandler report = std::move(match.installed);
        matches_.erase(id);
        const std::string text = std::string("cannot watch ") + member + ": " + describe(result);
        const sd_bus_error error{SD_BUS_ERROR_FAILED, text.c_str(), 0};
        if (report)
            report(nullptr, &error);
    }
    return id;
}

void DBusConnection::removeMatch(std::uint64_t id) {
    const auto found = matches_.find(id);
    if (found == matches_.end())
        return;
    if (found->second.slot)
        bus_.sd_bus_slot_unref(found->second.slot);
    matches_.erase(found);
}

int DBusConnection::onSignal(sd_bus_message* signal, void* userdata, sd_bus_error*) {
    auto* match = static_cast<Match*>(userdata);
    // A copy: the handler may remove its own match.
    SignalHandler handler = match->handler;
    if (handler)
        handler(signal);
    return 0;
}

int DBusConnection::onMatchInstalled(sd_bus_message* reply, void* userdata, sd_bus_error*) {
    auto* match = static_cast<Match*>(userdata);
    DBusConnection* self = match->owner;
    ReplyHandler installed = std::move(match->installed);
    const sd_bus_error* error = nullptr;
    if (self->bus_.sd_bus_message_is_method_error(reply, nullptr) > 0)
        error = self->bus_.sd_bus_message_get_error(reply);
    if (installed)
        installed(reply, error);
    return 0;
}

}  // namespace pindle::platform
