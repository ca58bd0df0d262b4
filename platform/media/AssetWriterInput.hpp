// AssetWriterInput: one track of an AssetWriter (video or audio) with its encoder settings,
// and the way samples reach it.
//
// Video is H.264 at the settings' width and height; pictures of any size are scaled to fill
// it (aspect fill: the overflow is cut off evenly). Audio is AAC at the settings' rate and
// channel count; buffers of another format are converted. The clean aperture, the channel
// layout record and multi-pass encoding are kept as set but change nothing in the file.
//
// An input is ready for more media data while its writer is writing and it has not been
// marked finished; it never becomes ready again once its writer failed, so a caller that
// waits for readiness must also watch the writer's status. append() answers at once: false
// when the writer is not writing (failed, finished, cancelled, or not started), the input is
// finished, or the sample does not fit the input.
//
// Thread-safety: all operations are safe from any thread; appends to one writer are
// serialised. Subclasses (inputs with fixed settings) only choose the settings. No
// callbacks.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Object.hpp"
#include "platform/media/AssetTrack.hpp"
#include "platform/media/SampleBuffer.hpp"

namespace pindle::platform {

class AssetWriter;

class AssetWriterInput : public Object {
  public:
    static constexpr const char* videoCodecH264 = "avc1";
    static constexpr const char* profileH264HighAutoLevel = "H264_High_AutoLevel";
    static constexpr const char* profileH264MainAutoLevel = "H264_Main_AutoLevel";
    static constexpr const char* profileH264BaselineAutoLevel = "H264_Baseline_AutoLevel";
    static constexpr std::uint32_t audioFormatMPEG4AAC = 0x61616320;  // 'aac '

    enum class ScalingMode { resizeAspectFill };

    struct CleanAperture {
        double horizontalOffset = 0;
        double verticalOffset = 0;
        double width = 0;
        double height = 0;
    };

    struct VideoSettings {
        std::string codec = videoCodecH264;
        // REQUIRES: positive and even.
        int width = 0;
        int height = 0;
        ScalingMode scalingMode = ScalingMode::resizeAspectFill;
        // Bits per second; 0 for the encoder's default.
        std::int64_t averageBitRate = 0;
        // One of the profile names above; empty for the encoder's choice.
        std::string profileLevel{};
        // 0 for one second's worth of frames.
        int maxKeyFrameInterval = 0;
        std::optional<CleanAperture> cleanAperture{};
    };

    struct AudioSettings {
        std::uint32_t formatID = audioFormatMPEG4AAC;
        double sampleRate = 44100;
        int channels = 2;
        // Bits per second; 0 for the encoder's default.
        std::int64_t bitRate = 0;
        // The platform's channel-layout record as bytes.
        std::vector<std::uint8_t> channelLayout{};
    };

    static std::shared_ptr<AssetWriterInput> make(VideoSettings settings);
    static std::shared_ptr<AssetWriterInput> make(AudioSettings settings);

    explicit AssetWriterInput(VideoSettings settings);
    explicit AssetWriterInput(AudioSettings settings);
    AssetWriterInput(const AssetWriterInput&) = delete;
    AssetWriterInput& operator=(const AssetWriterInput&) = delete;

    MediaType mediaType() const { return video_ ? MediaType::video : MediaType::audio; }
    const std::optional<VideoSettings>& videoSettings() const { return video_; }
    const std::optional<AudioSettings>& audioSettings() const { return audio_; }

    // Pictures that come as they are taken get the fast encoder.
    bool expectsMediaDataInRealTime() const { return realTime_.load(); }
    void setExpectsMediaDataInRealTime(bool value) { realTime_.store(value); }
    bool performsMultiPassEncodingIfSupported() const { return multiPass_.load(); }
    void setPerformsMultiPassEncodingIfSupported(bool value) { multiPass_.store(value); }

    bool isReadyForMoreMediaData() const;
    // A picture for a video input, PCM audio for an audio input, at the buffer's time.
    bool append(const SampleBufferPtr& sample);
    // No more samples: appends fail from now on.
    void markAsFinished();
    bool isFinished() const { return finished_.load(); }

  private:
    friend class AssetWriter;
    friend class AssetWriterInputPixelBufferAdaptor;

    std::shared_ptr<AssetWriter> writer() const;
    // False when it already belongs to a writer.
    bool attach(const std::shared_ptr<AssetWriter>& writer);

    const std::optional<VideoSettings> video_;
    const std::optional<AudioSettings> audio_;
    std::atomic<bool> realTime_{false};
    std::atomic<bool> multiPass_{false};
    std::atomic<bool> finished_{false};

    mutable std::mutex mutex_;
    std::weak_ptr<AssetWriter> writer_;  // guarded by mutex_
    bool attached_ = false;              // guarded by mutex_
};

using AssetWriterInputPtr = std::shared_ptr<AssetWriterInput>;

}  // namespace pindle::platform
