// PNCustomPlaylist: a playlist whose content the host chooses: it starts from records or from
// identifiers resolved through the backend, and the host adds videos or identifiers at a
// position and removes videos by identifier. It never pages; after every identifier load,
// addition and removal its total is its count.
//
// Additions tell the delegate (updatedWithUpdatedIndexes with the new positions, type added)
// and post PNPlaylistUpdated; removals tell nobody. An insertion position p inserts before
// the video at p when 0 <= p < count(); any other position, or none, appends.
//
// Identifier loads keep the playlist weakly: a playlist released before its videos arrive
// does nothing when they do. A load keeps the requested order, skips identifiers the backend
// did not return and yields the same record twice for an identifier listed twice. A failed
// load counts as a load that found nothing. The playlist built from identifiers takes the
// loaded list in place of whatever it held (additions made meanwhile are replaced), tells
// the delegate updatedWithUpdatedIndexes and then loadedWithVideos, and posts.
//
// Thread-safety: every operation is safe from any thread. Synchronous changes call the
// delegate and post on the caller's thread; the steps after an identifier load run on the
// API client's callback queue. No lock is held while calling out.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "PindleCore/playlists/PNPlaylist.hpp"

namespace pindle {

class PNCustomPlaylist : public PNPlaylist {
    struct Private {
        explicit Private() = default;
    };

  public:
    // A playlist holding `videos`, total absent; nobody is told.
    static std::shared_ptr<PNCustomPlaylist> withVideos(std::vector<PNVideoPtr> videos);
    // An empty playlist that loads `videoIds` and then takes them as its content.
    static std::shared_ptr<PNCustomPlaylist> withVideoIds(std::vector<std::string> videoIds);

    // Use withVideos() or withVideoIds().
    explicit PNCustomPlaylist(Private) {}

    void addVideos(const std::vector<PNVideoPtr>& videos,
                   std::optional<std::int64_t> at = std::nullopt);
    void addVideo(const PNVideoPtr& video, std::optional<std::int64_t> at = std::nullopt);
    // Loads the identifiers, then adds the videos found at `at` (as addVideos does).
    void addVideoIds(const std::vector<std::string>& videoIds,
                     std::optional<std::int64_t> at = std::nullopt);
    void addVideoId(const std::string& videoID, std::optional<std::int64_t> at = std::nullopt);

    // Drops every video whose identifier is listed; nobody is told.
    void removeVideoIds(const std::vector<std::string>& videoIds);
    void removeVideoId(const std::string& videoID);

  private:
    using LoadCompletion = std::function<void(const std::vector<PNVideoPtr>& videos)>;

    // Completion on the API client's callback queue.
    static void loadVideos(const std::vector<std::string>& videoIds, LoadCompletion completion);
    void replaceWithLoaded(const std::vector<PNVideoPtr>& videos);
    // The total becomes the larger of count() and `atLeast`. REQUIRES: mutex_ held.
    void updateTotalCount(std::optional<std::int64_t> atLeast = std::nullopt);
};

}  // namespace pindle
