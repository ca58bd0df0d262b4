// ScriptedMediaSource: a media source whose answers a test sets: the duration, the loaded
// spans and whether the first frame is present, with no bytes and no decoding. An item made
// with it makes no loading requests; every change the test makes reaches the item at once,
// so views and controllers can be tested on exact arithmetic.
//
// Thread-safety: all operations are safe from any thread; the change handler runs on the
// thread that made the change, with no lock held.
#pragma once

#include <mutex>
#include <utility>

#include "platform/media/MediaSource.hpp"

namespace pindle::platform {

class ScriptedMediaSource final : public MediaSource {
  public:
    ScriptedMediaSource() = default;
    ScriptedMediaSource(const ScriptedMediaSource&) = delete;
    ScriptedMediaSource& operator=(const ScriptedMediaSource&) = delete;

    void setDuration(double seconds);
    // [start, end) pairs in seconds.
    void setLoadedRanges(std::vector<std::pair<double, double>> ranges);
    void setFirstFramePresent(bool present);
    // The picture frameAt gives while the first frame is present (null: none).
    void setFrameImage(ImagePtr image);

    OpenState open(const std::string& contentType, std::int64_t* wantedOffset,
                   Error* error) override;
    Micros duration() const override;
    std::vector<AssetTrack> tracks() const override { return {}; }
    std::vector<Span> loadedSpans() const override;
    std::optional<std::int64_t> wantedOffset(Micros) const override { return std::nullopt; }
    std::optional<std::int64_t> offsetAt(Micros) const override { return std::nullopt; }
    bool hasFrameAt(Micros time) const override;
    ImagePtr frameAt(Micros time, Micros* shownTime) override;
    std::optional<Micros> frameTimeAt(Micros) const override;
    void setChangeHandler(std::function<void()> handler) override;

  private:
    void changed();

    mutable std::mutex mutex_;
    Micros duration_ = 0;             // guarded by mutex_
    std::vector<Span> spans_;         // guarded by mutex_
    bool firstFramePresent_ = false;  // guarded by mutex_
    ImagePtr image_;                  // guarded by mutex_
    std::function<void()> onChange_;  // guarded by mutex_
};

}  // namespace pindle::platform
