// Shared pieces of the legacy playlist and videos facade tests: a fixture that serves a known
// set of tagged videos from the backend emulator and keeps the local video cache in a
// temporary home, and a recorder of the legacy playlist's change reports.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "PindleCore/caches/PNLocalVideoCache.hpp"
#include "PindleCore/model/PNNotificationNames.hpp"
#include "PindleCore/playlists/PNLegacyPlaylist.hpp"
#include "PlaylistFixture.hpp"
#include "platform/foundation/NotificationCenter.hpp"
#include "tests/support/TemporaryHome.hpp"
#include "tools/emulator/VideoRecord.hpp"

namespace pindle::testing {

// One change report of a legacy playlist.
struct LegacyReport {
    bool fromDelegate = false;
    std::vector<std::int64_t> newIndexes;
    std::vector<std::int64_t> oldIndexes;
    std::int64_t newCount = 0;
    bool localVideo = false;
    bool operator==(const LegacyReport&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const LegacyReport& report) {
    out << (report.fromDelegate ? "delegate(" : "notification(") << "new:";
    for (auto index : report.newIndexes) out << " " << index;
    out << " old:";
    for (auto index : report.oldIndexes) out << " " << index;
    return out << " count " << report.newCount << " local " << report.localVideo << ")";
}

// Records what one legacy playlist reports, through its legacy delegate and PNPlaylistUpdated.
class LegacyRecorder : public PNLegacyPlaylistDelegate {
  public:
    static std::shared_ptr<LegacyRecorder> attach(const PNLegacyPlaylistPtr& playlist) {
        auto recorder = std::make_shared<LegacyRecorder>();
        playlist->setLegacyDelegate(recorder);
        const PNPlaylist* watched = playlist.get();
        recorder->registration_ = platform::NotificationCenter::defaultCenter().addObserverForName(
            NotificationName::PNPlaylistUpdated, nullptr, nullptr,
            [raw = recorder.get(), watched](const platform::Notification& notification) {
                raw->notified(notification, watched);
            });
        return recorder;
    }
    ~LegacyRecorder() override {
        platform::NotificationCenter::defaultCenter().removeObserver(registration_);
    }

    void updatedWithPlaylist(PNLegacyPlaylist&, const std::vector<std::int64_t>& newIndexes,
                             const std::vector<std::int64_t>& oldIndexes, std::int64_t newCount,
                             bool localVideo) override {
        record({true, newIndexes, oldIndexes, newCount, localVideo});
    }
    void updatedWithPlaylist(PNLegacyPlaylist&, const std::vector<std::int64_t>&, std::int64_t,
                             bool) override {
        ADD_FAILURE() << "the older delegate call is never made";
    }

    std::vector<LegacyReport> reports() const {
        std::lock_guard lock(mutex_);
        return reports_;
    }
    bool waitForReports(std::size_t count) const {
        return eventually([&] { return reports().size() >= count; }, std::chrono::seconds(20));
    }

  private:
    static std::vector<std::int64_t> integers(const platform::Value* value) {
        std::vector<std::int64_t> result;
        if (value && value->isArray()) {
            for (const auto& element : *value->asArray())
                result.push_back(element.asWholeNumber().value_or(-1));
        }
        return result;
    }
    void notified(const platform::Notification& notification, const PNPlaylist* watched) {
        const platform::Value* owner = notification.object.find(PNPlaylist::playlistKey);
        if (!owner || owner->asObject().get() != watched)
            return;
        EXPECT_TRUE(notification.userInfo.empty());
        EXPECT_EQ(notification.object.asDictionary()->size(), 5u);
        const platform::Value* count = notification.object.find(PNLegacyPlaylist::newCountKey);
        const platform::Value* local = notification.object.find(PNLegacyPlaylist::localVideoKey);
        record({false, integers(notification.object.find(PNLegacyPlaylist::newIndexesKey)),
                integers(notification.object.find(PNLegacyPlaylist::oldIndexesKey)),
                count ? count->asWholeNumber().value_or(-1) : -1,
                local && local->asBool().value_or(false)});
    }
    void record(LegacyReport report) {
        std::lock_guard lock(mutex_);
        reports_.push_back(std::move(report));
    }

    mutable std::mutex mutex_;
    std::vector<LegacyReport> reports_;  // guarded by mutex_
    platform::NotificationCenter::RegistrationPtr registration_;
};

// What an item completion delivered.
struct Item {
    PNVideoPtr video;
    std::optional<platform::Error> error;
};

class LegacyPlaylistFixture : public PlaylistFixture {
  protected:
    static constexpr const char* kTag = "legacy";
    static constexpr std::int64_t firstStamp = 1'600'000'000'000;  // ms since 1970
    static constexpr std::int64_t stampStep = 1'000;

    void SetUp() override {
        PlaylistFixture::SetUp();
        clearLocalVideos();
    }
    void TearDown() override {
        clearLocalVideos();
        PlaylistFixture::TearDown();
    }

    static void clearLocalVideos() {
        for (const auto& entry : PNLocalVideoCache::shared().cache())
            PNLocalVideoCache::shared().remove(entry.video->videoID());
    }

    // The creation date of the n-th slot of the test's time line.
    static platform::Date dateOf(std::int64_t slot) {
        return platform::Date::fromTimeIntervalSince1970(
            static_cast<double>(firstStamp + slot * stampStep) / 1000.0);
    }

    // Puts a backend video tagged kTag, created at time-line slot `slot`.
    void putRemote(const std::string& id, std::int64_t slot) {
        emulator::VideoRecord record;
        record.id = id;
        record.identity = "tester";
        record.setTags({kTag});
        record.createdAt = firstStamp + slot * stampStep;
        record.updatedAt = record.createdAt;
        emulator_.store().put(std::move(record));
    }
    // Puts `count` backend videos "r000", "r001", ... at slots 0, 1, ...
    std::vector<std::string> putRemotes(int count) {
        std::vector<std::string> ids;
        for (int i = 0; i < count; ++i) {
            char id[16];
            std::snprintf(id, sizeof id, "r%03d", i);
            putRemote(id, i);
            ids.push_back(id);
        }
        return ids;
    }
    // Enters a local video tagged kTag, created at time-line slot `slot`.
    static PNVideoPtr putLocal(const std::string& id, std::int64_t slot) {
        PNVideo::Fields fields;
        fields.videoID = id;
        fields.tags = {kTag};
        fields.creationDate = dateOf(slot);
        auto video = PNVideo::make(std::move(fields));
        PNLocalVideoCache::shared().add(video, 1);
        return video;
    }

    PNLegacyPlaylistPtr makePlaylist(std::int64_t count, bool order = false) {
        return PNLegacyPlaylist::make({kTag}, {}, order, count, platform::Date::now());
    }

    static Item itemAt(PNLegacyPlaylist& playlist, std::int64_t index) {
        Outcome<Item> outcome;
        playlist.asyncVideoAt(
            index, [&](const PNVideoPtr& video, const std::optional<platform::Error>& error) {
                outcome.set({video, error});
            });
        return outcome.wait();
    }
    static std::string idAt(PNLegacyPlaylist& playlist, std::int64_t index) {
        auto item = itemAt(playlist, index);
        EXPECT_FALSE(item.error) << "index " << index << ": " << item.error->description();
        return item.video ? item.video->videoID() : "(none)";
    }
    static bool syncNow(PNLegacyPlaylist& playlist) {
        Outcome<bool> outcome;
        playlist.sync([&](bool success) { outcome.set(success); });
        return outcome.wait();
    }

    std::size_t pageRequests() { return listRequests().size(); }

    TemporaryHome home_;
};

}  // namespace pindle::testing
