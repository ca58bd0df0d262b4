#include "PindlePlayer/players/private/PNPlayerPoolDoor.hpp"

namespace pindle {

void PNPlayerPoolDoor::prepareForPool(PNPlayerViewController& player,
                                      const std::string& uid) const {
    player.setUid(uid);
    player.setPlayersCount(1);
    player.setVideosPreloadCount(1);
    player.setHoldLastPic(false);
    player.setInternalLoadingControl(false);
}

void PNPlayerPoolDoor::setToPrivate(PNPlayerViewController& player, PNVideoPtr video,
                                    PNPlayState state,
                                    PNPlayerViewController::Transition transition) const {
    player.setToPrivate(std::move(video), state, transition);
}

void PNPlayerPoolDoor::releaseToPool(PNPlayerViewController& player) const {
    // What a host's reset does: the manager's players have loaded their views already.
    player.reset();
}

void PNPlayerPoolDoor::pauseInPool(PNPlayerViewController& player) const {
    player.pauseInPool();
}

}  // namespace pindle
