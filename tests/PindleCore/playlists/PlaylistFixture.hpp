// Shared pieces of the playlist tests: a delegate and a notification observer that record
// what a playlist reports (from whatever thread), and a fixture that serves a known set of
// videos from the backend emulator.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "PindleCore/model/PNNotificationNames.hpp"
#include "PindleCore/playlists/PNPlaylist.hpp"
#include "platform/foundation/NotificationCenter.hpp"
#include "tests/PindleCore/api/EmulatorFixture.hpp"
#include "tools/emulator/VideoQuery.hpp"

namespace pindle::testing {

// One report of a playlist, to its delegate or through PNPlaylistUpdated.
struct PlaylistEvent {
    enum class Kind { loaded, updated, notified };
    Kind kind;
    std::vector<std::string> videoIDs;         // loaded
    std::vector<std::int64_t> indexes;         // updated, notified
    std::optional<PNPlaylistUpdateType> type;  // updated

    static PlaylistEvent loaded(std::vector<std::string> ids) {
        return {Kind::loaded, std::move(ids), {}, std::nullopt};
    }
    static PlaylistEvent updated(std::vector<std::int64_t> indexes, PNPlaylistUpdateType type) {
        return {Kind::updated, {}, std::move(indexes), type};
    }
    static PlaylistEvent notified(std::vector<std::int64_t> indexes) {
        return {Kind::notified, {}, std::move(indexes), std::nullopt};
    }
    bool operator==(const PlaylistEvent&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const PlaylistEvent& event) {
    static const char* names[] = {"loaded", "updated", "notified"};
    out << names[static_cast<int>(event.kind)] << "(";
    for (const auto& id : event.videoIDs) out << id << " ";
    for (auto index : event.indexes) out << index << " ";
    if (event.type)
        out << "type " << rawValue(*event.type);
    return out << ")";
}

inline std::vector<std::string> idsOf(const std::vector<PNVideoPtr>& videos) {
    std::vector<std::string> ids;
    for (const auto& video : videos) ids.push_back(video->videoID());
    return ids;
}

// Records the delegate calls and the PNPlaylistUpdated notifications of one playlist, in the
// order they happen.
class PlaylistRecorder : public PNPlaylistDelegate {
  public:
    static std::shared_ptr<PlaylistRecorder> attach(const std::shared_ptr<PNPlaylist>& playlist) {
        auto recorder = std::make_shared<PlaylistRecorder>();
        playlist->setDelegate(recorder);
        recorder->observe(playlist.get());
        return recorder;
    }
    ~PlaylistRecorder() override {
        if (registration_)
            platform::NotificationCenter::defaultCenter().removeObserver(registration_);
    }

    // Records the playlist's notifications (any playlist's when `playlist` is null) without
    // becoming its delegate: for a playlist that must not be kept alive, or one not made yet.
    void observe(const PNPlaylist* playlist) {
        registration_ = platform::NotificationCenter::defaultCenter().addObserverForName(
            NotificationName::PNPlaylistUpdated, nullptr, nullptr,
            [this, playlist](const platform::Notification& notification) {
                const platform::Value* owner = notification.object.find(PNPlaylist::playlistKey);
                const platform::Value* indexes =
                    notification.object.find(PNPlaylist::updatedIndexesKey);
                if (!owner || (playlist && owner->asObject().get() != playlist) || !indexes ||
                    !indexes->isArray())
                    return;
                EXPECT_TRUE(notification.userInfo.empty());
                EXPECT_EQ(notification.object.asDictionary()->size(), 2u);
                EXPECT_TRUE(platform::isKindOf<PNPlaylist>(owner->asObject()));
                std::vector<std::int64_t> positions;
                for (const auto& index : *indexes->asArray())
                    positions.push_back(index.asWholeNumber().value_or(-1));
                record(PlaylistEvent::notified(std::move(positions)));
            });
    }

    void loadedWithVideos(const std::vector<PNVideoPtr>& videos) override {
        record(PlaylistEvent::loaded(idsOf(videos)));
    }
    void updatedWithUpdatedIndexes(const std::vector<std::int64_t>& updatedIndexes,
                                   PNPlaylistUpdateType type) override {
        record(PlaylistEvent::updated(updatedIndexes, type));
    }

    std::vector<PlaylistEvent> events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    std::size_t notificationCount() const {
        std::lock_guard lock(mutex_);
        std::size_t count = 0;
        for (const auto& event : events_)
            count += event.kind == PlaylistEvent::Kind::notified ? 1 : 0;
        return count;
    }
    // Waits until `count` notifications have been posted.
    bool waitForNotifications(std::size_t count) const {
        return eventually([&] { return notificationCount() >= count; }, std::chrono::seconds(20));
    }
    void clear() {
        std::lock_guard lock(mutex_);
        events_.clear();
    }

  private:
    void record(PlaylistEvent event) {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
    }

    mutable std::mutex mutex_;
    std::vector<PlaylistEvent> events_;  // guarded by mutex_
    platform::NotificationCenter::RegistrationPtr registration_;
};

class PlaylistFixture : public EmulatorFixture {
  protected:
    void SetUp() override {
        EmulatorFixture::SetUp();
        authorize();
    }
    void TearDown() override {
        PNSession::current()->setSessionToken(std::nullopt);
        EmulatorFixture::TearDown();
    }

    // The identifiers the backend holds for `query`, in its order.
    std::vector<std::string> backendIDs(emulator::VideoQuery query = {}) {
        std::vector<std::string> ids;
        for (const auto& video : emulator_.store().list(query).videos) ids.push_back(video.id);
        return ids;
    }

    // Makes a playlist with a recorder that has seen everything it reported since it was made
    // (its own first page included).
    template <class Make>
    auto makeRecorded(Make make) {
        auto recorder = std::make_shared<PlaylistRecorder>();
        recorder->observe(nullptr);
        // A playlist may start loading as it is made, before it can have a delegate: the
        // backend's replies wait until the recorder is in place.
        auto gate = std::make_shared<emulator::FaultGate>();
        emulator_.server().holdReplies(gate);
        auto playlist = make();
        playlist->setDelegate(recorder);
        emulator_.server().holdReplies(nullptr);
        gate->open();
        return std::pair(playlist, recorder);
    }

    // The list requests the backend received, as their raw queries.
    std::vector<emulator::Request> listRequests() {
        return emulator_.server().requestLog().requestsFor("GET", "/v1/videos");
    }
};

}  // namespace pindle::testing
