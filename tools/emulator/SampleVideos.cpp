#include "tools/emulator/SampleVideos.hpp"

#include <array>
#include <string>

#include "tools/emulator/BackendDate.hpp"
#include "tools/emulator/Tokens.hpp"

namespace pindle::emulator {

namespace {

constexpr std::string_view firstCreatedAt = "2024-03-01T09:00:00.000Z";
constexpr std::int64_t hourMillis = 3600 * 1000;
constexpr std::int64_t shotBeforeCreation = 10 * 60 * 1000;
constexpr std::int64_t portraitWidth = 720;
constexpr std::int64_t portraitHeight = 1280;

constexpr std::array<const char*, 4> identities = {"alice", "bob", "carol", "dave"};
constexpr std::array<const char*, 7> tagPool = {"travel", "food",   "music", "sport",
                                                "pets",   "nature", "city"};
constexpr std::array<const char*, 3> categories = {"vlog", "tutorial", "review"};
constexpr std::array<const char*, 5> subjects = {"Morning walk", "Street food", "Live set",
                                                 "Cat nap", "Mountain view"};

struct Place {
    double latitude;
    double longitude;
};
constexpr std::array<Place, 4> places = {
    {{48.8566, 2.3522}, {52.5200, 13.4050}, {40.4168, -3.7038}, {59.3293, 18.0686}}};

}  // namespace

std::vector<VideoRecord> SampleVideos::make(std::size_t count) {
    const std::int64_t start = *BackendDate::parse(firstCreatedAt);
    std::vector<VideoRecord> videos;
    for (std::size_t i = 0; i < count; ++i) {
        VideoRecord video;
        auto number = std::to_string(i + 1);
        video.id = Tokens::stableUUID("sample-video-" + number);
        video.title = std::string(subjects[i % subjects.size()]) + " #" + number;
        video.identity = identities[i % identities.size()];
        video.latitude = places[i % places.size()].latitude;
        video.longitude = places[i % places.size()].longitude;
        video.state = "processed";
        video.width = portraitWidth;
        video.height = portraitHeight;
        video.setTags({tagPool[i % tagPool.size()], tagPool[(i * 3 + 1) % tagPool.size()]});
        video.metadata = {{"category", categories[i % categories.size()]}, {"sample", number}};
        video.createdAt = start + static_cast<std::int64_t>(i) * hourMillis;
        video.updatedAt = video.createdAt;
        video.shotOn = video.createdAt - shotBeforeCreation;
        if (i % 5 == 0) {
            video.transcription = "Spoken words of sample video " + number + ".";
        }
        for (const char* resolution : VideoRecord::resolutionNames) {
            video.addResolution(resolution);
        }
        videos.push_back(std::move(video));
    }
    return videos;
}

}  // namespace pindle::emulator
