// PulseMicrophone: the desktop's microphone: the default source of the sound server, read
// with libpulse in the capture session's sound format: mono signed 16-bit at 44.1 kHz (the
// server converts whatever the source gives), in buffers of 1,024 frames.
//
// connect() reaches the server (never starting one) and asks for its default source; a
// server without one offers no microphone. record() starts a Recording, which hands each
// whole buffer to its handler with the Clock uptime at which its first frame was taken: the
// first sound's arrival less the sound that had gathered and the source's latency, then
// 1,024 frames further for each buffer, as a device's clock counts. The server going away,
// or refusing the source, ends a recording with one call of its end handler (a refusal gives
// a "denied" error).
//
// Only its source includes libpulse's headers.
//
// Thread-safety: all operations are safe from any thread. A recording's handlers run on the
// connection's loop thread with its lock held: they must neither block nor destroy the
// recording; destroying it elsewhere stops them before it returns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/foundation/Error.hpp"
#include "platform/foundation/MediaTime.hpp"

namespace pindle::platform {

namespace pulse {
class PulseContext;
}

class PulseMicrophone {
  public:
    static constexpr int sampleRate = 44100;
    static constexpr std::size_t framesPerBuffer = 1024;

    // The default source of the server at `server` ("unix:/path/native"; empty: the one
    // libpulse finds from the environment). Null, with `why`, when no server answers or it
    // has no source.
    static std::shared_ptr<PulseMicrophone> connect(const std::string& server, std::string* why);

    // The source's name on the server ("alsa_input.pci-0000_00_1f.3.analog-stereo").
    const std::string& sourceName() const { return sourceName_; }
    // For people: "the default source <name> of the sound server (at <address>)".
    std::string description() const;

    using SoundHandler =
        std::function<void(std::vector<std::int16_t> samples, MediaTime presentationTime)>;
    using EndHandler = std::function<void(const Error& why)>;

    class Recording {
      public:
        ~Recording();
        Recording(const Recording&) = delete;
        Recording& operator=(const Recording&) = delete;

        struct State;
        explicit Recording(std::unique_ptr<State> state);

      private:
        std::unique_ptr<State> state_;
    };

    // Starts recording the source. Null with `error` when the server is gone and cannot be
    // reached again, or refuses to make the stream.
    std::unique_ptr<Recording> record(SoundHandler onSound, EndHandler onEnd, Error* error);

    struct Private {
        explicit Private() = default;
    };
    PulseMicrophone(Private, std::string server, std::string sourceName,
                    std::shared_ptr<pulse::PulseContext> context);

  private:
    const std::string server_;
    const std::string sourceName_;

    std::mutex mutex_;
    std::shared_ptr<pulse::PulseContext> context_;  // guarded by mutex_; replaced once it dies
};

}  // namespace pindle::platform
