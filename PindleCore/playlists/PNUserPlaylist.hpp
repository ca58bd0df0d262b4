// PNUserPlaylist: the videos of one user identity, page by page.
//
// Built only through make(), which starts the first page at once. Everything else, thread
// safety included, is PNFilteredPlaylist's.
#pragma once

#include <memory>

#include "PindleCore/playlists/PNFilteredPlaylist.hpp"
#include "platform/foundation/Value.hpp"

namespace pindle {

class PNUserPlaylist : public PNFilteredPlaylist {
  public:
    static std::shared_ptr<PNUserPlaylist> make(const std::string& userIdentity,
                                                PNSortOrder sortOrder);

    // Use make().
    PNUserPlaylist(Private, const std::string& userIdentity, PNSortOrder sortOrder);
};

}  // namespace pindle
