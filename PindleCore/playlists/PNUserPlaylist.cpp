#include "PindleCore/playlists/PNUserPlaylist.hpp"

namespace pindle {

std::shared_ptr<PNUserPlaylist> PNUserPlaylist::make(const std::string& userIdentity,
                                                     PNSortOrder sortOrder) {
    return started(std::make_shared<PNUserPlaylist>(Private{}, userIdentity, sortOrder));
}

PNUserPlaylist::PNUserPlaylist(Private, const std::string& userIdentity, PNSortOrder sortOrder)
    : PNFilteredPlaylist(Private{},
                         std::make_shared<PNVideoFilter>(platform::StringDictionary{},
                                                         platform::StringSet{}, "", userIdentity),
                         sortOrder) {}

}  // namespace pindle
