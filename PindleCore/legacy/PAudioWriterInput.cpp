#include "PindleCore/legacy/PAudioWriterInput.hpp"

namespace pindle::legacy {

namespace {

constexpr std::uint32_t stereoLayoutTag = (101u << 16) | 2u;
constexpr std::size_t layoutRecordSize = 32;

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
    std::vector<std::uint8_t> record(layoutRecordSize, 0);
    // The record's fields are in the device's byte order, little-endian.
    for (std::size_t i = 0; i < sizeof stereoLayoutTag; ++i)
        record[i] = static_cast<std::uint8_t>(stereoLayoutTag >> (8 * i));
    return record;
}

PAudioWriterInput::PAudioWriterInput() : AssetWriterInput(settings()) {
    setExpectsMediaDataInRealTime(true);
}

}  // namespace pindle::legacy
