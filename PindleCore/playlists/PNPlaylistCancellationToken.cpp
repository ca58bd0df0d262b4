#include "PindleCore/playlists/PNPlaylistCancellationToken.hpp"

namespace pindle {

void PNPlaylistCancellationToken::cancelIt() {
    cancelled_.store(true);
}

}  // namespace pindle
