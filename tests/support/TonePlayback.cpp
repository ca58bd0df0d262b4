#include "tests/support/TonePlayback.hpp"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <thread>
#include <vector>

#include "platform/audio/private/PulseContext.hpp"
#include "tests/support/PulseAudioServer.hpp"

namespace pindle::testing {

using platform::pulse::PulseContext;

struct TonePlayback::State {
    std::shared_ptr<PulseContext> context;
    pa_stream* stream = nullptr;
    double frequency = 0;
    std::int64_t written = 0;  // frames; loop thread only

    static void writable(pa_stream* stream, std::size_t bytes, void* userdata) {
        auto* self = static_cast<State*>(userdata);
        std::vector<std::int16_t> samples(bytes / sizeof(std::int16_t));
        for (auto& sample : samples) {
            const double t = static_cast<double>(self->written++) / sampleRate;
            sample = static_cast<std::int16_t>(std::lround(
                amplitude * 32767 * std::sin(2 * std::numbers::pi * self->frequency * t)));
        }
        pa_stream_write(stream, samples.data(), samples.size() * sizeof(std::int16_t), nullptr, 0,
                        PA_SEEK_RELATIVE);
    }
};

std::unique_ptr<TonePlayback> TonePlayback::start(const std::string& address, double frequency,
                                                  std::string* failure) {
    platform::Error error;
    auto state = std::make_unique<State>();
    state->frequency = frequency;
    state->context = PulseContext::connect(address, "pindle-test-tone", &error);
    if (!state->context) {
        *failure = "cannot connect the tone: " + error.localizedDescription();
        return nullptr;
    }
    PulseContext& context = *state->context;
    PulseContext::Lock lock(context);
    const pa_sample_spec spec{PA_SAMPLE_S16NE, sampleRate, 1};
    state->stream = pa_stream_new(context.context(), "tone", &spec, nullptr);
    if (!state->stream) {
        *failure = "cannot make the tone's stream";
        return nullptr;
    }
    pa_stream_set_write_callback(state->stream, &State::writable, state.get());
    pa_stream_set_state_callback(
        state->stream,
        [](pa_stream*, void* userdata) { static_cast<PulseContext*>(userdata)->signal(); },
        &context);
    // Early requests of a few milliseconds keep the null sink rendering in short blocks, so
    // its monitor hands sound over as a microphone would, every few milliseconds rather than
    // in seconds. The half second written ahead carries the tone through the stalls of a
    // busy machine: a stream that runs dry plays silence into the "microphone".
    pa_buffer_attr attributes;
    attributes.maxlength = static_cast<std::uint32_t>(-1);
    attributes.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(500'000, &spec));
    attributes.minreq = static_cast<std::uint32_t>(pa_usec_to_bytes(10'000, &spec));
    attributes.prebuf = attributes.fragsize = static_cast<std::uint32_t>(-1);
    if (pa_stream_connect_playback(state->stream, nullptr, &attributes, PA_STREAM_EARLY_REQUESTS,
                                   nullptr, nullptr) < 0) {
        *failure = "cannot play the tone";
        pa_stream_unref(state->stream);
        return nullptr;
    }
    while (pa_stream_get_state(state->stream) == PA_STREAM_CREATING && context.isAlive())
        pa_threaded_mainloop_wait(context.loop());
    if (pa_stream_get_state(state->stream) != PA_STREAM_READY) {
        *failure = "the tone's stream did not start";
        pa_stream_set_write_callback(state->stream, nullptr, nullptr);
        pa_stream_set_state_callback(state->stream, nullptr, nullptr);
        pa_stream_disconnect(state->stream);
        pa_stream_unref(state->stream);
        return nullptr;
    }
    return std::make_unique<TonePlayback>(std::move(state));
}

TonePlayback::TonePlayback(std::unique_ptr<State> state) : state_(std::move(state)) {}

bool TonePlayback::waitUntilHeard(const PulseAudioServer& server, std::string* failure) {
    auto monitor = MonitorRecording::start(server, failure);
    if (!monitor)
        return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        const auto samples = monitor->samples();
        const double seconds = static_cast<double>(samples.size()) / PulseAudioServer::sampleRate;
        if (seconds > 0.1 && sound::rms(samples, seconds - 0.1, seconds) > amplitude / 2)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    *failure = "the tone was not heard on the monitor";
    return false;
}

TonePlayback::~TonePlayback() {
    PulseContext::Lock lock(*state_->context);
    pa_stream_set_write_callback(state_->stream, nullptr, nullptr);
    pa_stream_set_state_callback(state_->stream, nullptr, nullptr);
    pa_stream_disconnect(state_->stream);
    pa_stream_unref(state_->stream);
}

}  // namespace pindle::testing
