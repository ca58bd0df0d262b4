#include "PindleCore/legacy/PAudioWriterInput.hpp"

namespace pindle::legacy {

namespace {

constexpr std::uint32_t kStereoLayoutTag = (101u << 16) | 2u;
constexpr std::size_t kLayoutRecordSize = 32;

platform::AssetWriterInput::AudioSettings settings() {
    platform::AssetWriterInput::AudioSettings audio;
    audio.sampleRate = PAudioWriterInput::sampleRate;
    audio.channels = PAudioWriterInput::channels;
    audio.bitRate = PAudioWriterInput::bitRate;
    audio.channelLayout = PAudioWriterInput::stereoChannelLayout();
    return audio;
}

}  // namespace

std::vector<std::uint8_t> PAudioWriterInput::stereoChannelLayout() {
    std::vector<std::uint8_t> record(kLayoutRecordSize, 0);
    // The record's fields are in the device's byte order, little-endian.
    for (std::size_t i = 0; i < sizeof kStereoLayoutTag; ++i)
        record[i] = static_cast<std::uint8_t>(kStereoLayoutTag >> (8 * i));
    return record;
}

PAudioWriterInput::PAudioWriterInput() : AssetWriterInput(settings()) {
    setExpectsMediaDataInRealTime(true);
}

}  // namespace pindle::legacy
