#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tools/emulator/VideoChanges.hpp"
#include "tools/emulator/VideoQuery.hpp"
#include "tools/emulator/VideoRecord.hpp"

namespace pindle::emulator {

// The backend's videos, in memory, with the record of deletions that change sync needs.
// When a store file is given, the store loads it on open and rewrites it atomically
// (a temporary file renamed over it) after every change, so a crash leaves either the old
// or the new contents. Creation and update stamp the videos from the store's clock.
// Thread-safety: safe from any thread.
class VideoStore {
  public:
    using Clock = std::function<std::int64_t()>;  // milliseconds since 1970

    struct Page {
        std::vector<VideoRecord> videos;
        std::size_t totalCount = 0;  // matches before paging
    };

    // Identifiers of the videos changed at or after a date, for change sync.
    struct Changes {
        std::vector<std::string> created;
        std::vector<std::string> updated;
        std::vector<std::string> deleted;
    };

    explicit VideoStore(Clock clock = {});
    VideoStore(const VideoStore&) = delete;
    VideoStore& operator=(const VideoStore&) = delete;

    // Loads the file when it exists and keeps it as the place of later saves. Returns false,
    // with the reason in error, when the file exists but cannot be read as a store; the
    // store then stays empty and keeps no file.
    bool open(const std::filesystem::path& file, std::string* error = nullptr);

    std::int64_t now() const;
    std::size_t size() const;

    // Puts the video in as it is (sample data, tests), replacing one with the same id.
    void put(VideoRecord video);
    // Adds a new video stamped with the current time; nothing when the id is taken.
    std::optional<VideoRecord> create(VideoRecord video);
    std::optional<VideoRecord> get(const std::string& id) const;
    Page list(const VideoQuery& query) const;
    // Applies the changes and stamps the update time; nothing when there is no such video.
    std::optional<VideoRecord> update(const std::string& id, const VideoChanges& changes);
    bool remove(const std::string& id);
    Changes changesSince(std::int64_t since, const std::set<std::string>& tags,
                         const std::map<std::string, std::string>& metadata) const;

  private:
    struct Deletion {
        std::string id;
        std::vector<std::string> tags;
        std::map<std::string, std::string> metadata;
        std::int64_t deletedAt = 0;
    };

    // REQUIRES: mutex_ held.
    void saveLocked() const;

    Clock clock_;
    mutable std::mutex mutex_;
    std::map<std::string, VideoRecord> videos_;  // guarded by mutex_
    std::vector<Deletion> deletions_;            // guarded by mutex_
    std::optional<std::filesystem::path> file_;  // guarded by mutex_
};

}  // namespace pindle::emulator
