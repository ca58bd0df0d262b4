#include "tests/support/PulseAudioServer.hpp"

#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <complex>
#include <limits>
#include <thread>

#include "platform/audio/private/PulseContext.hpp"
#include "tests/support/TestFolders.hpp"

namespace pindle::testing {

using platform::pulse::PulseContext;

namespace {

constexpr auto startBound = std::chrono::seconds(15);
constexpr auto stopBound = std::chrono::seconds(5);

// The program, searched on PATH as a shell would.
std::optional<std::string> findProgram(const std::string& name) {
    const char* path = ::getenv("PATH");
    std::string folders = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= folders.size()) {
        const std::size_t end = std::min(folders.find(':', start), folders.size());
        const std::string candidate = folders.substr(start, end - start) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return std::nullopt;
}

bool exited(pid_t pid) {
    int status = 0;
    return ::waitpid(pid, &status, WNOHANG) == pid;
}

}  // namespace

std::unique_ptr<PulseAudioServer> PulseAudioServer::start(std::string* skipReason,
                                                          std::string* failure) {
    const auto program = findProgram("pulseaudio");
    if (!program) {
        *skipReason = "the pulseaudio program is not installed";
        return nullptr;
    }
    const std::string folder = makeScratchFolder("pulse-");
    for (const char* sub : {"/run", "/state", "/home", "/config"})
        ::mkdir((folder + sub).c_str(), 0700);
    // Our own client side keeps its cookie here rather than in the (read-only) home.
    ::setenv("PULSE_COOKIE", (processFolder() + "/pulse-cookie").c_str(), 0);

    const std::string socket = folder + "/run/native";
    std::vector<std::string> arguments = {
        *program,
        "-n",
        "--daemonize=no",
        "--exit-idle-time=-1",
        "--disable-shm=yes",
        "--use-pid-file=no",
        "--system=no",
        "--realtime=no",
        "--high-priority=no",
        "--log-target=file:" + folder + "/daemon.log",
        "-L",
        "module-native-protocol-unix auth-anonymous=1 socket=" + socket,
        "-L",
        std::string("module-null-sink sink_name=") + sinkName +
            " rate=" + std::to_string(sampleRate) + " channels=2",
    };
    std::vector<std::string> environment = {"HOME=" + folder + "/home",
                                            "XDG_RUNTIME_DIR=" + folder + "/run",
                                            "PULSE_RUNTIME_PATH=" + folder + "/run",
                                            "PULSE_STATE_PATH=" + folder + "/state",
                                            "XDG_CONFIG_HOME=" + folder + "/config",
                                            "PATH=/usr/bin:/bin"};
    std::vector<char*> argv, envp;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    for (auto& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);

    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        *failure = "cannot fork the sound server";
        return nullptr;
    }
    if (pid == 0) {
        // Only async-signal-safe calls until exec.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
        ::chdir(folder.c_str());
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    auto server = std::make_unique<PulseAudioServer>(pid, folder);
    // Ready once a client can connect; the daemon may also give up on its own.
    const auto deadline = std::chrono::steady_clock::now() + startBound;
    while (true) {
        platform::Error error;
        if (::access(socket.c_str(), F_OK) == 0 &&
            PulseContext::connect(server->address(), "pindle-test-probe", &error))
            return server;
        if (exited(pid)) {
            server->pid_ = -1;
            *failure = "the sound server stopped while starting; see " + folder + "/daemon.log";
            return nullptr;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            *failure = "the sound server did not answer in time";
            return nullptr;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

PulseAudioServer::PulseAudioServer(pid_t pid, std::string folder)
    : pid_(pid), folder_(std::move(folder)), address_("unix:" + folder_ + "/run/native") {}

PulseAudioServer::~PulseAudioServer() {
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + stopBound;
    while (!exited(pid_)) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void PulseAudioServer::kill() {
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

bool PulseAudioServer::setSinkVolume(double volume) {
    platform::Error error;
    auto context = PulseContext::connect(address_, "pindle-test-volume", &error);
    if (!context)
        return false;
    PulseContext::Lock lock(*context);
    pa_cvolume channels;
    pa_cvolume_set(&channels, 2, static_cast<pa_volume_t>(std::lround(volume * PA_VOLUME_NORM)));
    return context->wait(pa_context_set_sink_volume_by_name(
        context->context(), sinkName, &channels,
        [](pa_context*, int, void* userdata) { static_cast<PulseContext*>(userdata)->signal(); },
        context.get()));
}

// --- Recording

std::optional<std::vector<PulseAudioServer::PlaybackStream>> PulseAudioServer::playbackStreams(
    const std::string& name) const {
    platform::Error error;
    auto context = PulseContext::connect(address_, "pindle-test-streams", &error);
    if (!context)
        return std::nullopt;
    struct Query {
        PulseContext* context;
        const std::string* name;
        std::vector<PlaybackStream> found;
    } query{context.get(), &name, {}};
    PulseContext::Lock lock(*context);
    const bool done = context->wait(pa_context_get_sink_input_info_list(
        context->context(),
        [](pa_context*, const pa_sink_input_info* info, int last, void* userdata) {
            auto* query = static_cast<Query*>(userdata);
            if (last) {
                query->context->signal();
                return;
            }
            const std::string streamName = info->name ? info->name : "";
            if (!query->name->empty() && streamName != *query->name)
                return;
            PlaybackStream stream;
            stream.name = streamName;
            stream.corked = info->corked != 0;
            stream.muted = info->mute != 0;
            stream.volume = pa_sw_volume_to_linear(pa_cvolume_avg(&info->volume));
            query->found.push_back(stream);
        },
        &query));
    if (!done)
        return std::nullopt;
    return query.found;
}

struct MonitorRecording::State {
    std::shared_ptr<PulseContext> context;
    pa_stream* stream = nullptr;
    // Silence played into the sink all along: an idle null sink renders nothing, and its
    // monitor would skip the quiet stretches, leaving the recording without a timeline.
    pa_stream* keepAlive = nullptr;
    std::vector<float> zeros;

    static void writable(pa_stream* stream, std::size_t bytes, void* userdata) {
        auto* self = static_cast<State*>(userdata);
        if (self->zeros.size() * sizeof(float) < bytes)
            self->zeros.resize(bytes / sizeof(float) + 1);
        pa_stream_write(stream, self->zeros.data(), bytes, nullptr, 0, PA_SEEK_RELATIVE);
    }
    mutable std::mutex mutex;
    std::vector<float> left;  // guarded by mutex

    static void readable(pa_stream* stream, std::size_t, void* userdata) {
        auto* self = static_cast<State*>(userdata);
        while (pa_stream_readable_size(stream) > 0) {
            const void* data = nullptr;
            std::size_t bytes = 0;
            if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0)
                return;
            const std::size_t frames = bytes / (2 * sizeof(float));
            {
                std::lock_guard lock(self->mutex);
                const auto* samples = static_cast<const float*>(data);
                for (std::size_t i = 0; i < frames; ++i)
                    self->left.push_back(samples ? samples[2 * i] : 0.0f);
            }
            pa_stream_drop(stream);
        }
    }
};

std::unique_ptr<MonitorRecording> MonitorRecording::start(const PulseAudioServer& server,
                                                          std::string* failure) {
    platform::Error error;
    auto state = std::make_unique<State>();
    state->context = PulseContext::connect(server.address(), "pindle-test-recorder", &error);
    if (!state->context) {
        *failure = "cannot connect the recorder: " + error.localizedDescription();
        return nullptr;
    }
    PulseContext& context = *state->context;
    PulseContext::Lock lock(context);
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, PulseAudioServer::sampleRate, 2};
    state->stream = pa_stream_new(context.context(), "monitor", &spec, nullptr);
    pa_stream_set_read_callback(state->stream, &State::readable, state.get());
    pa_stream_set_state_callback(
        state->stream,
        [](pa_stream*, void* userdata) { static_cast<PulseContext*>(userdata)->signal(); },
        &context);
    pa_buffer_attr attributes;
    attributes.maxlength = static_cast<std::uint32_t>(-1);
    attributes.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(10000, &spec));
    attributes.tlength = attributes.prebuf = attributes.minreq = static_cast<std::uint32_t>(-1);
    state->keepAlive = pa_stream_new(context.context(), "keep-alive", &spec, nullptr);
    pa_stream_set_write_callback(state->keepAlive, &State::writable, state.get());
    pa_buffer_attr playback;
    playback.maxlength = static_cast<std::uint32_t>(-1);
    playback.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(50000, &spec));
    playback.minreq = playback.fragsize = static_cast<std::uint32_t>(-1);
    playback.prebuf = 0;
    pa_stream_connect_playback(state->keepAlive, PulseAudioServer::sinkName, &playback,
                               PA_STREAM_NOFLAGS, nullptr, nullptr);
    const std::string device = server.monitorName();
    // Positions are read from fresh timing, never interpolated: interpolation runs ahead
    // while the monitor's data comes in bursts, and then holds still to stay monotonic.
    pa_stream_connect_record(
        state->stream, device.c_str(), &attributes,
        static_cast<pa_stream_flags_t>(PA_STREAM_NOT_MONOTONIC | PA_STREAM_ADJUST_LATENCY));
    while (pa_stream_get_state(state->stream) == PA_STREAM_CREATING && context.isAlive())
        pa_threaded_mainloop_wait(context.loop());
    if (pa_stream_get_state(state->stream) != PA_STREAM_READY) {
        *failure = "the monitor cannot be recorded";
        return nullptr;
    }
    return std::make_unique<MonitorRecording>(std::move(state));
}

MonitorRecording::MonitorRecording(std::unique_ptr<State> state) : state_(std::move(state)) {}

MonitorRecording::~MonitorRecording() {
    PulseContext::Lock lock(*state_->context);
    pa_stream_set_read_callback(state_->stream, nullptr, nullptr);
    pa_stream_set_state_callback(state_->stream, nullptr, nullptr);
    pa_stream_disconnect(state_->stream);
    pa_stream_unref(state_->stream);
    pa_stream_set_write_callback(state_->keepAlive, nullptr, nullptr);
    pa_stream_disconnect(state_->keepAlive);
    pa_stream_unref(state_->keepAlive);
}

std::vector<float> MonitorRecording::samples() const {
    std::lock_guard lock(state_->mutex);
    return state_->left;
}

double MonitorRecording::recordedSeconds() const {
    std::lock_guard lock(state_->mutex);
    return static_cast<double>(state_->left.size()) / PulseAudioServer::sampleRate;
}

std::optional<double> MonitorRecording::positionNow() const {
    PulseContext& context = *state_->context;
    PulseContext::Lock lock(context);
    if (!context.wait(pa_stream_update_timing_info(
            state_->stream,
            [](pa_stream*, int, void* userdata) { static_cast<PulseContext*>(userdata)->signal(); },
            &context)))
        return std::nullopt;
    pa_usec_t usec = 0;
    if (pa_stream_get_time(state_->stream, &usec) < 0)
        return std::nullopt;
    return static_cast<double>(usec) / 1e6;
}

// --- Measures

namespace sound {

namespace {
std::pair<std::size_t, std::size_t> frames(const std::vector<float>& samples, double from,
                                           double to, int rate) {
    const auto clampIndex = [&](double seconds) {
        const double index = std::max(0.0, seconds * rate);
        return std::min(samples.size(), static_cast<std::size_t>(index));
    };
    return {clampIndex(from), clampIndex(to)};
}
}  // namespace

double rms(const std::vector<float>& samples, double from, double to, int rate) {
    const auto [begin, end] = frames(samples, from, to, rate);
    if (end <= begin)
        return 0;
    double sum = 0;
    for (std::size_t i = begin; i < end; ++i) sum += double(samples[i]) * samples[i];
    return std::sqrt(sum / double(end - begin));
}

double decibels(const std::vector<float>& samples, double from, double to, int rate) {
    const double level = rms(samples, from, to, rate);
    return level > 0 ? 20 * std::log10(level) : -std::numeric_limits<double>::infinity();
}

double dominantFrequency(const std::vector<float>& samples, double from, double to, int rate) {
    const auto [begin, end] = frames(samples, from, to, rate);
    if (end <= begin + 2)
        return 0;
    // Goertzel over candidate frequencies, coarse then fine.
    const auto power = [&](double hz) {
        const double w = 2 * M_PI * hz / rate;
        const double coefficient = 2 * std::cos(w);
        double s1 = 0, s2 = 0;
        for (std::size_t i = begin; i < end; ++i) {
            const double s = samples[i] + coefficient * s1 - s2;
            s2 = s1;
            s1 = s;
        }
        return s1 * s1 + s2 * s2 - coefficient * s1 * s2;
    };
    double best = 0, bestPower = -1;
    for (double hz = 50; hz <= 8000; hz += 10)
        if (const double p = power(hz); p > bestPower)
            bestPower = p, best = hz;
    const double coarse = best;
    for (double hz = coarse - 10; hz <= coarse + 10; hz += 0.5)
        if (const double p = power(hz); p > bestPower)
            bestPower = p, best = hz;
    return best;
}

std::optional<double> onset(const std::vector<float>& samples, double from, float threshold,
                            int rate) {
    const auto [begin, end] = frames(samples, from, 1e9, rate);
    for (std::size_t i = begin; i < end; ++i)
        if (std::fabs(samples[i]) > threshold)
            return double(i) / rate;
    return std::nullopt;
}

}  // namespace sound

}  // namespace pindle::testing
