#include "PindleCore/playlists/PNMetadataPlaylist.hpp"

namespace pindle {

std::shared_ptr<PNMetadataPlaylist> PNMetadataPlaylist::make(
    const platform::StringDictionary& metadata, PNSortOrder sortOrder) {
    return started(std::make_shared<PNMetadataPlaylist>(Private{}, metadata, sortOrder));
}

PNMetadataPlaylist::PNMetadataPlaylist(Private, const platform::StringDictionary& metadata,
                                       PNSortOrder sortOrder)
    : PNFilteredPlaylist(Private{},
                         std::make_shared<PNVideoFilter>(metadata, platform::StringSet{}, "", ""),
                         sortOrder) {}

namespace {

const std::string* textAt(const platform::Dictionary& dictionary, const std::string& key) {
    auto entry = dictionary.find(key);
    return entry == dictionary.end() ? nullptr : entry->second.asString();
}

}  // namespace

bool isSubdictionary(const platform::Dictionary& dictionary,
                     const platform::Dictionary& superDictionary) {
    for (const auto& [key, value] : dictionary) {
        const std::string* mine = value.asString();
        const std::string* theirs = textAt(superDictionary, key);
        if ((mine == nullptr) != (theirs == nullptr))
            return false;
        if (mine && *mine != *theirs)
            return false;
    }
    return true;
}

bool isSubdictionary(const platform::StringDictionary& dictionary,
                     const platform::StringDictionary& superDictionary) {
    for (const auto& [key, value] : dictionary) {
        auto entry = superDictionary.find(key);
        if (entry == superDictionary.end() || entry->second != value)
            return false;
    }
    return true;
}

}  // namespace pindle
