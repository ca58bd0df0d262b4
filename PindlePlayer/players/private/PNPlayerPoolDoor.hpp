// PNPlayerPoolDoor: the players manager's way into the player controllers it pools, and the
// only one. Only PNPlayersManager can make a door, so what it opens stays out of a host's
// reach: the settings a pooled player is made with, a switch to the video the manager gives
// it, releasing it to the pool and pausing it there. Each call is one step of the manager's,
// carried out by the controller under its own lock.
//
// Thread-safety: every call is safe from any thread. What the controller announces (its
// observable keys) reaches its observers on the calling thread, once its lock is released.
#pragma once

#include <string>

#include "PindlePlayer/views/PNPlayerViewController.hpp"

namespace pindle {

class PNPlayersManager;

class PNPlayerPoolDoor {
  public:
    // Before the player's view loads: one player view, a window of one video, no picture
    // kept, and the loader registered under `uid` (the manager's, shared by all its players)
    // instead of one of its own.
    void prepareForPool(PNPlayerViewController& player, const std::string& uid) const;
    // Shows `video` in `state`, as the only video (no playlist); ignored while a transition
    // animates.
    void setToPrivate(PNPlayerViewController& player, PNVideoPtr video, PNPlayState state,
                      PNPlayerViewController::Transition transition) const;
    // The player becomes free: paused, its view emptied, no video and no playlist.
    void releaseToPool(PNPlayerViewController& player) const;
    // Pauses a player that plays and is ready to play; any other is left alone.
    void pauseInPool(PNPlayerViewController& player) const;

  private:
    friend class PNPlayersManager;
    PNPlayerPoolDoor() = default;
};

}  // namespace pindle
