// PNVideos: the host's entry point for videos. It hands out one auto-syncing legacy playlist
// per combination of tags and metadata, and forwards single-video requests (get by filter,
// identifier or identifiers, delete, update) to the backend's videos resource.
//
// A legacy playlist is identified by its (metadata, tags) pair; the order flag of the first
// request for a pair fixes that playlist's order. Playlists, once made, are kept for the life
// of the process. Uploads are not started here: they go through the uploads list.
//
// Thread-safety: every operation is safe from any thread. One recursive mutex guards the
// playlists; it is never held while calling a completion. getPlaylist() completes on the
// caller's thread before it returns when it needs no request (a validation error, or a
// playlist it already holds), else on the API client's callback queue. Every other completion
// runs on the API client's callback queue.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "PindleCore/api/PNVideoAPI.hpp"
#include "PindleCore/model/PNCancellable.hpp"
#include "PindleCore/model/PNSortOrder.hpp"
#include "PindleCore/model/PNVideoFilter.hpp"
#include "PindleCore/playlists/PNLegacyPlaylist.hpp"
#include "PindleCore/uploads/PNUploads.hpp"
#include "platform/foundation/Object.hpp"
#include "platform/foundation/Value.hpp"

namespace pindle {

class PNVideos : public platform::Object {
  public:
    using PlaylistCompletion = std::function<void(const PNLegacyPlaylistPtr& playlist,
                                                  const std::optional<platform::Error>& error)>;
    using SuccessCompletion = std::function<void(bool success)>;

    // The process-wide facade (created on first use, never destroyed).
    static PNVideos& shared();

    PNVideos(const PNVideos&) = delete;
    PNVideos& operator=(const PNVideos&) = delete;

    // The legacy playlist of these tags and metadata, made on first request from the backend's
    // count. Errors: PNError sessionNotStarted when the session has not started, valuesTooLarge
    // when the tags or metadata exceed the validation limits (no request is made for either),
    // or the mapped error of a failed count request (nothing is kept; the next call asks
    // again).
    // REQUIRES: completion is callable.
    void getPlaylist(const platform::StringSet& tags, const platform::StringDictionary& metadata,
                     bool order, PlaylistCompletion completion);

    PNCancellablePtr getByFilter(const PNVideoFilter& filter, PNSortOrder sortOrder,
                                 PNVideoAPI::VideosCompletion completion);
    PNCancellablePtr getByVideoId(const std::string& videoID,
                                  PNVideoAPI::VideoCompletion completion);
    PNCancellablePtr getByVideoIds(const std::vector<std::string>& videoIDs,
                                   PNVideoAPI::VideosCompletion completion);

    // Deletes the video on the backend. On success posts PNVideoDeleted with, as the object, an
    // array holding the one identifier, then completes with true; on failure completes with
    // false and posts nothing.
    // REQUIRES: video is not null.
    PNCancellablePtr deleteVideo(const PNVideoPtr& video, SuccessCompletion completion);
    PNCancellablePtr deleteVideoId(const std::string& videoID, SuccessCompletion completion);

    // Replaces the video's tags and metadata on the backend ({"tags": [...], "metadata": {...}};
    // an absent value is sent empty). The title is not sent: the backend takes none in an
    // update. The completion gets the updated video as an object reference, or the error.
    PNCancellablePtr update(const std::string& videoID, const std::optional<std::string>& title,
                            const std::optional<platform::StringSet>& tags,
                            const std::optional<platform::StringDictionary>& metadata,
                            PNVideoAPI::ResultCompletion completion);

    std::vector<PNLegacyPlaylistPtr> playlists() const;
    void setPlaylists(std::vector<PNLegacyPlaylistPtr> playlists);

    // Older names.
    void videoBy(const std::string& videoID, PNVideoAPI::VideoCompletion completion);
    void remove(const PNVideoPtr& video, SuccessCompletion completion);
    // getPlaylist() under its older name.
    void getVideos(const platform::StringSet& tags, const platform::StringDictionary& metadata,
                   bool order, PlaylistCompletion completion);
    // PNUploads::upload() under its older name: the completion runs before the call returns.
    void uploadVideo(const platform::URL& fileURL, const std::optional<platform::StringSet>& tags,
                     const std::optional<platform::StringDictionary>& metadata,
                     PNUploads::UploadCompletion completion);

  private:
    PNVideos() = default;

    // REQUIRES: mutex_ is held.
    PNLegacyPlaylistPtr findPlaylistLocked(const platform::StringDictionary& metadata,
                                           const platform::StringSet& tags) const;

    mutable std::mutex mutex_;
    std::vector<PNLegacyPlaylistPtr> playlists_;  // guarded by mutex_
};

}  // namespace pindle
