#include "platform/media/private/AudioRenderer.hpp"

#include <chrono>
#include <cmath>
#include <optional>
#include <utility>

#include "platform/dispatch/Clock.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/foundation/Weakly.hpp"
#include "platform/media/PlayerItem.hpp"

namespace pindle::platform {

namespace {

constexpr int channels = 2;
constexpr std::size_t frameBytes = channels * sizeof(float);
// What the server holds ahead of the listener, and how much it asks for at a time: enough to
// ride out a busy loop thread, little enough that a fill every few tens of milliseconds does.
constexpr pa_usec_t targetBufferMicros = 150000;
constexpr pa_usec_t requestMicros = 40000;
// From opening or flushing the stream until the server plays it, the timeline waits at the
// position the sound will start from, at most this long: a sink that takes longer (an idle
// one can take seconds to wake) leaves the picture running, and the sound catches up.
constexpr auto holdBound = std::chrono::milliseconds(50);
constexpr double starvedRetry = 0.02;

void release(pa_operation* operation) {
    if (operation)
        pa_operation_unref(operation);
}

}  // namespace

AudioRenderer::AudioRenderer(std::shared_ptr<pulse::PulseContext> context,
                             std::weak_ptr<PlayerItem> item,
                             std::unique_ptr<MediaSource::AudioReader> reader, float volume,
                             bool muted)
    : context_(std::move(context)),
      item_(std::move(item)),
      reader_(std::move(reader)),
      volume_(volume),
      muted_(muted) {}

AudioRenderer::~AudioRenderer() {
    close();
}

void AudioRenderer::play(Micros from, std::uint64_t generation) {
    pulse::PulseContext::Lock lock(*context_);
    if (!alive_.load() || !context_->isAlive())
        return;
    if (!stream_) {
        const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE,
                                  static_cast<std::uint32_t>(reader_->sampleRate()), channels};
        stream_ = pa_stream_new(context_->context(), "Pindle playback", &spec, nullptr);
        if (!stream_) {
            alive_.store(false);
            return;
        }
        reader_->seek(from);
        segmentStart_ = from;
        generation_ = generation;
        readerEnded_ = false;
        pa_stream_set_state_callback(stream_, &AudioRenderer::stateChanged, this);
        pa_stream_set_write_callback(stream_, &AudioRenderer::writeRequested, this);
        pa_stream_set_started_callback(stream_, &AudioRenderer::started, this);
        pa_buffer_attr attributes;
        attributes.maxlength = static_cast<std::uint32_t>(-1);
        attributes.tlength =
            static_cast<std::uint32_t>(pa_usec_to_bytes(targetBufferMicros, &spec));
        attributes.minreq = static_cast<std::uint32_t>(pa_usec_to_bytes(requestMicros, &spec));
        // Playback starts once a request's worth is there, not a whole buffer: the server may
        // round the buffer up beyond what it asks for at first.
        attributes.prebuf = attributes.minreq;
        attributes.fragsize = static_cast<std::uint32_t>(-1);
        pa_cvolume level;
        pa_cvolume_set(&level, channels, pa_sw_volume_from_linear(volume_));
        const auto flags = static_cast<pa_stream_flags_t>(
            PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE |
            (muted_ ? PA_STREAM_START_MUTED : PA_STREAM_START_UNMUTED));
        if (pa_stream_connect_playback(stream_, nullptr, &attributes, flags, &level, nullptr) < 0) {
            closeLocked();
            return;
        }
        // (The player holds the timeline at `from` while the stream starts.)
        opened_.store(true);
        return;
    }
    if (corked_) {
        corked_ = false;
        release(pa_stream_cork(stream_, 0, nullptr, nullptr));
    }
    // Bytes that were missing when the server last asked may have come since.
    fillWritable();
}

void AudioRenderer::refillIfStarved() {
    pulse::PulseContext::Lock lock(*context_);
    if (starved_)
        fillWritable();
}

void AudioRenderer::retryStarved() {
    pulse::PulseContext::Lock lock(*context_);
    if (!starved_ || !stream_)
        return;
    starved_ = false;
    fillWritable();
}

void AudioRenderer::fillWritable() {
    if (stream_ && pa_stream_get_state(stream_) == PA_STREAM_READY)
        fill(pa_stream_writable_size(stream_));
}

void AudioRenderer::pause() {
    pulse::PulseContext::Lock lock(*context_);
    if (!stream_ || corked_)
        return;
    corked_ = true;
    release(pa_stream_cork(stream_, 1, nullptr, nullptr));
}

void AudioRenderer::seek(Micros to, std::uint64_t generation) {
    pulse::PulseContext::Lock lock(*context_);
    if (generation < generation_ || !reader_)
        return;
    generation_ = generation;
    segmentStart_ = to;
    readerEnded_ = false;
    reader_->seek(to);
    if (!stream_ || pa_stream_get_state(stream_) != PA_STREAM_READY)
        return;
    release(pa_stream_flush(stream_, nullptr, nullptr));
    hold();
    fillWritable();
}

void AudioRenderer::setVolume(float volume, bool muted) {
    pulse::PulseContext::Lock lock(*context_);
    volume_ = volume;
    muted_ = muted;
    applyVolume();
}

void AudioRenderer::applyVolume() {
    if (!stream_ || pa_stream_get_state(stream_) != PA_STREAM_READY)
        return;
    const std::uint32_t index = pa_stream_get_index(stream_);
    pa_cvolume level;
    pa_cvolume_set(&level, channels, pa_sw_volume_from_linear(volume_));
    release(pa_context_set_sink_input_volume(context_->context(), index, &level, nullptr, nullptr));
    release(pa_context_set_sink_input_mute(context_->context(), index, muted_ ? 1 : 0, nullptr,
                                           nullptr));
}

void AudioRenderer::close() {
    pulse::PulseContext::Lock lock(*context_);
    closeLocked();
}

void AudioRenderer::closeLocked() {
    alive_.store(false);
    if (timingRequest_) {
        pa_operation_cancel(timingRequest_);
        release(std::exchange(timingRequest_, nullptr));
    }
    if (!stream_)
        return;
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_set_write_callback(stream_, nullptr, nullptr);
    pa_stream_set_started_callback(stream_, nullptr, nullptr);
    pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
    stream_ = nullptr;
}

void AudioRenderer::stateChanged(pa_stream* stream, void* userdata) {
    auto* self = static_cast<AudioRenderer*>(userdata);
    switch (pa_stream_get_state(stream)) {
        case PA_STREAM_READY:
            // Changes made while the stream was connecting: a pause the server could not take
            // then, and the volume.
            if (self->corked_)
                release(pa_stream_cork(stream, 1, nullptr, nullptr));
            self->applyVolume();
            break;
        case PA_STREAM_FAILED:
        case PA_STREAM_TERMINATED:
            self->alive_.store(false);
            if (auto item = self->item_.lock())
                item->audioClockStopped(self->generation_);
            break;
        default:
            break;
    }
}

void AudioRenderer::writeRequested(pa_stream*, std::size_t bytes, void* userdata) {
    static_cast<AudioRenderer*>(userdata)->fill(bytes);
}

void AudioRenderer::started(pa_stream*, void* userdata) {
    // The first sample is on its way to the listener: when it is heard, fresh timing says.
    static_cast<AudioRenderer*>(userdata)->askTiming();
}

void AudioRenderer::fill(std::size_t bytes) {
    if (!stream_ || !reader_)
        return;
    const std::size_t frames = bytes / frameBytes;
    if (frames > 0 && !readerEnded_) {
        buffer_.resize(frames * channels);
        MediaSource::AudioReader::State state = MediaSource::AudioReader::State::more;
        const std::size_t read = reader_->read(buffer_.data(), frames, &state);
        if (read > 0)
            pa_stream_write(stream_, buffer_.data(), read * frameBytes, nullptr, 0,
                            PA_SEEK_RELATIVE);
        readerEnded_ = state == MediaSource::AudioReader::State::ended;
        const bool starved = state == MediaSource::AudioReader::State::needsBytes;
        // The server asks again only once it has played something; bytes on their way get
        // looked for shortly.
        // (No strong reference is taken here: the renderer must never end on the loop thread.)
        if (starved && !starved_)
            DispatchQueue::global()->asyncAfter(
                starvedRetry,
                weakly(weak_from_this(), [](AudioRenderer& renderer) { renderer.retryStarved(); }));
        starved_ = starved;
    }
    report();
}

void AudioRenderer::hold() {
    if (corked_)
        return;
    if (auto item = item_.lock())
        item->audioClockReport(generation_, segmentStart_, Clock::current()->uptime() + holdBound);
}

void AudioRenderer::askTiming() {
    // The request is cancelled when the stream closes, since its answer may come after the
    // renderer is gone.
    if (timingRequest_ || !stream_)
        return;
    timingRequest_ = pa_stream_update_timing_info(
        stream_,
        [](pa_stream*, int success, void* userdata) {
            auto* self = static_cast<AudioRenderer*>(userdata);
            release(std::exchange(self->timingRequest_, nullptr));
            if (success && self->stream_)
                self->report();
        },
        this);
}

void AudioRenderer::report() {
    if (corked_)
        return;
    pa_usec_t latency = 0;
    int negative = 0;
    const pa_timing_info* timing = pa_stream_get_timing_info(stream_);
    if (!timing || pa_stream_get_latency(stream_, &latency, &negative) < 0) {
        // No timing yet (a new or flushed stream): ask for it rather than wait for the
        // server's next request, a whole buffer later.
        askTiming();
        return;
    }
    // Until the server plays the stream nothing has been heard, whatever the latency figure
    // (which counts from the first write as if playing had begun) says. The timeline waits
    // for the sound's start (the started callback asks for timing then) within holdBound.
    if (!timing->playing)
        return;
    auto item = item_.lock();
    if (!item)
        return;
    // The sample heard now lies `latency` behind the last one written.
    const Micros written = reader_->position();
    const Micros heard =
        written - (negative ? -static_cast<Micros>(latency) : static_cast<Micros>(latency));
    const auto now = Clock::current()->uptime();
    // Once the track has ended, the timeline may run on past its last sample.
    const std::optional<Micros> ceiling =
        readerEnded_ ? std::nullopt : std::optional<Micros>(written);
    const auto catchUpAt =
        item->audioClockReport(generation_, heard, now, ceiling, heard >= segmentStart_);
    if (catchUpAt)
        catchUp(*catchUpAt, timing->sink_usec + timing->transport_usec);
}

void AudioRenderer::catchUp(Micros playhead, pa_usec_t delay) {
    // What the stream holds is behind the picture: it goes, and the sound goes on from where
    // the timeline will be once the new samples reach the listener (the sink's own delay).
    const Micros to = playhead + static_cast<Micros>(delay);
    segmentStart_ = to;
    readerEnded_ = false;
    reader_->seek(to);
    release(pa_stream_flush(stream_, nullptr, nullptr));
    fillWritable();
}

}  // namespace pindle::platform
