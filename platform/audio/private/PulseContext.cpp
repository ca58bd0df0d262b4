#include "platform/audio/private/PulseContext.hpp"

#include <algorithm>
#include <thread>

#include "platform/foundation/MediaError.hpp"

namespace pindle::platform::pulse {

namespace {

Error serverError(const std::string& what, int code) {
    return MediaError::make(MediaError::unknown,
                            what + ": " + (code ? pa_strerror(code) : "no answer"));
}

}  // namespace

PulseContext::Lock::Lock(const PulseContext& context) : loop_(context.loop_) {
    pa_threaded_mainloop_lock(loop_);
}

PulseContext::Lock::~Lock() {
    pa_threaded_mainloop_unlock(loop_);
}

std::shared_ptr<PulseContext> PulseContext::connect(const std::string& server,
                                                    const std::string& clientName, Error* error) {
    Error loadError;
    if (!PulseLibrary::load(&loadError)) {
        if (error)
            *error = loadError;
        return nullptr;
    }
    pa_threaded_mainloop* loop = pa_threaded_mainloop_new();
    if (!loop) {
        if (error)
            *error = serverError("The sound server's loop cannot be made", 0);
        return nullptr;
    }
    pa_context* raw = pa_context_new(pa_threaded_mainloop_get_api(loop), clientName.c_str());
    if (!raw) {
        pa_threaded_mainloop_free(loop);
        if (error)
            *error = serverError("The sound server's context cannot be made", 0);
        return nullptr;
    }
    auto context = std::make_shared<PulseContext>(Private{}, loop, raw);
    if (pa_threaded_mainloop_start(loop) < 0) {
        if (error)
            *error = serverError("The sound server's loop cannot start", 0);
        return nullptr;
    }
    int code = 0;
    {
        Lock lock(*context);
        pa_context_set_state_callback(raw, &PulseContext::stateChanged, context.get());
        // Never spawn a server: without one the platform plays silently.
        if (pa_context_connect(raw, server.empty() ? nullptr : server.c_str(),
                               PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            code = pa_context_errno(raw);
        } else {
            while (true) {
                const pa_context_state_t state = pa_context_get_state(raw);
                if (state == PA_CONTEXT_READY)
                    break;
                if (!PA_CONTEXT_IS_GOOD(state)) {
                    code = pa_context_errno(raw);
                    break;
                }
                pa_threaded_mainloop_wait(loop);
            }
        }
    }
    if (code || !context->isAlive()) {
        if (error)
            *error = serverError("No sound server answers", code);
        return nullptr;
    }
    context->server_ = server;
    return context;
}

PulseContext::PulseContext(Private, pa_threaded_mainloop* loop, pa_context* context)
    : loop_(loop), context_(context) {}

PulseContext::~PulseContext() {
    // The loop thread cannot stop itself; a last owner let go inside a callback hands the
    // teardown to a thread of its own.
    if (pa_threaded_mainloop_in_thread(loop_)) {
        std::thread([loop = loop_, context = context_] {
            pa_threaded_mainloop_lock(loop);
            pa_context_set_state_callback(context, nullptr, nullptr);
            pa_context_set_subscribe_callback(context, nullptr, nullptr);
            pa_context_disconnect(context);
            pa_context_unref(context);
            pa_threaded_mainloop_unlock(loop);
            pa_threaded_mainloop_stop(loop);
            pa_threaded_mainloop_free(loop);
        }).detach();
        return;
    }
    {
        Lock lock(*this);
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_set_subscribe_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
    }
    pa_threaded_mainloop_stop(loop_);
    pa_threaded_mainloop_free(loop_);
}

void PulseContext::stateChanged(pa_context* context, void* userdata) {
    auto* self = static_cast<PulseContext*>(userdata);
    const pa_context_state_t state = pa_context_get_state(context);
    if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) {
        self->alive_.store(false);
        self->ended();
    }
    pa_threaded_mainloop_signal(self->loop_, 0);
}

void PulseContext::ended() {
    std::vector<std::pair<int, Handler>> handlers;
    {
        std::lock_guard lock(mutex_);
        if (endedHandled_)
            return;
        endedHandled_ = true;
        handlers = std::move(disconnectHandlers_);
        disconnectHandlers_.clear();
    }
    for (const auto& [token, handler] : handlers) handler();
}

bool PulseContext::wait(pa_operation* operation) {
    if (!operation)
        return false;
    while (pa_operation_get_state(operation) == PA_OPERATION_RUNNING && isAlive())
        pa_threaded_mainloop_wait(loop_);
    const bool done = pa_operation_get_state(operation) == PA_OPERATION_DONE;
    pa_operation_unref(operation);
    return done;
}

void PulseContext::signal() {
    pa_threaded_mainloop_signal(loop_, 0);
}

int PulseContext::addDisconnectHandler(Handler handler) {
    int token = 0;
    {
        std::lock_guard lock(mutex_);
        token = nextToken_++;
        if (!endedHandled_) {
            disconnectHandlers_.emplace_back(token, std::move(handler));
            return token;
        }
    }
    handler();
    return token;
}

void PulseContext::removeDisconnectHandler(int token) {
    std::lock_guard lock(mutex_);
    std::erase_if(disconnectHandlers_, [token](const auto& entry) { return entry.first == token; });
}

int PulseContext::addEventHandler(pa_subscription_mask_t mask, EventHandler handler) {
    int token = 0;
    std::uint32_t wanted = 0;
    bool first = false;
    {
        std::lock_guard lock(mutex_);
        token = nextToken_++;
        first = eventHandlers_.empty() && subscribed_ == 0;
        eventHandlers_.emplace_back(token, std::move(handler));
        wanted = subscribed_ | mask;
        if (wanted == subscribed_)
            return token;
        subscribed_ = wanted;
    }
    Lock lock(*this);
    if (first)
        pa_context_set_subscribe_callback(context_, &PulseContext::eventArrived, this);
    if (pa_operation* operation = pa_context_subscribe(
            context_, static_cast<pa_subscription_mask_t>(wanted), nullptr, nullptr))
        pa_operation_unref(operation);
    return token;
}

void PulseContext::removeEventHandler(int token) {
    std::lock_guard lock(mutex_);
    std::erase_if(eventHandlers_, [token](const auto& entry) { return entry.first == token; });
}

void PulseContext::eventArrived(pa_context*, pa_subscription_event_type_t type, std::uint32_t index,
                                void* userdata) {
    auto* self = static_cast<PulseContext*>(userdata);
    std::vector<std::pair<int, EventHandler>> handlers;
    {
        std::lock_guard lock(self->mutex_);
        handlers = self->eventHandlers_;
    }
    for (const auto& [token, handler] : handlers) handler(type, index);
}

}  // namespace pindle::platform::pulse
