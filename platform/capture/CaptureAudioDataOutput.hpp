// CaptureAudioDataOutput: delivers the microphone's sound as sample buffers of mono signed
// 16-bit PCM at 44,100 Hz.
//
// Thread-safety: as CaptureDataOutput; the delegate runs on its queue.
#pragma once

#include "platform/capture/CaptureOutput.hpp"

namespace pindle::platform {

class CaptureAudioDataOutput : public CaptureDataOutput {
  public:
    static std::shared_ptr<CaptureAudioDataOutput> make() {
        return std::make_shared<CaptureAudioDataOutput>();
    }
    CaptureAudioDataOutput() : CaptureDataOutput(CaptureMediaType::audio) {}
};

}  // namespace pindle::platform
