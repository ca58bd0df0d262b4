// Helpers of the upload and local-cache tests: a temporary application home per test, records
// with sensible defaults, media files of a given size, and a recorder of the upload
// notifications and list announcements in the order they happen.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "PindleCore/caches/PNLocalVideoCache.hpp"
#include "PindleCore/model/PNNotificationNames.hpp"
#include "PindleCore/uploads/PNUploadingState.hpp"
#include "PindleCore/uploads/PNUploads.hpp"
#include "PindleCore/uploads/private/PNUploadingPersistentStorage.hpp"
#include "platform/files/AppContainer.hpp"
#include "platform/files/FileManager.hpp"
#include "platform/foundation/NotificationCenter.hpp"
#include "tests/support/TemporaryHome.hpp"

namespace pindle::testing {

// Gives each test an empty application home and an empty uploads list and index.
class UploadsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        temporaryHome_.emplace("uploads-");
        home_ = temporaryHome_->path();
        PNUploads::shared().setUploads({});
        for (const auto& entry : PNLocalVideoCache::shared().cache())
            PNLocalVideoCache::shared().remove(entry.video->videoID());
        PNLocalVideoCache::shared().setLimitSize(PNLocalVideoCache::defaultLimitSize);
    }
    void TearDown() override { temporaryHome_.reset(); }

    static std::string recordsPath() {
        return PNUploadingPersistentStorage::shared().uploadingsPath();
    }

    std::optional<TemporaryHome> temporaryHome_;
    std::string home_;
};

inline PNUploadingState::Fields recordFields(const std::string& videoID) {
    PNUploadingState::Fields fields;
    fields.videoID = videoID;
    fields.tags = {"a", "b"};
    fields.metadata = {{"k", "v"}};
    fields.width = 720;
    fields.height = 1280;
    fields.latitude = 52.5;
    fields.longitude = 13.25;
    fields.title = "title of " + videoID;
    fields.descr = "descr";
    fields.shotOn = platform::Date::fromTimeIntervalSince1970(1600000000.25);
    fields.createdAt = platform::Date::fromTimeIntervalSince1970(1700000000.5);
    fields.resolutionsToUpload = {"720p"};
    return fields;
}

inline PNUploadingStatePtr makeRecord(const std::string& videoID, bool recordingComplete = true) {
    auto fields = recordFields(videoID);
    fields.isRecordingComplete = recordingComplete;
    return PNUploadingState::internalObjCInit(std::move(fields));
}

// Writes `size` bytes at the file URL's path, creating its folder.
inline void writeMedia(const platform::URL& url, std::size_t size) {
    const std::string path = url.path();
    const auto& files = platform::FileManager::defaultManager();
    EXPECT_TRUE(files.createDirectory(path.substr(0, path.rfind('/')), true).ok());
    ASSERT_TRUE(files.createFile(path, platform::Data(size, 'x')).ok());
}

// Records, in order, the upload notifications, PNLocalVideoCleanedUp and the list's
// will/did-change announcements.
class EventRecorder {
  public:
    EventRecorder() {
        auto& center = platform::NotificationCenter::defaultCenter();
        for (const char* name :
             {NotificationName::PNVideoUploadsUpdated, NotificationName::PNVideoUploadComplete,
              NotificationName::PNVideoUploadProgress, NotificationName::PNLocalVideoCleanedUp}) {
            registrations_.emplace_back(center.addObserverForName(
                name, nullptr, nullptr, [this](const platform::Notification& notification) {
                    std::string event = notification.name;
                    PNUploadPtr upload;
                    if (auto it = notification.userInfo.find(PNUploads::uploadUserInfoKey);
                        it != notification.userInfo.end())
                        upload = it->second.asObjectOf<PNUpload>();
                    if (const auto* id = notification.object.find("videoID"))
                        event += ":" + *id->asString();
                    add(event, upload);
                }));
        }
        token_ = PNUploads::shared().observe(
            PNUploads::uploadsKey, static_cast<unsigned>(platform::KVOOption::prior),
            [this](const platform::KVOChange& change) { add(change.isPrior ? "will" : "did"); });
    }
    ~EventRecorder() { PNUploads::shared().removeObservation(token_); }

    std::vector<std::string> events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    std::vector<PNUploadPtr> uploads() const {
        std::lock_guard lock(mutex_);
        return uploads_;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        events_.clear();
        uploads_.clear();
    }

  private:
    void add(std::string event, PNUploadPtr upload = nullptr) {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
        if (upload)
            uploads_.push_back(std::move(upload));
    }

    mutable std::mutex mutex_;
    std::vector<std::string> events_;   // guarded by mutex_
    std::vector<PNUploadPtr> uploads_;  // guarded by mutex_
    std::vector<platform::NotificationCenter::ScopedRegistration> registrations_;
    platform::KeyValueObservationPtr token_;
};

}  // namespace pindle::testing
