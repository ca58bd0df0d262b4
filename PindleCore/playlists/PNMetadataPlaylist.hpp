// PNMetadataPlaylist: the videos whose metadata holds every entry of a map, page by page; also home
// of the metadata subset test that local lookups use for the same match.
//
// Built only through make(), which starts the first page at once. Everything else, thread
// safety included, is PNFilteredPlaylist's.
#pragma once

#include <memory>

#include "PindleCore/playlists/PNFilteredPlaylist.hpp"
#include "platform/foundation/Value.hpp"

namespace pindle {

class PNMetadataPlaylist : public PNFilteredPlaylist {
  public:
    static std::shared_ptr<PNMetadataPlaylist> make(const platform::StringDictionary& metadata,
                                                    PNSortOrder sortOrder);

    // Use make().
    PNMetadataPlaylist(Private, const platform::StringDictionary& metadata, PNSortOrder sortOrder);
};

// Whether every entry of `dictionary` is in `superDictionary` with an equal text. Values are
// read as texts: one that is missing or not a text counts as absent, and two absent values
// are equal. Keys that only `superDictionary` has do not matter, so {} is a subdictionary of
// anything.
bool isSubdictionary(const platform::Dictionary& dictionary,
                     const platform::Dictionary& superDictionary);
bool isSubdictionary(const platform::StringDictionary& dictionary,
                     const platform::StringDictionary& superDictionary);

}  // namespace pindle
