#include "platform/media/ScriptedMediaSource.hpp"

#include <cmath>

namespace pindle::platform {

namespace {
MediaSource::Micros micros(double seconds) {
    return static_cast<MediaSource::Micros>(std::llround(seconds * 1e6));
}
}  // namespace

void ScriptedMediaSource::setDuration(double seconds) {
    {
        std::lock_guard lock(mutex_);
        duration_ = micros(seconds);
    }
    changed();
}

void ScriptedMediaSource::setLoadedRanges(std::vector<std::pair<double, double>> ranges) {
    {
        std::lock_guard lock(mutex_);
        spans_.clear();
        for (auto [start, end] : ranges) spans_.push_back({micros(start), micros(end)});
    }
    changed();
}

void ScriptedMediaSource::setFirstFramePresent(bool present) {
    {
        std::lock_guard lock(mutex_);
        firstFramePresent_ = present;
    }
    changed();
}

void ScriptedMediaSource::setFrameImage(ImagePtr image) {
    std::lock_guard lock(mutex_);
    image_ = std::move(image);
}

void ScriptedMediaSource::setChangeHandler(std::function<void()> handler) {
    std::lock_guard lock(mutex_);
    onChange_ = std::move(handler);
}

void ScriptedMediaSource::changed() {
    std::function<void()> handler;
    {
        std::lock_guard lock(mutex_);
        handler = onChange_;
    }
    if (handler)
        handler();
}

MediaSource::OpenState ScriptedMediaSource::open(const std::string&, std::int64_t*, Error*) {
    return OpenState::opened;
}

MediaSource::Micros ScriptedMediaSource::duration() const {
    std::lock_guard lock(mutex_);
    return duration_;
}

std::vector<MediaSource::Span> ScriptedMediaSource::loadedSpans() const {
    std::lock_guard lock(mutex_);
    return spans_;
}

bool ScriptedMediaSource::hasFrameAt(Micros) const {
    std::lock_guard lock(mutex_);
    return firstFramePresent_;
}

ImagePtr ScriptedMediaSource::frameAt(Micros time, Micros* shownTime) {
    std::lock_guard lock(mutex_);
    if (!firstFramePresent_)
        return nullptr;
    if (shownTime)
        *shownTime = time;
    return image_;
}

std::optional<MediaSource::Micros> ScriptedMediaSource::frameTimeAt(Micros time) const {
    std::lock_guard lock(mutex_);
    return firstFramePresent_ ? std::optional<Micros>(time) : std::nullopt;
}

}  // namespace pindle::platform
