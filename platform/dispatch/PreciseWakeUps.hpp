// PreciseWakeUps: while one lives, the thread that made it wakes from its timed waits close to
// their deadlines.
//
// Linux lets a normal thread's timers run up to 50 microseconds late so that it can group
// wake-ups; a loop that pauses between short steps pays that on every pause. The object sets
// the calling thread's timer slack to the least the kernel takes and gives the old value back
// when it ends.
//
// Thread-safety: it changes its own thread only. REQUIRES: it ends on the thread that made it
// (a scoped local).
#pragma once

namespace pindle::platform {

class PreciseWakeUps {
  public:
    PreciseWakeUps();
    ~PreciseWakeUps();
    PreciseWakeUps(const PreciseWakeUps&) = delete;
    PreciseWakeUps& operator=(const PreciseWakeUps&) = delete;

  private:
    long previous_ = -1;  // the slack to give back, in nanoseconds; -1: none was read
};

}  // namespace pindle::platform
