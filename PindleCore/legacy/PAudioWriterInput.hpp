// PAudioWriterInput: a ready-made audio writer input: AAC at 16 kHz, two channels (stereo
// layout), 64 kbit/s, for sound that comes in real time.
//
// Thread-safety: as AssetWriterInput.
#pragma once

#include "platform/media/AssetWriterInput.hpp"

namespace pindle::legacy {

class PAudioWriterInput : public platform::AssetWriterInput {
  public:
    static constexpr double sampleRate = 16000;
    static constexpr int channels = 2;
    static constexpr std::int64_t bitRate = 64000;

    PAudioWriterInput();

    // The platform's channel-layout record for stereo: the tag (101 << 16) | 2, no bitmap,
    // no channel descriptions, 32 bytes in all.
    static std::vector<std::uint8_t> stereoChannelLayout();
};

}  // namespace pindle::legacy
