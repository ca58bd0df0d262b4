// AudioSession: the process's audio output as the host sees it; for now its output volume,
// which the volume indicator observes. Where a sound server is in use (see SoundServer) the
// volume follows the server's default sink, through the server's change events, so it moves
// with the desktop's volume keys; elsewhere hosts and tests move it with
// simulateOutputVolumeChange, as the hardware buttons would.
//
// KVO key: "outputVolume" (0 to 1).
//
// Thread-safety: all operations are safe from any thread; observers run on the thread that
// changed the volume: the caller of simulateOutputVolumeChange, and the main queue for the
// server's changes.
#pragma once

#include "platform/foundation/KeyValueObserving.hpp"

namespace pindle::platform {

class AudioSession : public KeyValueObservable {
  public:
    // The process-wide session (created on first use, never destroyed). Its first use
    // reaches for the sound server, unless the process plays silently.
    static AudioSession& sharedInstance();

    float outputVolume() const { return outputVolume_.get(); }
    // Clamped to 0...1; announced even when unchanged, as a button press is.
    void simulateOutputVolumeChange(float volume);

    struct Private {
        explicit Private() = default;
    };
    explicit AudioSession(Private) {}

  private:
    // Follows the default sink of every new connection to the sound server.
    void followServer();

    ObservableProperty<float> outputVolume_{*this, "outputVolume", 0.5f};
};

}  // namespace pindle::platform
