// PNTagsPlaylist: the videos that carry every one of a set of tags, page by page.
//
// Built only through make(), which starts the first page at once. Everything else, thread
// safety included, is PNFilteredPlaylist's.
#pragma once

#include <memory>

#include "PindleCore/playlists/PNFilteredPlaylist.hpp"
#include "platform/foundation/Value.hpp"

namespace pindle {

class PNTagsPlaylist : public PNFilteredPlaylist {
  public:
    static std::shared_ptr<PNTagsPlaylist> make(const platform::StringSet& tags,
                                                PNSortOrder sortOrder);

    // Use make().
    PNTagsPlaylist(Private, const platform::StringSet& tags, PNSortOrder sortOrder);
};

}  // namespace pindle
