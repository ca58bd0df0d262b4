// PNLocalVideoCache: the index of videos whose media lie as files on this device (recorded
// here and on their way to the backend, or kept after upload), and the naming of those files.
//
// Files live in the folder "psdk" of Documents: "<id>_<resolution>.mp4" per converted
// resolution and "<id>.mov" for the unconverted recording. The index holds, per video, its
// PNVideo and the bytes of its files when it was entered, in ascending order of creation date
// (equal dates keep their order of arrival). When the total passes limitSize (500 MiB), the
// oldest videos whose upload is finished are evicted (files, upload record and entry);
// unfinished uploads are never evicted, so the index may stay above the limit. Nor are the
// videos that a live process sharing the application home carries (legacy::PUploadClaim):
// neither eviction nor resetCache() removes anything of theirs.
//
// The index is not persisted: resetCache() rebuilds it from the stored upload records once
// per process (the session's construction calls it). Removing a video posts
// PNLocalVideoCleanedUp on the default notification center with the object {"videoID": id},
// synchronously on the calling thread.
//
// Identifiers reach file names only through PNSafePath: a video whose identifier the API
// client would refuse gets no path, so put() refuses it and remove() updates the index and
// posts but touches no file.
//
// Thread-safety: safe from any thread. The index is guarded by one mutex, which is never held
// while calling out (posting, the upload state manager, the file system), so observers of the
// upload notifications, which run under the manager's lock, may use this cache. Path builders
// and resolutions() take no lock. A removal (direct, by eviction or by resetCache) takes the
// entry off the index at once and deletes the files and the record just after, outside the
// mutex; a video evicted to make room is removed whole before the new entry goes in.
// resetCache() builds the new index aside and swaps it in under the mutex, so concurrent
// lookups see the former index or the new one, never an empty one.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "PindleCore/model/PNVideo.hpp"
#include "platform/foundation/Object.hpp"
#include "platform/foundation/URL.hpp"
#include "platform/foundation/Value.hpp"

namespace pindle {

class PNLocalVideoCache {
  public:
    static constexpr std::int64_t defaultLimitSize = 524288000;
    static constexpr const char* folderName = "psdk";
    static constexpr const char* videoIDKey = "videoID";

    struct Entry {
        PNVideoPtr video;
        std::int64_t size = 0;
    };

    static PNLocalVideoCache& shared();

    PNLocalVideoCache(const PNLocalVideoCache&) = delete;
    PNLocalVideoCache& operator=(const PNLocalVideoCache&) = delete;

    // A snapshot of the index, in order.
    std::vector<Entry> cache() const;
    std::int64_t limitSize() const;
    void setLimitSize(std::int64_t bytes);

    // Rebuilds the index from the stored upload records: incomplete recordings and uploaded
    // videos that no live process carries are removed (files, record, notification); every
    // complete, not uploaded one is entered from its files, oldest first.
    void resetCache();
    // How often resetCache() ran in this process.
    int resetCount() const { return resets_.load(); }

    // The file to play for an indexed video: its 720p MP4 file, else its MOV file, when one
    // exists; nothing for a video that is not indexed.
    std::optional<platform::URL> videoLocalMediaURL(const std::string& videoID) const;
    // The indexed record of that identifier, or null.
    PNVideoPtr video(const std::string& videoID) const;
    // Enters (or re-enters) a video whose files measure `size` bytes, evicting first.
    // REQUIRES: video is not null.
    void add(const PNVideoPtr& video, std::int64_t size);
    // Enters a video from its files on disk; a video without any file is removed instead.
    // Acts only for the internal-caller token and a video whose identifier may name files.
    // REQUIRES: video is not null.
    void put(const PNVideoPtr& video, const std::shared_ptr<platform::Object>& fromObject);
    // The indexed records carrying every tag of `tags` and every entry of `metadata`, by
    // ascending creation date.
    std::vector<PNVideoPtr> videosByTags(const platform::StringSet& tags,
                                         const platform::StringDictionary& metadata) const;
    // Deletes the MOV file and takes its size off the entry.
    void removeNonConvertedFile(const std::string& videoID);
    // Forgets the video: its upload record and list entry, its files, its entry; then posts
    // PNLocalVideoCleanedUp, also when none of them existed.
    void remove(const std::string& videoID);

    // The four-character names that follow "<id>_" in any path below Documents, in listing
    // order (duplicates kept; names holding a '/' skipped).
    std::vector<std::string> resolutions(const std::string& videoID) const;
    std::vector<platform::URL> pathesForVideoCache(const std::string& videoID) const;
    // Paths whether or not the file exists; nothing is created. Nothing for an identifier that
    // PNSafePath does not let name files (or a resolution that would make the name unsafe).
    std::optional<platform::URL> pathForCache(const std::string& videoID,
                                              const std::string& resolution) const;
    // pathForCache() as a file-system path, for callers that only hand it to the file system.
    static std::optional<std::string> locationForCache(const std::string& videoID,
                                                       const std::string& resolution);
    std::optional<platform::URL> pathForMOVVideoCache(const std::string& videoID) const;

  private:
    PNLocalVideoCache() = default;

    static std::string folderPath();
    // The paths of every file of the video, each once.
    std::vector<std::string> filePaths(const std::string& videoID) const;
    // Takes entries of `finished` uploads off the front of the index until `size` more bytes
    // fit in place of the entry of `entering`; returns their identifiers for removal once the
    // mutex is released. REQUIRES: mutex_ is held.
    std::vector<std::string> checkSize(std::int64_t size, const std::set<std::string>& finished,
                                       const std::string& entering);
    // Puts the entry in creation-date order, in place of any entry of the same video.
    static void insertEntry(std::vector<Entry>& index, Entry entry);
    // The bytes of every file of the video.
    std::int64_t filesSize(const std::string& videoID) const;

    mutable std::mutex mutex_;
    std::vector<Entry> cache_;                   // guarded by mutex_
    std::int64_t limitSize_ = defaultLimitSize;  // guarded by mutex_
    std::atomic<int> resets_{0};
};

}  // namespace pindle
