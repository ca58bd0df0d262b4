// PNPlaylistProtocol: the three operations every playlist answers, whatever its kind, so a
// caller holding the interface reaches a subclass's own behaviour.
//
// Thread-safety: as the implementing playlist says.
#pragma once

#include <cstdint>

#include "PindleCore/model/PNVideo.hpp"

namespace pindle {

class PNPlaylistProtocol {
  public:
    virtual ~PNPlaylistProtocol() = default;

    // The video at `index`, or nullptr when 0 <= index < count does not hold.
    virtual PNVideoPtr videoAt(std::int64_t index) = 0;
    // Whether videoAt(index) would give a video.
    virtual bool hasVideoAt(std::int64_t index) = 0;
    // Empties the playlist.
    virtual void reset() = 0;
};

}  // namespace pindle
