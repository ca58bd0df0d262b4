#include "tools/emulator/VideoStore.hpp"

#include <algorithm>
#include <fstream>
#include <iostream>
#include <sstream>

#include "tools/emulator/BackendDate.hpp"

namespace pindle::emulator {

namespace {

constexpr int storeFormatVersion = 1;

bool earlier(const VideoRecord& a, const VideoRecord& b) {
    return a.createdAt != b.createdAt ? a.createdAt < b.createdAt : a.id < b.id;
}

}  // namespace

VideoStore::VideoStore(Clock clock) : clock_(clock ? std::move(clock) : BackendDate::nowMillis) {}

bool VideoStore::open(const std::filesystem::path& file, std::string* error) {
    auto fail = [&](const std::string& reason) {
        if (error) {
            *error = file.string() + ": " + reason;
        }
        return false;
    };
    std::map<std::string, VideoRecord> videos;
    std::vector<Deletion> deletions;
    std::error_code missing;
    if (std::filesystem::exists(file, missing)) {
        std::ifstream in(file, std::ios::binary);
        std::ostringstream contents;
        contents << in.rdbuf();
        auto json = nlohmann::json::parse(contents.str(), nullptr, false);
        if (!in || json.is_discarded() || !json.is_object() ||
            json.value("version", 0) != storeFormatVersion) {
            return fail("not a video store file");
        }
        for (const auto& entry : json.value("videos", nlohmann::json::array())) {
            auto video = VideoRecord::fromStoredJSON(entry);
            if (!video) {
                return fail("a stored video cannot be read");
            }
            videos[video->id] = std::move(*video);
        }
        for (const auto& entry : json.value("deletions", nlohmann::json::array())) {
            Deletion deletion;
            deletion.id = entry.value("id", "");
            deletion.tags = entry.value("tags", std::vector<std::string>{});
            deletion.metadata = entry.value("metadata", std::map<std::string, std::string>{});
            deletion.deletedAt = entry.value("deletedAt", std::int64_t{0});
            deletions.push_back(std::move(deletion));
        }
    }
    std::scoped_lock lock(mutex_);
    videos_ = std::move(videos);
    deletions_ = std::move(deletions);
    file_ = file;
    return true;
}

std::int64_t VideoStore::now() const {
    return clock_();
}

std::size_t VideoStore::size() const {
    std::scoped_lock lock(mutex_);
    return videos_.size();
}

void VideoStore::put(VideoRecord video) {
    std::scoped_lock lock(mutex_);
    auto id = video.id;
    videos_[id] = std::move(video);
    saveLocked();
}

std::optional<VideoRecord> VideoStore::create(VideoRecord video) {
    auto stamp = now();
    std::scoped_lock lock(mutex_);
    if (videos_.count(video.id) > 0) {
        return std::nullopt;
    }
    video.createdAt = stamp;
    video.updatedAt = stamp;
    auto id = video.id;
    std::erase_if(deletions_, [&](const Deletion& deletion) { return deletion.id == id; });
    auto& stored = videos_[id] = std::move(video);
    saveLocked();
    return stored;
}

std::optional<VideoRecord> VideoStore::get(const std::string& id) const {
    std::scoped_lock lock(mutex_);
    auto it = videos_.find(id);
    if (it == videos_.end()) {
        return std::nullopt;
    }
    return it->second;
}

VideoStore::Page VideoStore::list(const VideoQuery& query) const {
    std::vector<VideoRecord> matches;
    {
        std::scoped_lock lock(mutex_);
        for (const auto& [id, video] : videos_) {
            if (query.matches(video)) {
                matches.push_back(video);
            }
        }
    }
    std::sort(matches.begin(), matches.end(), earlier);
    if (query.descending) {
        std::reverse(matches.begin(), matches.end());
    }
    Page page;
    page.totalCount = matches.size();
    auto first = static_cast<std::size_t>(std::max<std::int64_t>(query.offset, 0));
    if (first >= matches.size()) {
        return page;
    }
    auto count = matches.size() - first;
    if (query.limit) {
        count = std::min(count, static_cast<std::size_t>(std::max<std::int64_t>(*query.limit, 0)));
    }
    page.videos.assign(std::make_move_iterator(matches.begin() + first),
                       std::make_move_iterator(matches.begin() + first + count));
    return page;
}

std::optional<VideoRecord> VideoStore::update(const std::string& id, const VideoChanges& changes) {
    auto stamp = now();
    std::scoped_lock lock(mutex_);
    auto it = videos_.find(id);
    if (it == videos_.end()) {
        return std::nullopt;
    }
    auto& video = it->second;
    if (changes.title) {
        video.title = *changes.title;
    }
    if (changes.tags) {
        video.setTags(*changes.tags);
    }
    if (changes.metadata) {
        video.metadata = *changes.metadata;
    }
    if (changes.latitude) {
        video.latitude = *changes.latitude;
    }
    if (changes.longitude) {
        video.longitude = *changes.longitude;
    }
    if (changes.width) {
        video.width = *changes.width;
    }
    if (changes.height) {
        video.height = *changes.height;
    }
    if (changes.shotOn) {
        video.shotOn = *changes.shotOn;
    }
    if (changes.transcription) {
        video.transcription = *changes.transcription;
    }
    if (changes.state) {
        video.state = *changes.state;
    }
    for (const auto& resolution : changes.addedResolutions) {
        video.addResolution(resolution);
    }
    video.updatedAt = std::max(stamp, video.createdAt);
    saveLocked();
    return video;
}

bool VideoStore::remove(const std::string& id) {
    auto stamp = now();
    std::scoped_lock lock(mutex_);
    auto it = videos_.find(id);
    if (it == videos_.end()) {
        return false;
    }
    deletions_.push_back({id, it->second.tags, it->second.metadata, stamp});
    videos_.erase(it);
    saveLocked();
    return true;
}

VideoStore::Changes VideoStore::changesSince(
    std::int64_t since, const std::set<std::string>& tags,
    const std::map<std::string, std::string>& metadata) const {
    std::vector<VideoRecord> created;
    std::vector<VideoRecord> updated;
    Changes changes;
    std::scoped_lock lock(mutex_);
    for (const auto& [id, video] : videos_) {
        if (!VideoQuery::hasTagsAndMetadata(video.tags, video.metadata, tags, metadata)) {
            continue;
        }
        if (video.createdAt >= since) {
            created.push_back(video);
        } else if (video.updatedAt >= since) {
            updated.push_back(video);
        }
    }
    std::sort(created.begin(), created.end(), earlier);
    std::sort(updated.begin(), updated.end(), earlier);
    for (const auto& video : created) {
        changes.created.push_back(video.id);
    }
    for (const auto& video : updated) {
        changes.updated.push_back(video.id);
    }
    for (const auto& deletion : deletions_) {
        if (deletion.deletedAt >= since &&
            VideoQuery::hasTagsAndMetadata(deletion.tags, deletion.metadata, tags, metadata)) {
            changes.deleted.push_back(deletion.id);
        }
    }
    return changes;
}

void VideoStore::saveLocked() const {
    if (!file_) {
        return;
    }
    nlohmann::json json = {{"version", storeFormatVersion}};
    json["videos"] = nlohmann::json::array();
    for (const auto& [id, video] : videos_) {
        json["videos"].push_back(video.toStoredJSON());
    }
    json["deletions"] = nlohmann::json::array();
    for (const auto& deletion : deletions_) {
        json["deletions"].push_back({{"id", deletion.id},
                                     {"tags", deletion.tags},
                                     {"metadata", deletion.metadata},
                                     {"deletedAt", deletion.deletedAt}});
    }
    auto temporary = *file_;
    temporary += ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << json.dump(1, '\t', false, nlohmann::json::error_handler_t::replace);
        out.flush();
        if (!out) {
            std::cerr << "pindle-backend-emulator: cannot write " << temporary << "\n";
            return;
        }
    }
    std::error_code error;
    std::filesystem::rename(temporary, *file_, error);
    if (error) {
        std::cerr << "pindle-backend-emulator: cannot replace " << *file_ << ": " << error.message()
                  << "\n";
    }
}

}  // namespace pindle::emulator
