// PlaybackCounter: the seconds of media that played at normal speed, summed over the videos
// played, as `play` counts them from the player's time reports and the controller's play
// state. A report adds the media time moved since the last report of the same video (a video
// new to it starts from 0), as far as the wall time spent playing meanwhile allows at rate 1,
// with some slack for the reports' own jitter. A jump ahead beyond that (a seek, a clock that
// ran during a pause) and a step back (a seek back, a clock put right) add nothing; every
// report is the start of the next step, whatever it added, but a time that is no number is
// ignored.
//
// Thread-safety: all operations are safe from any thread. No callbacks.
#pragma once

#include <mutex>

namespace pindle::example {

class PlaybackCounter {
  public:
    // How far a step of media time may run ahead of the playing time it took: reports come
    // every 0.03 s of media time, now and then one late and the next on time.
    static constexpr double slackSeconds = 0.1;

    PlaybackCounter() = default;
    PlaybackCounter(const PlaybackCounter&) = delete;
    PlaybackCounter& operator=(const PlaybackCounter&) = delete;

    // Whether the player was asked to play, from `wallSeconds` on (a monotonic clock's
    // reading, as for every call). Not playing until told.
    void setPlaying(bool playing, double wallSeconds);
    // A time report: `video` names what plays (only compared), `mediaSeconds` its time.
    void report(const void* video, double mediaSeconds, double wallSeconds);
    double played() const;

  private:
    mutable std::mutex mutex_;
    bool playing_ = false;         // guarded by mutex_
    double playingSince_ = 0;      // guarded by mutex_: while playing_
    double playingTime_ = 0;       // guarded by mutex_: wall time played since the last report
    const void* video_ = nullptr;  // guarded by mutex_
    double lastMedia_ = 0;         // guarded by mutex_
    double played_ = 0;            // guarded by mutex_
};

}  // namespace pindle::example
