// PulseLibrary: libpulse, the sound server's client library, opened with dlopen the first time
// the process reaches for the sound server rather than when the platform library loads, so a
// process that never plays or records sound never maps it (nor the dozen libraries it needs).
//
// Every libpulse function the platform calls is listed in PINDLE_PULSE_FUNCTIONS and reached
// through a pointer resolved once; this header redefines each name as a macro naming that
// pointer, so code that includes it calls libpulse as usual. A call to a function missing
// from the list fails to link, since the platform library does not link libpulse.
//
// Nothing outside platform/ (and its tests) includes this header; libpulse's own headers are
// included only here.
//
// Thread-safety: loading happens once, under the C++ runtime's static-initialisation lock;
// afterwards the table is read-only. No callbacks.
#pragma once

#include <pulse/pulseaudio.h>
#include <pulse/thread-mainloop.h>

#include <string>

#include "platform/foundation/Error.hpp"

#define PINDLE_PULSE_FUNCTIONS(X)          \
    X(pa_bytes_to_usec)                    \
    X(pa_context_connect)                  \
    X(pa_context_disconnect)               \
    X(pa_context_errno)                    \
    X(pa_context_get_server_info)          \
    X(pa_context_get_sink_info_by_name)    \
    X(pa_context_get_sink_input_info)      \
    X(pa_context_get_sink_input_info_list) \
    X(pa_context_get_state)                \
    X(pa_context_new)                      \
    X(pa_context_set_sink_input_mute)      \
    X(pa_context_set_sink_input_volume)    \
    X(pa_context_set_sink_volume_by_name)  \
    X(pa_context_set_state_callback)       \
    X(pa_context_set_subscribe_callback)   \
    X(pa_context_subscribe)                \
    X(pa_context_unref)                    \
    X(pa_cvolume_avg)                      \
    X(pa_cvolume_set)                      \
    X(pa_cvolume_valid)                    \
    X(pa_frame_size)                       \
    X(pa_operation_cancel)                 \
    X(pa_operation_get_state)              \
    X(pa_operation_unref)                  \
    X(pa_stream_connect_playback)          \
    X(pa_stream_connect_record)            \
    X(pa_stream_cork)                      \
    X(pa_stream_disconnect)                \
    X(pa_stream_drop)                      \
    X(pa_stream_flush)                     \
    X(pa_stream_get_index)                 \
    X(pa_stream_get_latency)               \
    X(pa_stream_get_state)                 \
    X(pa_stream_get_time)                  \
    X(pa_stream_get_timing_info)           \
    X(pa_stream_new)                       \
    X(pa_stream_peek)                      \
    X(pa_stream_readable_size)             \
    X(pa_stream_set_read_callback)         \
    X(pa_stream_set_started_callback)      \
    X(pa_stream_set_state_callback)        \
    X(pa_stream_set_write_callback)        \
    X(pa_stream_unref)                     \
    X(pa_stream_update_timing_info)        \
    X(pa_stream_writable_size)             \
    X(pa_stream_write)                     \
    X(pa_strerror)                         \
    X(pa_sw_volume_from_linear)            \
    X(pa_sw_volume_to_linear)              \
    X(pa_threaded_mainloop_free)           \
    X(pa_threaded_mainloop_get_api)        \
    X(pa_threaded_mainloop_in_thread)      \
    X(pa_threaded_mainloop_lock)           \
    X(pa_threaded_mainloop_new)            \
    X(pa_threaded_mainloop_signal)         \
    X(pa_threaded_mainloop_start)          \
    X(pa_threaded_mainloop_stop)           \
    X(pa_threaded_mainloop_unlock)         \
    X(pa_threaded_mainloop_wait)           \
    X(pa_usec_to_bytes)

namespace pindle::platform::pulse {

class PulseLibrary {
  public:
    // The loaded table, loading it on the first call; null when the library or a function is
    // missing, with `error` (when given) saying what could not be loaded.
    static const PulseLibrary* load(Error* error = nullptr);

    // The loaded table. Reaching libpulse after load() failed is a programming error (every
    // entry point checks load() first): the process stops with a message.
    static const PulseLibrary& shared();

    // True once load() has been called in this process, whatever it answered; a test shows
    // with it that a process which plays no sound never opened the library.
    static bool wasLoadAttempted();

    PulseLibrary(const PulseLibrary&) = delete;
    PulseLibrary& operator=(const PulseLibrary&) = delete;

#define PINDLE_PULSE_MEMBER(function) decltype(&::function) function = nullptr;
    PINDLE_PULSE_FUNCTIONS(PINDLE_PULSE_MEMBER)
#undef PINDLE_PULSE_MEMBER

  private:
    PulseLibrary() = default;
};

}  // namespace pindle::platform::pulse

#ifndef PINDLE_PULSE_NO_REDIRECT
#define PINDLE_PULSE(function) (::pindle::platform::pulse::PulseLibrary::shared().function)
#define pa_bytes_to_usec PINDLE_PULSE(pa_bytes_to_usec)
#define pa_context_connect PINDLE_PULSE(pa_context_connect)
#define pa_context_disconnect PINDLE_PULSE(pa_context_disconnect)
#define pa_context_errno PINDLE_PULSE(pa_context_errno)
#define pa_context_get_server_info PINDLE_PULSE(pa_context_get_server_info)
#define pa_context_get_sink_info_by_name PINDLE_PULSE(pa_context_get_sink_info_by_name)
#define pa_context_get_sink_input_info PINDLE_PULSE(pa_context_get_sink_input_info)
#define pa_context_get_sink_input_info_list PINDLE_PULSE(pa_context_get_sink_input_info_list)
#define pa_context_get_state PINDLE_PULSE(pa_context_get_state)
#define pa_context_new PINDLE_PULSE(pa_context_new)
#define pa_context_set_sink_input_mute PINDLE_PULSE(pa_context_set_sink_input_mute)
#define pa_context_set_sink_input_volume PINDLE_PULSE(pa_context_set_sink_input_volume)
#define pa_context_set_sink_volume_by_name PINDLE_PULSE(pa_context_set_sink_volume_by_name)
#define pa_context_set_state_callback PINDLE_PULSE(pa_context_set_state_callback)
#define pa_context_set_subscribe_callback PINDLE_PULSE(pa_context_set_subscribe_callback)
#define pa_context_subscribe PINDLE_PULSE(pa_context_subscribe)
#define pa_context_unref PINDLE_PULSE(pa_context_unref)
#define pa_cvolume_avg PINDLE_PULSE(pa_cvolume_avg)
#define pa_cvolume_set PINDLE_PULSE(pa_cvolume_set)
#define pa_cvolume_valid PINDLE_PULSE(pa_cvolume_valid)
#define pa_frame_size PINDLE_PULSE(pa_frame_size)
#define pa_operation_cancel PINDLE_PULSE(pa_operation_cancel)
#define pa_operation_get_state PINDLE_PULSE(pa_operation_get_state)
#define pa_operation_unref PINDLE_PULSE(pa_operation_unref)
#define pa_stream_connect_playback PINDLE_PULSE(pa_stream_connect_playback)
#define pa_stream_connect_record PINDLE_PULSE(pa_stream_connect_record)
#define pa_stream_cork PINDLE_PULSE(pa_stream_cork)
#define pa_stream_disconnect PINDLE_PULSE(pa_stream_disconnect)
#define pa_stream_drop PINDLE_PULSE(pa_stream_drop)
#define pa_stream_flush PINDLE_PULSE(pa_stream_flush)
#define pa_stream_get_index PINDLE_PULSE(pa_stream_get_index)
#define pa_stream_get_latency PINDLE_PULSE(pa_stream_get_latency)
#define pa_stream_get_state PINDLE_PULSE(pa_stream_get_state)
#define pa_stream_get_time PINDLE_PULSE(pa_stream_get_time)
#define pa_stream_get_timing_info PINDLE_PULSE(pa_stream_get_timing_info)
#define pa_stream_new PINDLE_PULSE(pa_stream_new)
#define pa_stream_peek PINDLE_PULSE(pa_stream_peek)
#define pa_stream_readable_size PINDLE_PULSE(pa_stream_readable_size)
#define pa_stream_set_read_callback PINDLE_PULSE(pa_stream_set_read_callback)
#define pa_stream_set_started_callback PINDLE_PULSE(pa_stream_set_started_callback)
#define pa_stream_set_state_callback PINDLE_PULSE(pa_stream_set_state_callback)
#define pa_stream_set_write_callback PINDLE_PULSE(pa_stream_set_write_callback)
#define pa_stream_unref PINDLE_PULSE(pa_stream_unref)
#define pa_stream_update_timing_info PINDLE_PULSE(pa_stream_update_timing_info)
#define pa_stream_writable_size PINDLE_PULSE(pa_stream_writable_size)
#define pa_stream_write PINDLE_PULSE(pa_stream_write)
#define pa_strerror PINDLE_PULSE(pa_strerror)
#define pa_sw_volume_from_linear PINDLE_PULSE(pa_sw_volume_from_linear)
#define pa_sw_volume_to_linear PINDLE_PULSE(pa_sw_volume_to_linear)
#define pa_threaded_mainloop_free PINDLE_PULSE(pa_threaded_mainloop_free)
#define pa_threaded_mainloop_get_api PINDLE_PULSE(pa_threaded_mainloop_get_api)
#define pa_threaded_mainloop_in_thread PINDLE_PULSE(pa_threaded_mainloop_in_thread)
#define pa_threaded_mainloop_lock PINDLE_PULSE(pa_threaded_mainloop_lock)
#define pa_threaded_mainloop_new PINDLE_PULSE(pa_threaded_mainloop_new)
#define pa_threaded_mainloop_signal PINDLE_PULSE(pa_threaded_mainloop_signal)
#define pa_threaded_mainloop_start PINDLE_PULSE(pa_threaded_mainloop_start)
#define pa_threaded_mainloop_stop PINDLE_PULSE(pa_threaded_mainloop_stop)
#define pa_threaded_mainloop_unlock PINDLE_PULSE(pa_threaded_mainloop_unlock)
#define pa_threaded_mainloop_wait PINDLE_PULSE(pa_threaded_mainloop_wait)
#define pa_usec_to_bytes PINDLE_PULSE(pa_usec_to_bytes)
#endif
