// PulseAudioServer: a private sound server for the tests of real sound: a `pulseaudio` daemon
// of the test process's own, its runtime, state and home folders inside the process folder,
// one null sink ("pindle_test", 48 kHz stereo) as the default sink, no idle exit, no
// shared memory, anonymous access over its own socket. The daemon dies with the test
// process (parent-death signal), so a crashed test leaves no server behind.
//
// MonitorRecording records the null sink's monitor on a connection of its own while it lives,
// and tells where in the recording the sink is now, so a test can line a moment of playback
// up with the sound recorded at it.
//
// Thread-safety: a server and a recording belong to the thread that made them; a
// recording's samples are collected on its connection's loop thread under its own lock.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace pindle::platform::pulse {
class PulseContext;
}

namespace pindle::testing {

class PulseAudioServer {
  public:
    static constexpr int sampleRate = 48000;
    static constexpr const char* sinkName = "pindle_test";

    // Starts a daemon and waits until it answers. Null with `skipReason` set when the
    // `pulseaudio` program is not installed; null with `failure` set when it would not start.
    static std::unique_ptr<PulseAudioServer> start(std::string* skipReason, std::string* failure);

    ~PulseAudioServer();
    PulseAudioServer(const PulseAudioServer&) = delete;
    PulseAudioServer& operator=(const PulseAudioServer&) = delete;

    // "unix:<folder>/run/native", for SoundServer::useServer and libpulse clients.
    const std::string& address() const { return address_; }
    std::string monitorName() const { return std::string(sinkName) + ".monitor"; }

    // Ends the daemon at once, as a crash of the server would.
    void kill();

    // Sets the default sink's volume (0...1 of the server's normal volume) through the server,
    // as the desktop's volume keys do. False when the server did not take it.
    bool setSinkVolume(double volume);

    // A playback stream the server holds, as its introspection describes it.
    struct PlaybackStream {
        std::string name;  // the stream's media name
        bool corked = false;
        bool muted = false;
        double volume = 0;  // the factor its samples are scaled by (the channels' average)
    };
    // The playback streams named `name` (every one when empty); nothing when the server
    // cannot be asked.
    std::optional<std::vector<PlaybackStream>> playbackStreams(const std::string& name = {}) const;

    PulseAudioServer(pid_t pid, std::string folder);

  private:
    pid_t pid_ = -1;
    std::string folder_;
    std::string address_;
};

class MonitorRecording {
  public:
    // Starts recording `server`'s monitor (48 kHz stereo float); null, with `failure`, when it
    // could not. Recording runs until the object is destroyed.
    static std::unique_ptr<MonitorRecording> start(const PulseAudioServer& server,
                                                   std::string* failure);
    ~MonitorRecording();
    MonitorRecording(const MonitorRecording&) = delete;
    MonitorRecording& operator=(const MonitorRecording&) = delete;

    // The left channel recorded so far, one value a frame. What the sink plays reaches the
    // recording a while later (the monitor's own latency).
    std::vector<float> samples() const;
    double recordedSeconds() const;
    // Where the sink is now, in seconds of the recording: the frame being played at this
    // moment lands at this position (latency included). Nothing before timing is known.
    std::optional<double> positionNow() const;

    struct State;
    explicit MonitorRecording(std::unique_ptr<State> state);

  private:
    std::unique_ptr<State> state_;
};

// Sound measures on mono samples, `rate` frames a second; times in seconds.
namespace sound {
constexpr int defaultRate = PulseAudioServer::sampleRate;
// Root mean square of samples [from, to); 0 for an empty range.
double rms(const std::vector<float>& samples, double from, double to, int rate = defaultRate);
// Level of samples [from, to) in decibels relative to full scale (-inf for silence).
double decibels(const std::vector<float>& samples, double from, double to, int rate = defaultRate);
// The strongest frequency in [from, to) between 50 Hz and 8 kHz, to within a hertz.
double dominantFrequency(const std::vector<float>& samples, double from, double to,
                         int rate = defaultRate);
// The first time at or after `from` at which a sample exceeds `threshold`; nothing when none
// does.
std::optional<double> onset(const std::vector<float>& samples, double from, float threshold,
                            int rate = defaultRate);
}  // namespace sound

}  // namespace pindle::testing
