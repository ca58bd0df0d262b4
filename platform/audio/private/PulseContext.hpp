// PulseContext: one connection to the desktop's sound server, served by a loop thread of its
// own (libpulse's threaded main loop). Playback streams, record streams and the server's
// introspection all hang off it: whoever uses it takes its Lock, calls libpulse on context(),
// and receives libpulse's callbacks on the loop thread.
//
// connect() never starts a server (autospawn is off): no server reachable is an answer, not a
// wait. Once the connection fails or the server goes away, isAlive() turns false and every
// disconnect handler runs once; the streams made on it fail on their own.
//
// Private to the platform library (it includes libpulse's headers).
//
// Thread-safety: all operations are safe from any thread. libpulse calls on context() and
// streams made on it need the Lock (the loop thread already holds it inside callbacks).
// Disconnect and event handlers run on the loop thread with the loop locked: they may call
// libpulse, and must not wait for a thread that takes the Lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/audio/private/PulseLibrary.hpp"
#include "platform/foundation/Error.hpp"

namespace pindle::platform::pulse {

class PulseContext {
  public:
    using Handler = std::function<void()>;
    // A subscription event: its facility and type bits, and the object's index.
    using EventHandler = std::function<void(pa_subscription_event_type_t, std::uint32_t)>;

    // Connects to `server` (empty: the default server, as libpulse finds it from the
    // environment and its configuration) under the client name `clientName`. Null, with
    // `error`, when the library cannot be loaded or no server answers.
    static std::shared_ptr<PulseContext> connect(const std::string& server,
                                                 const std::string& clientName, Error* error);

    ~PulseContext();
    PulseContext(const PulseContext&) = delete;
    PulseContext& operator=(const PulseContext&) = delete;

    // Holds the loop's lock (recursive) for a scope.
    class Lock {
      public:
        explicit Lock(const PulseContext& context);
        ~Lock();
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

      private:
        pa_threaded_mainloop* loop_;
    };

    pa_context* context() const { return context_; }
    pa_threaded_mainloop* loop() const { return loop_; }
    // The server's address as connected ("unix:/run/...").
    const std::string& server() const { return server_; }

    bool isAlive() const { return alive_.load(); }

    // Waits until `operation` is done and releases it; false when the connection ended first
    // (or `operation` is null). REQUIRES: the Lock held, on a thread other than the loop's.
    bool wait(pa_operation* operation);
    // Wakes every wait(); for callbacks of operations started by wait()'s callers.
    void signal();

    // Runs `handler` once when the connection ends (at once, on the caller's thread, when it
    // already has). The token removes it.
    int addDisconnectHandler(Handler handler);
    void removeDisconnectHandler(int token);

    // Subscribes the connection to the events of `mask` (added to what others subscribed)
    // and hands every event to `handler`. The token removes the handler.
    int addEventHandler(pa_subscription_mask_t mask, EventHandler handler);
    void removeEventHandler(int token);

    struct Private {
        explicit Private() = default;
    };
    PulseContext(Private, pa_threaded_mainloop* loop, pa_context* context);

  private:
    static void stateChanged(pa_context* context, void* userdata);
    static void eventArrived(pa_context* context, pa_subscription_event_type_t type,
                             std::uint32_t index, void* userdata);
    void ended();

    pa_threaded_mainloop* const loop_;
    pa_context* const context_;
    std::string server_;
    std::atomic<bool> alive_{true};

    std::mutex mutex_;
    std::vector<std::pair<int, Handler>> disconnectHandlers_;  // guarded by mutex_
    std::vector<std::pair<int, EventHandler>> eventHandlers_;  // guarded by mutex_
    std::uint32_t subscribed_ = 0;                             // guarded by mutex_
    int nextToken_ = 1;                                        // guarded by mutex_
    bool endedHandled_ = false;                                // guarded by mutex_
};

}  // namespace pindle::platform::pulse
