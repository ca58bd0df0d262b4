#include "examples/pindle-example/PlaybackCounter.hpp"

#include <cmath>

namespace pindle::example {

void PlaybackCounter::setPlaying(bool playing, double wallSeconds) {
    std::lock_guard lock(mutex_);
    if (playing == playing_)
        return;
    if (playing_)
        playingTime_ += wallSeconds - playingSince_;
    else
        playingSince_ = wallSeconds;
    playing_ = playing;
}

void PlaybackCounter::report(const void* video, double mediaSeconds, double wallSeconds) {
    // A time that is no number says nothing, and must not become the next step's start.
    if (!std::isfinite(mediaSeconds))
        return;
    std::lock_guard lock(mutex_);
    double allowed = playingTime_;
    if (playing_) {
        allowed += wallSeconds - playingSince_;
        playingSince_ = wallSeconds;
    }
    playingTime_ = 0;
    if (video != video_) {
        video_ = video;
        lastMedia_ = 0;
    }
    const double moved = mediaSeconds - lastMedia_;
    if (moved > 0 && moved <= allowed + slackSeconds)
        played_ += moved;
    lastMedia_ = mediaSeconds;
}

double PlaybackCounter::played() const {
    std::lock_guard lock(mutex_);
    return played_;
}

}  // namespace pindle::example
