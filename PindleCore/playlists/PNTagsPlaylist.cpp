#include "PindleCore/playlists/PNTagsPlaylist.hpp"

namespace pindle {

std::shared_ptr<PNTagsPlaylist> PNTagsPlaylist::make(const platform::StringSet& tags,
                                                     PNSortOrder sortOrder) {
    return started(std::make_shared<PNTagsPlaylist>(Private{}, tags, sortOrder));
}

PNTagsPlaylist::PNTagsPlaylist(Private, const platform::StringSet& tags, PNSortOrder sortOrder)
    : PNFilteredPlaylist(
          Private{}, std::make_shared<PNVideoFilter>(platform::StringDictionary{}, tags, "", ""),
          sortOrder) {}

}  // namespace pindle
