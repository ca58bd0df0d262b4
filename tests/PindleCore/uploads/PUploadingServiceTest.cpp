#include "PindleCore/uploads/PUploadingService.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "OnlineUploadFixture.hpp"
#include "PindleCore/model/PNError.hpp"
#include "PindleCore/model/PNNotificationNames.hpp"
#include "PindleCore/model/PNTokenObject.hpp"
#include "PindleCore/uploads/PNUploadingStateManager.hpp"
#include "PindleCore/uploads/PNUploads.hpp"
#include "PindleCore/uploads/PPublishService.hpp"
#include "platform/dispatch/MainThread.hpp"
#include "platform/files/AppContainer.hpp"
#include "platform/media/Image.hpp"
#include "tests/support/MediaFixtures.hpp"
#include "tests/support/MediaSummary.hpp"

namespace pindle::legacy {
namespace {

class PUploadingServiceTest : public testing::OnlineUploadFixture {
  protected:
    void SetUp() override {
        OnlineUploadFixture::SetUp();
        folder_ = platform::AppContainer::temporaryDirectory() + "/incoming";
        std::filesystem::create_directories(folder_);
    }

    // A short portrait recording: 64x48 frames turned a quarter for display.
    std::string recording(const std::string& name) {
        const std::string path = folder_ + "/" + name;
        EXPECT_EQ(platform::testing::writeClip(
                      path, {.width = 64, .height = 48, .fps = 10, .seconds = 0.5, .rotation = 90}),
                  std::nullopt);
        return path;
    }

    std::string folder_;
};

TEST_F(PUploadingServiceTest, EntryPointRefusesMissingFilesAndOtherTypes) {
    struct Case {
        std::string path;
        std::optional<PNError> error;
    };
    const std::string mov = folder_ + "/clip.mov";
    std::filesystem::copy_file(recording("clip.mp4"), mov);
    const Case cases[] = {
        {folder_ + "/missing.mov", PNError(PNError::uploadFileNotFound)},
        {folder_ + "/missing.mp4", PNError(PNError::uploadFileNotFound)},
        {mov, PNError(PNError::incorrectFileType)},
    };
    for (const Case& c : cases) {
        int calls = 0;
        PNUploads::shared().upload(
            platform::URL::fileURLWithPath(c.path), std::nullopt, std::nullopt,
            [&](const std::shared_ptr<PNVideo>& video,
                const std::optional<platform::Error>& error) {
                ++calls;
                EXPECT_EQ(video, nullptr);
                ASSERT_TRUE(error);
                EXPECT_EQ(PNError::fromPlatformError(*error), c.error) << c.path;
            });
        EXPECT_EQ(calls, 1);
    }
}

TEST_F(PUploadingServiceTest, AFileIsConvertedUploadedAndReported) {
    const std::string source = recording("holiday.MP4");
    std::mutex mutex;
    std::vector<std::string> events;  // guarded by mutex
    auto& center = platform::NotificationCenter::defaultCenter();
    std::vector<platform::NotificationCenter::RegistrationPtr> registrations;
    for (const char* name :
         {kPVideosUploadingStartedNotification, kPVideosUploadingFinishedNotification,
          NotificationName::PNVideoUploadStarted, NotificationName::PNVideoIsUploaded,
          NotificationName::PNVideoUploadFailed, NotificationName::PNVideoUploadCanceled}) {
        registrations.push_back(center.addObserverForName(name, nullptr, nullptr,
                                                          [&, name](const platform::Notification&) {
                                                              std::lock_guard lock(mutex);
                                                              events.push_back(name);
                                                          }));
    }

    std::shared_ptr<PNVideo> video;
    PNUploads::shared().upload(
        platform::URL::fileURLWithPath(source), platform::StringSet{"trip"},
        platform::StringDictionary{{"place", "sea"}},
        [&](const std::shared_ptr<PNVideo>& made, const std::optional<platform::Error>& error) {
            EXPECT_FALSE(error);
            video = made;
        });
    ASSERT_TRUE(video);
    EXPECT_FALSE(std::filesystem::exists(source));  // a file in a writable folder is moved
    EXPECT_EQ(video->width(), 48);                  // the displayed size of the portrait recording
    EXPECT_EQ(video->height(), 64);
    const std::string id = video->videoID();

    ASSERT_TRUE(testing::eventually(
        [&] {
            std::lock_guard lock(mutex);
            return std::find(events.begin(), events.end(),
                             std::string(NotificationName::PNVideoIsUploaded)) != events.end();
        },
        std::chrono::seconds(60)));
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(events.front(), kPVideosUploadingStartedNotification);
        EXPECT_EQ(std::count(events.begin(), events.end(),
                             std::string(NotificationName::PNVideoUploadFailed)),
                  0);
    }
    EXPECT_TRUE(testing::eventually([&] {
        std::lock_guard lock(mutex);
        return events.back() == kPVideosUploadingFinishedNotification;
    }));

    // What reached storage is the converted MP4 of the video.
    auto object = emulator_.storage().object(id + "/imported.mp4");
    ASSERT_TRUE(object);
    const std::string copy = folder_ + "/uploaded.mp4";
    {
        std::ofstream out(copy, std::ios::binary);
        out << *object;
    }
    platform::Error error;
    auto probe = platform::testing::MediaSummary::read(copy, &error);
    ASSERT_TRUE(probe) << error.description();
    auto record = PNUploadingStateManager::shared().uploading(id, PNTokenObject::sharedInstance());
    ASSERT_TRUE(record);
    EXPECT_TRUE(record->isUploaded());
    EXPECT_TRUE(record->isConverted());
    ASSERT_TRUE(emulator_.store().get(id));
    EXPECT_EQ(emulator_.store().get(id)->tags, std::vector<std::string>{"trip"});
    for (auto& registration : registrations) center.removeObserver(registration);
}

}  // namespace
}  // namespace pindle::legacy

namespace pindle::legacy {
namespace {

TEST(PPublishServiceTest, ISO6709LocationsGiveLatitudeAndLongitude) {
    auto coordinate = PPublishService::coordinatedFromISO6709String("+37.3318-122.0312/");
    EXPECT_DOUBLE_EQ(coordinate.at("lat"), 37.3318);
    EXPECT_DOUBLE_EQ(coordinate.at("long"), -122.0312);
    EXPECT_TRUE(PPublishService::coordinatedFromISO6709String("+37.3318-122.03").empty());
    EXPECT_TRUE(PPublishService::coordinatedFromISO6709String("north, far west!!").empty());
}

}  // namespace
}  // namespace pindle::legacy
