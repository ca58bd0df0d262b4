// AudioSession: the process's audio output as the host sees it; for now its output volume,
// which the volume indicator observes. Nothing here drives real hardware: hosts and tests
// move the volume with simulateOutputVolumeChange, as the hardware buttons would.
//
// KVO key: "outputVolume" (0 to 1).
//
// Thread-safety: all operations are safe from any thread; observers run on the thread that
// changed the volume.
#pragma once

#include "platform/foundation/KeyValueObserving.hpp"

namespace pindle::platform {

class AudioSession : public KeyValueObservable {
  public:
    // The process-wide session (created on first use, never destroyed).
    static AudioSession& sharedInstance();

    float outputVolume() const { return outputVolume_.get(); }
    // Clamped to 0...1; announced even when unchanged, as a button press is.
    void simulateOutputVolumeChange(float volume);

    struct Private {
        explicit Private() = default;
    };
    explicit AudioSession(Private) {}

  private:
    ObservableProperty<float> outputVolume_{*this, "outputVolume", 0.5f};
};

}  // namespace pindle::platform
