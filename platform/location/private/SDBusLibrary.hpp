// SDBusLibrary: libsystemd's D-Bus client (sd-bus), opened with dlopen the first time a process
// looks for a desktop service on D-Bus (the location service), so that a process that never
// asks for its position neither maps libsystemd nor pays for its initialisers.
//
// Every sd-bus function the platform calls is a member of the table, resolved once; callers
// write `SDBusLibrary::load()->sd_bus_new(...)`. sd-bus's own header is included only here
// and in the sources of platform/location.
//
// Thread-safety: loading happens once, under the C++ runtime's static-initialisation lock;
// afterwards the table is read-only. No callbacks. (An sd_bus connection itself is not
// thread-safe: each belongs to one thread.)
#pragma once

#include <systemd/sd-bus.h>

#include <string>

#define PINDLE_SDBUS_FUNCTIONS(X)     \
    X(sd_bus_new)                     \
    X(sd_bus_set_address)             \
    X(sd_bus_set_bus_client)          \
    X(sd_bus_start)                   \
    X(sd_bus_open_system)             \
    X(sd_bus_flush_close_unref)       \
    X(sd_bus_get_fd)                  \
    X(sd_bus_get_events)              \
    X(sd_bus_get_timeout)             \
    X(sd_bus_process)                 \
    X(sd_bus_call_async)              \
    X(sd_bus_match_signal_async)      \
    X(sd_bus_slot_unref)              \
    X(sd_bus_message_new_method_call) \
    X(sd_bus_message_append)          \
    X(sd_bus_message_unref)           \
    X(sd_bus_message_read)            \
    X(sd_bus_message_enter_container) \
    X(sd_bus_message_exit_container)  \
    X(sd_bus_message_skip)            \
    X(sd_bus_message_get_error)       \
    X(sd_bus_message_is_method_error) \
    X(sd_bus_error_free)

namespace pindle::platform {

class SDBusLibrary {
  public:
    // The loaded table, loading it on the first call; null when libsystemd or one of its
    // functions is missing, with `why` (when given) saying what.
    static const SDBusLibrary* load(std::string* why = nullptr);

    SDBusLibrary(const SDBusLibrary&) = delete;
    SDBusLibrary& operator=(const SDBusLibrary&) = delete;

#define PINDLE_SDBUS_MEMBER(function) decltype(&::function) function = nullptr;
    PINDLE_SDBUS_FUNCTIONS(PINDLE_SDBUS_MEMBER)
#undef PINDLE_SDBUS_MEMBER

  private:
    SDBusLibrary() = default;
};

}  // namespace pindle::platform
