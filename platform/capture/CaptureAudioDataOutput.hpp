// CaptureAudioDataOutput: delivers the microphone's sound as sample buffers of mono signed
// 16-bit PCM at 44,100 Hz. Up to ten seconds of sound may wait for the delegate before a
// buffer is dropped (see CaptureDataOutput): far longer than pictures, since sound takes little
// memory and a lost buffer is heard, where a recorder fills a lost picture with a repeat.
//
// Thread-safety: as CaptureDataOutput; the delegate runs on its queue.
#pragma once

#include "platform/capture/CaptureOutput.hpp"

namespace pindle::platform {

class CaptureAudioDataOutput : public CaptureDataOutput {
  public:
    // Ten seconds of the microphone's 1,024-frame buffers.
    static constexpr std::size_t maxSoundBuffersInFlight = 431;

    static std::shared_ptr<CaptureAudioDataOutput> make() {
        return std::make_shared<CaptureAudioDataOutput>();
    }
    CaptureAudioDataOutput()
        : CaptureDataOutput(CaptureMediaType::audio, maxSoundBuffersInFlight) {}
};

}  // namespace pindle::platform
