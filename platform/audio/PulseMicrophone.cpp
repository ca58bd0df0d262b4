#include "platform/audio/PulseMicrophone.hpp"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "platform/audio/private/PulseContext.hpp"
#include "platform/dispatch/Clock.hpp"
#include "platform/foundation/MediaError.hpp"

namespace pindle::platform {

using pulse::PulseContext;

namespace {

constexpr const char* clientName = "Pindle capture";
const pa_sample_spec spec{PA_SAMPLE_S16NE, PulseMicrophone::sampleRate, 1};
// The server hands sound over about this often.
constexpr pa_usec_t fragment = 20'000;
// A buffer never grows past this many frames, whatever a broken server sends at once.
constexpr std::size_t mostPendingFrames = PulseMicrophone::sampleRate * 2;

std::shared_ptr<PulseContext> connectTo(const std::string& server, std::string* why) {
    Error error;
    auto context = PulseContext::connect(server, clientName, &error);
    if (!context && why)
        *why = error.localizedDescription();
    return context;
}

// The server's default source; empty when it has none.
std::string defaultSource(PulseContext& context) {
    struct Answer {
        PulseContext* context;
        std::string source;
    } answer{&context, {}};
    PulseContext::Lock lock(context);
    context.wait(pa_context_get_server_info(
        context.context(),
        [](pa_context*, const pa_server_info* info, void* userdata) {
            auto* answer = static_cast<Answer*>(userdata);
            if (info && info->default_source_name)
                answer->source = info->default_source_name;
            answer->context->signal();
        },
        &answer));
    return answer.source;
}

}  // namespace

struct PulseMicrophone::Recording::State {
    std::shared_ptr<PulseContext> context;
    pa_stream* stream = nullptr;
    SoundHandler onSound;
    EndHandler onEnd;

    // Loop thread only (under the loop's lock).
    bool ended = false;
    bool timed = false;
    std::int64_t firstTick = 0;  // at sampleRate
    std::int64_t framesHanded = 0;
    std::vector<std::int16_t> pending;

    void end(const Error& why) {
        if (ended)
            return;
        ended = true;
        if (onEnd)
            onEnd(why);
    }

    static void readable(pa_stream* stream, std::size_t, void* userdata) {
        auto* self = static_cast<State*>(userdata);
        while (!self->ended && pa_stream_readable_size(stream) > 0) {
            const void* data = nullptr;
            std::size_t bytes = 0;
            if (pa_stream_peek(stream, &data, &bytes) < 0)
                return self->end(MediaError::make(MediaError::operationInterrupted,
                                                  "The microphone cannot be read"));
            if (bytes == 0)
                return;
            self->take(data, bytes / sizeof(std::int16_t));
            pa_stream_drop(stream);
        }
    }

    // `samples` from the server; null data is a hole, heard as silence.
    void take(const void* data, std::size_t samples) {
        if (!timed) {
            timed = true;
            pa_usec_t latency = 0;
            int negative = 0;
            if (pa_stream_get_latency(stream, &latency, &negative) < 0 || negative)
                latency = 0;
            const auto taken = std::chrono::duration_cast<std::chrono::nanoseconds>(
                Clock::current()->uptime() - std::chrono::microseconds(latency));
            constexpr std::int64_t second = 1'000'000'000;
            firstTick = taken.count() / second * sampleRate +
                        taken.count() % second * sampleRate / second -
                        static_cast<std::int64_t>(samples);
        }
        const auto* values = static_cast<const std::int16_t*>(data);
        if (values)
            pending.insert(pending.end(), values, values + samples);
        else
            pending.resize(pending.size() + samples, 0);
        std::size_t from = 0;
        while (pending.size() - from >= framesPerBuffer) {
            std::vector<std::int16_t> buffer(
                pending.begin() + static_cast<std::ptrdiff_t>(from),
                pending.begin() + static_cast<std::ptrdiff_t>(from + framesPerBuffer));
            const MediaTime time(firstTick + framesHanded, sampleRate);
            framesHanded += static_cast<std::int64_t>(framesPerBuffer);
            from += framesPerBuffer;
            onSound(std::move(buffer), time);
        }
        pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(from));
        if (pending.size() > mostPendingFrames)
            pending.clear();
    }

    static void stateChanged(pa_stream* stream, void* userdata) {
        auto* self = static_cast<State*>(userdata);
        if (pa_stream_get_state(stream) != PA_STREAM_FAILED &&
            pa_stream_get_state(stream) != PA_STREAM_TERMINATED)
            return;
        const int code = pa_context_errno(self->context->context());
        if (code == PA_ERR_ACCESS)
            return self->end(MediaError::make(MediaError::notAuthorized,
                                              "denied: the sound server refused the microphone"));
        self->end(MediaError::make(MediaError::operationInterrupted,
                                   std::string("The microphone went away: ") + pa_strerror(code)));
    }
};

std::shared_ptr<PulseMicrophone> PulseMicrophone::connect(const std::string& server,
                                                          std::string* why) {
    auto context = connectTo(server, why);
    if (!context)
        return nullptr;
    std::string source = defaultSource(*context);
    if (source.empty()) {
        if (why)
            *why = "the sound server has no source";
        return nullptr;
    }
    return std::make_shared<PulseMicrophone>(Private{}, server, std::move(source),
                                             std::move(context));
}

PulseMicrophone::PulseMicrophone(Private, std::string server, std::string sourceName,
                                 std::shared_ptr<PulseContext> context)
    : server_(std::move(server)),
      sourceName_(std::move(sourceName)),
      context_(std::move(context)) {}

std::string PulseMicrophone::description() const {
    return "the default source " + sourceName_ + " of the sound server" +
           (server_.empty() ? std::string() : " at " + server_);
}

std::unique_ptr<PulseMicrophone::Recording> PulseMicrophone::record(SoundHandler onSound,
                                                                    EndHandler onEnd,
                                                                    Error* error) {
    std::shared_ptr<PulseContext> context;
    {
        std::lock_guard lock(mutex_);
        if (!context_->isAlive()) {
            std::string why;
            auto again = connectTo(server_, &why);
            if (!again) {
                if (error)
                    *error = MediaError::make(MediaError::operationInterrupted,
                                              "The microphone's sound server is gone: " + why);
                return nullptr;
            }
            context_ = std::move(again);
        }
        context = context_;
    }
    auto state = std::make_unique<Recording::State>();
    state->context = context;
    state->onSound = std::move(onSound);
    state->onEnd = std::move(onEnd);
    PulseContext::Lock lock(*context);
    state->stream = pa_stream_new(context->context(), "microphone", &spec, nullptr);
    if (!state->stream) {
        if (error)
            *error = MediaError::make(MediaError::unknown,
                                      std::string("The microphone cannot be recorded: ") +
                                          pa_strerror(pa_context_errno(context->context())));
        return nullptr;
    }
    pa_stream_set_read_callback(state->stream, &Recording::State::readable, state.get());
    pa_stream_set_state_callback(state->stream, &Recording::State::stateChanged, state.get());
    pa_buffer_attr attributes;
    attributes.maxlength = static_cast<std::uint32_t>(-1);
    attributes.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(fragment, &spec));
    attributes.tlength = attributes.prebuf = attributes.minreq = static_cast<std::uint32_t>(-1);
    if (pa_stream_connect_record(state->stream, sourceName_.c_str(), &attributes,
                                 static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY |
                                                                PA_STREAM_AUTO_TIMING_UPDATE)) <
        0) {
        const int code = pa_context_errno(context->context());
        pa_stream_set_read_callback(state->stream, nullptr, nullptr);
        pa_stream_set_state_callback(state->stream, nullptr, nullptr);
        pa_stream_unref(state->stream);
        if (error)
            *error = code == PA_ERR_ACCESS
                         ? MediaError::make(MediaError::notAuthorized,
                                            "denied: the sound server refused the microphone")
                         : MediaError::make(MediaError::unknown,
                                            std::string("The microphone cannot be recorded: ") +
                                                pa_strerror(code));
        return nullptr;
    }
    return std::make_unique<Recording>(std::move(state));
}

PulseMicrophone::Recording::Recording(std::unique_ptr<State> state) : state_(std::move(state)) {}

PulseMicrophone::Recording::~Recording() {
    // Under the loop's lock no callback runs; none runs after the stream lets go of them.
    PulseContext::Lock lock(*state_->context);
    pa_stream_set_read_callback(state_->stream, nullptr, nullptr);
    pa_stream_set_state_callback(state_->stream, nullptr, nullptr);
    pa_stream_disconnect(state_->stream);
    pa_stream_unref(state_->stream);
}

}  // namespace pindle::platform
