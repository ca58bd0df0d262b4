#include "platform/media/AudioSession.hpp"

#include <algorithm>
#include <memory>

namespace pindle::platform {

AudioSession& AudioSession::sharedInstance() {
    // Leaked on purpose: observers on other threads may still use it at exit.
    static auto* session =
        new std::shared_ptr<AudioSession>(std::make_shared<AudioSession>(Private{}));
    return **session;
}

void AudioSession::simulateOutputVolumeChange(float volume) {
    outputVolume_.set(std::clamp(volume, 0.0f, 1.0f));
}

}  // namespace pindle::platform
