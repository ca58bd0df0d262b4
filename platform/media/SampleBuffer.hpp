// SampleBuffer: one timed piece of media as capture delivers it and writers take it: a
// picture (a PixelBuffer) or a run of interleaved signed 16-bit PCM audio frames, with a
// presentation time.
//
// Copies are deep for audio: muting or re-timing a copy never changes the original (a
// muted filler made from a buffer must not silence the buffer itself). A picture's copy
// shares the PixelBuffer, which writers only read.
//
// Thread-safety: the time, format and sizes are immutable; the audio samples are not
// guarded (hand a buffer on, or copy it, rather than writing it from two threads).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "platform/foundation/MediaTime.hpp"
#include "platform/foundation/Object.hpp"
#include "platform/media/PixelBuffer.hpp"

namespace pindle::platform {

class SampleBuffer;
using SampleBufferPtr = std::shared_ptr<SampleBuffer>;

class SampleBuffer : public Object {
  public:
    struct AudioFormat {
        int sampleRate = 44100;
        int channels = 1;
        static constexpr int bitsPerChannel = 16;
        int bytesPerFrame() const { return channels * bitsPerChannel / 8; }
        bool operator==(const AudioFormat&) const = default;
    };

    static SampleBufferPtr makeVideo(PixelBufferPtr image, MediaTime presentationTime);
    // `samples` holds whole frames: its size is a multiple of format.channels.
    static SampleBufferPtr makeAudio(AudioFormat format, std::vector<std::int16_t> samples,
                                     MediaTime presentationTime);

    struct Private {
        explicit Private() = default;
    };
    SampleBuffer(Private, MediaTime presentationTime, PixelBufferPtr image,
                 std::optional<AudioFormat> format, std::vector<std::int16_t> samples);

    MediaTime presentationTimeStamp() const { return presentationTime_; }
    // The span the samples cover (audio), invalid for a picture.
    MediaTime duration() const;
    bool isDataReady() const { return true; }

    // The picture; null for audio.
    const PixelBufferPtr& imageBuffer() const { return image_; }
    // The audio format; nothing for a picture.
    const std::optional<AudioFormat>& audioFormat() const { return format_; }
    // Audio frames (one sample per channel each); 1 for a picture.
    std::size_t numSamples() const;
    // The interleaved samples (numSamples() * channels of them); null for a picture.
    std::int16_t* audioData() { return format_ ? samples_.data() : nullptr; }
    const std::int16_t* audioData() const { return format_ ? samples_.data() : nullptr; }
    std::size_t audioDataByteSize() const { return samples_.size() * sizeof(std::int16_t); }

    SampleBufferPtr copy() const { return copyWithPresentationTime(presentationTime_); }
    SampleBufferPtr copyWithPresentationTime(MediaTime presentationTime) const;

  private:
    const MediaTime presentationTime_;
    const PixelBufferPtr image_;
    const std::optional<AudioFormat> format_;
    std::vector<std::int16_t> samples_;
};

}  // namespace pindle::platform
