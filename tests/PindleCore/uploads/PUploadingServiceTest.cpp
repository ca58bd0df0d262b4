#include "PindleCore/uploads/PUploadingService.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include "OnlineUploadFixture.hpp"
#include "PindleCore/caches/PNLocalVideoCache.hpp"
#include "PindleCore/model/PNError.hpp"
#include "PindleCore/model/PNNotificationNames.hpp"
#include "PindleCore/model/PNTokenObject.hpp"
#include "PindleCore/uploads/PCacheManager.hpp"
#include "PindleCore/uploads/PNUploadingStateManager.hpp"
#include "PindleCore/uploads/PNUploads.hpp"
#include "PindleCore/uploads/PPublishService.hpp"
#include "PindleCore/uploads/PUploadClaim.hpp"
#include "PindleCore/uploads/private/PNUploadingPersistentStorage.hpp"
#include "platform/dispatch/Clock.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/MainThread.hpp"
#include "platform/files/AppContainer.hpp"
#include "platform/files/FileError.hpp"
#include "platform/files/FileLock.hpp"
#include "platform/foundation/Status.hpp"
#include "platform/media/Image.hpp"
#include "tests/support/MediaFixtures.hpp"
#include "tests/support/MediaSummary.hpp"
#include "tests/support/SpinUntil.hpp"

namespace pindle::legacy {
namespace {

// Waits that span a conversion: converting a clip runs many times slower under the sanitizers,
// and a loaded machine stretches that to minutes.
constexpr std::chrono::seconds kConversionPatience{240};

// The service's notifications, in order, as "name" or "name:videoID". The observers share
// what they note rather than point into this object: a post already under way on an upload's
// thread may still call them after the test has ended and this object has gone.
class ServiceEvents {
  public:
    ServiceEvents() {
        auto& center = platform::NotificationCenter::defaultCenter();
        for (const char* name :
             {kPVideosUploadingStartedNotification, kPVideosUploadingFinishedNotification,
              NotificationName::PNVideoIsUploaded, NotificationName::PNVideoUploadFailed,
              NotificationName::PNVideoUploadCanceled}) {
            registrations_.emplace_back(center.addObserverForName(
                name, nullptr, nullptr,
                [noted = noted_, name](const platform::Notification& notification) {
                    std::string event = name;
                    if (auto id = notification.userInfo.find("videoID");
                        id != notification.userInfo.end())
                        event += ":" + *id->second.asString();
                    std::lock_guard lock(noted->mutex);
                    noted->events.push_back(event);
                }));
        }
    }
    std::vector<std::string> events() const {
        std::lock_guard lock(noted_->mutex);
        return noted_->events;
    }
    int count(const std::string& event) const {
        auto all = events();
        return static_cast<int>(std::count(all.begin(), all.end(), event));
    }
    bool waitFor(const std::string& event, std::chrono::seconds limit = kConversionPatience) {
        return testing::eventually([&] { return count(event) > 0; }, limit);
    }

  private:
    struct Noted {
        std::mutex mutex;
        std::vector<std::string> events;  // guarded by mutex
    };
    std::shared_ptr<Noted> noted_ = std::make_shared<Noted>();
    std::vector<platform::NotificationCenter::ScopedRegistration> registrations_;
};

class PUploadingServiceTest : public testing::OnlineUploadFixture {
  protected:
    void SetUp() override {
        OnlineUploadFixture::SetUp();
        folder_ = platform::AppContainer::temporaryDirectory() + "/incoming";
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override {
        PPublishService::getInstance().setFileManager(nullptr);
        for (const auto& id : PUploadingService::getInstance().videosInFlight())
            PUploadingService::getInstance().cancelUploadingVideoID(id);
        OnlineUploadFixture::TearDown();
    }

    // A short portrait recording: 64x48 frames turned a quarter for display.
    std::string recording(const std::string& name, int frames = 5) {
        const std::string path = folder_ + "/" + name;
        EXPECT_EQ(
            platform::testing::writeClip(
                path,
                {.width = 64, .height = 48, .fps = 10, .seconds = frames / 10.0, .rotation = 90}),
            std::nullopt);
        return path;
    }

    // A complete record of a converted video whose 720p file holds `size` bytes.
    std::string convertedRecord(const std::string& id, std::size_t size, bool converted = true) {
        const std::string path = *PCacheManager::getInstance().pathForVideoCache(id, "720p");
        EXPECT_TRUE(platform::FileManager::defaultManager()
                        .writeAtomically(path, platform::Data(size, 'v'))
                        .ok());
        PNUploadingState::Fields fields;
        fields.videoID = id;
        fields.shotOn = platform::Date::now();
        fields.createdAt = platform::Date::now();
        fields.resolutionsToUpload = {"720p"};
        fields.isRecordingComplete = true;
        fields.isConverted = converted;
        fields.isImported = true;
        PNUploadingStateManager::shared().put(std::make_shared<PNUploadingState>(fields),
                                              PNTokenObject::sharedInstance());
        return path;
    }

    static PNUploadingStatePtr stored(const std::string& id) {
        return PNUploadingStateManager::shared().uploading(id, PNTokenObject::sharedInstance());
    }
    static bool exists(const std::string& path) {
        return platform::FileManager::defaultManager().fileExists(path);
    }
    static std::vector<std::string> conversionOutputs() {
        return platform::FileManager::defaultManager()
            .contentsOfDirectory(PCacheManager::getInstance().conversionDirectoryPath())
            .value_or(std::vector<std::string>{});
    }
    // Hands a recording to the SDK; the new video's identifier.
    std::string upload(const std::string& source) {
        std::string id;
        PNUploads::shared().upload(platform::URL::fileURLWithPath(source), std::nullopt,
                                   std::nullopt,
                                   [&](const std::shared_ptr<PNVideo>& video,
                                       const std::optional<platform::Error>& error) {
                                       EXPECT_FALSE(error);
                                       if (video)
                                           id = video->videoID();
                                   });
        EXPECT_FALSE(id.empty());
        return id;
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
        kConversionPatience));
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

TEST_F(PUploadingServiceTest, TheFinishedNotificationFollowsTheLastVideoHoweverItEnds) {
    const std::string cancelled = "0a1b2c3d-0000-4000-8000-000000000101";
    const std::string uploaded = "0a1b2c3d-0000-4000-8000-000000000102";
    convertedRecord(cancelled, 300'000);
    convertedRecord(uploaded, 300'000);
    ServiceEvents events;
    // The first upload stands still on its first chunk until the host cancels it.
    emulator_.storage().holdChunk(1, emulator::StorageResource::Hold::beforeStoring);
    PUploadingService::getInstance().startNonCompletedUploadingsAgain();
    ASSERT_TRUE(emulator_.storage().waitUntilHeld(std::chrono::seconds(20)));
    PNUploads::shared().cancelUpload(cancelled);

    ASSERT_TRUE(events.waitFor(kPVideosUploadingFinishedNotification));
    EXPECT_EQ(events.events(),
              (std::vector<std::string>{
                  kPVideosUploadingStartedNotification,
                  std::string(NotificationName::PNVideoUploadCanceled) + ":" + cancelled,
                  std::string(NotificationName::PNVideoIsUploaded) + ":" + uploaded,
                  kPVideosUploadingFinishedNotification}));
    EXPECT_FALSE(stored(cancelled));
    EXPECT_TRUE(PUploadingService::getInstance().videosInFlight().empty());
}

TEST_F(PUploadingServiceTest, ARetryErrorIsTriedAgainNotReportedAsACancel) {
    const std::string id = "0a1b2c3d-0000-4000-8000-000000000103";
    convertedRecord(id, 1000);
    ServiceEvents events;
    // Connections lost often enough in a row that the upload backs off and is queued again
    // (the transport may try a lost connection once more by itself, so twice as many).
    emulator_.server().addFault("/v1/videos/" + id + "/signedUrl",
                                emulator::Fault::closeImmediately().times(
                                    2 * PDataRangeUploadingOperation::failuresBeforeBackOff));
    PUploadingService::getInstance().uploadVideoID(id);
    ASSERT_TRUE(events.waitFor(std::string(NotificationName::PNVideoIsUploaded) + ":" + id));
    EXPECT_TRUE(events.waitFor(kPVideosUploadingFinishedNotification));
    EXPECT_EQ(events.count(std::string(NotificationName::PNVideoUploadCanceled) + ":" + id), 0);
    EXPECT_EQ(events.count(std::string(NotificationName::PNVideoUploadFailed) + ":" + id), 0);
    ASSERT_TRUE(stored(id));
    EXPECT_TRUE(stored(id)->isUploaded());
}

TEST_F(PUploadingServiceTest, AnUploadThatKeepsFailingLetsTheNextOneThrough) {
    const std::string failing = "0a1b2c3d-0000-4000-8000-000000000106";
    const std::string next = "0a1b2c3d-0000-4000-8000-000000000107";
    convertedRecord(failing, 1000);
    convertedRecord(next, 1000);
    emulator_.server().addJSONReply("POST", "/uploads/" + failing + "/imported.mp4", 503,
                                    {{"error", "busy"}});
    ServiceEvents events;
    PUploadingService::getInstance().startNonCompletedUploadingsAgain();
    ASSERT_TRUE(events.waitFor(std::string(NotificationName::PNVideoIsUploaded) + ":" + next));
    // The failing one is still on its way, its record whole, waiting for its next turn. The
    // finished one lands just after its notification has gone out.
    EXPECT_TRUE(testing::eventually([&] {
        return PUploadingService::getInstance().videosInFlight() == std::set<std::string>{failing};
    }));
    EXPECT_EQ(PUploadingService::getInstance().videosInFlight(), std::set<std::string>{failing});
    EXPECT_TRUE(stored(failing));
    EXPECT_EQ(events.count(std::string(NotificationName::PNVideoUploadFailed) + ":" + failing), 0);
    EXPECT_EQ(events.count(kPVideosUploadingFinishedNotification), 0);
}

TEST_F(PUploadingServiceTest, CancellingDuringConversionLeavesNoFileBehind) {
    const std::string id = upload(recording("long.mp4", 300));
    PNUploads::shared().cancelUpload(id);
    ASSERT_TRUE(
        testing::eventually([&] { return !PPublishService::getInstance().isPublishingVideoID(id); },
                            kConversionPatience));
    auto& cache = PCacheManager::getInstance();
    EXPECT_FALSE(stored(id));
    EXPECT_FALSE(exists(*cache.pathForVideoCache(id, "720p")));
    EXPECT_FALSE(exists(*cache.pathForMOVVideoCache(id)));
    EXPECT_TRUE(conversionOutputs().empty());

    // What a crash left in the middle of a conversion goes at the next start.
    ASSERT_TRUE(
        platform::FileManager::defaultManager()
            .writeAtomically(*cache.pathForConversionOutput("0a1b2c3d-0000-4000-8000-000000000104"),
                             platform::Data(100, 'x'))
            .ok());
    PUploadingService::getInstance().startNonCompletedUploadingsAgain();
    EXPECT_TRUE(conversionOutputs().empty());
}

// Another process sharing the home (its host's cancel, say) removes the record while this one
// converts the file: the upload ends here too, as cancelled, and the video leaves the set in
// flight.
TEST_F(PUploadingServiceTest, ARecordRemovedElsewhereDuringConversionEndsTheUpload) {
    ServiceEvents events;
    const std::string id = upload(recording("long.mp4", 100));
    ASSERT_TRUE(PPublishService::getInstance().isPublishingVideoID(id));
    PNUploadingStateManager::shared().removeUploading(id, PNTokenObject::sharedInstance());
    ASSERT_TRUE(events.waitFor(std::string(NotificationName::PNVideoUploadCanceled) + ":" + id,
                               kConversionPatience));
    EXPECT_TRUE(events.waitFor(kPVideosUploadingFinishedNotification));
    EXPECT_TRUE(PUploadingService::getInstance().videosInFlight().empty());
    EXPECT_FALSE(exists(*PCacheManager::getInstance().pathForMOVVideoCache(id)));
    EXPECT_EQ(events.count(std::string(NotificationName::PNVideoUploadCanceled) + ":" + id), 1);
}

TEST_F(PUploadingServiceTest, AConversionThatCannotBeMovedIntoPlaceLosesNothing) {
    // The first move of an output into its cache name fails.
    auto refusals = std::make_shared<std::atomic<int>>(1);
    platform::FileManager::Options options;
    options.beforeMove = [refusals](const std::string&, const std::string& to) -> platform::Status {
        if (to.ends_with("_720p.mp4") && refusals->fetch_sub(1) > 0)
            return platform::makeFileError(EIO, to, platform::FileAccess::writing, "move to");
        return std::nullopt;
    };
    PPublishService::getInstance().setFileManager(
        std::make_shared<platform::FileManager>(std::move(options)));
    ServiceEvents events;
    const std::string id = upload(recording("clip.mp4"));
    ASSERT_TRUE(
        testing::eventually([&] { return !PPublishService::getInstance().isPublishingVideoID(id); },
                            kConversionPatience));
    auto& cache = PCacheManager::getInstance();
    EXPECT_TRUE(exists(*cache.pathForMOVVideoCache(id)));
    ASSERT_TRUE(stored(id));
    EXPECT_FALSE(stored(id)->isConverted());
    EXPECT_TRUE(conversionOutputs().empty());

    // The next start converts it again and uploads it.
    PUploadingService::getInstance().startNonCompletedUploadingsAgain();
    ASSERT_TRUE(events.waitFor(std::string(NotificationName::PNVideoIsUploaded) + ":" + id));
    EXPECT_FALSE(exists(*cache.pathForMOVVideoCache(id)));
    EXPECT_TRUE(emulator_.storage().isComplete(id + "/imported.mp4"));
}

TEST_F(PUploadingServiceTest, ACancelWhileTheConversionIsMovedIntoPlaceLeavesNoFile) {
    // The host cancels at the moment the converted output is about to take its cache name.
    platform::FileManager::Options options;
    options.beforeMove = [](const std::string&, const std::string& to) -> platform::Status {
        const std::string suffix = "_720p.mp4";
        if (to.ends_with(suffix)) {
            const std::string name = std::filesystem::path(to).filename().string();
            PNUploads::shared().cancelUpload(name.substr(0, name.size() - suffix.size()));
        }
        return std::nullopt;
    };
    PPublishService::getInstance().setFileManager(
        std::make_shared<platform::FileManager>(std::move(options)));
    const std::string id = upload(recording("clip.mp4"));
    ASSERT_TRUE(
        testing::eventually([&] { return !PPublishService::getInstance().isPublishingVideoID(id); },
                            kConversionPatience));
    auto& cache = PCacheManager::getInstance();
    EXPECT_FALSE(stored(id));
    EXPECT_FALSE(exists(*cache.pathForVideoCache(id, "720p")));
    EXPECT_FALSE(exists(*cache.pathForMOVVideoCache(id)));
    EXPECT_TRUE(conversionOutputs().empty());
}

TEST_F(PUploadingServiceTest, AnUploadWhoseRecordWentBeforeItsTurnStillLands) {
    const std::string id = "0a1b2c3d-0000-4000-8000-000000000108";
    convertedRecord(id, 3 * PDataRangeUploadingOperation::rangeSize);
    // An operation of the test's own holds the record while the service's waits its turn.
    emulator_.storage().holdChunk(1, emulator::StorageResource::Hold::beforeStoring);
    auto first = std::make_shared<PDataRangeUploadingOperation>(id);
    std::thread running([first] { first->main(); });
    ASSERT_TRUE(emulator_.storage().waitUntilHeld(std::chrono::seconds(20)));
    ServiceEvents events;
    PUploadingService::getInstance().uploadVideoID(id);
    PNUploadingStateManager::shared().removeUploading(id, PNTokenObject::sharedInstance());
    first->cancel();
    running.join();
    emulator_.storage().holdChunk(0, emulator::StorageResource::Hold::beforeStoring);

    ASSERT_TRUE(events.waitFor(kPVideosUploadingFinishedNotification));
    EXPECT_EQ(events.count(std::string(NotificationName::PNVideoUploadCanceled) + ":" + id), 1);
    EXPECT_TRUE(PUploadingService::getInstance().videosInFlight().empty());
}

TEST_F(PUploadingServiceTest, AConvertedFileInPlaceCountsAsConvertedAtTheNextStart) {
    const std::string id = "0a1b2c3d-0000-4000-8000-000000000105";
    const std::string path = convertedRecord(id, 0, false);
    platform::FileManager::defaultManager().removeItem(path).ignoreError();
    std::filesystem::copy_file(recording("converted.mp4"), path);
    ServiceEvents events;
    PUploadingService::getInstance().startNonCompletedUploadingsAgain();
    ASSERT_TRUE(events.waitFor(std::string(NotificationName::PNVideoIsUploaded) + ":" + id));
    ASSERT_TRUE(stored(id));
    EXPECT_TRUE(stored(id)->isConverted());
    std::ifstream file(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)),
                            std::istreambuf_iterator<char>());
    EXPECT_EQ(emulator_.storage().object(id + "/imported.mp4"), bytes);
}

// Claims held by the test stand for another live process that shares the home and carries
// these videos: neither the tidying of a session's start nor the restart of unfinished uploads
// touches them until that process is gone.
TEST_F(PUploadingServiceTest, WhatAnotherProcessCarriesIsLeftAlone) {
    auto& cache = PCacheManager::getInstance();
    const auto& files = platform::FileManager::defaultManager();
    const std::string handingOver = "0a1b2c3d-0000-4000-8000-000000000111";
    const std::string converting = "0a1b2c3d-0000-4000-8000-000000000112";
    const std::string unconfirmed = "0a1b2c3d-0000-4000-8000-000000000113";
    const std::string reporting = "0a1b2c3d-0000-4000-8000-000000000114";
    const std::string sending = "0a1b2c3d-0000-4000-8000-000000000115";
    const std::string mov = *cache.pathForMOVVideoCache(handingOver);
    const std::string output = *cache.pathForConversionOutput(converting);
    for (const std::string& path : {mov, output, *cache.pathForMOVVideoCache(unconfirmed)})
        ASSERT_TRUE(files.writeAtomically(path, platform::Data(100, 'm')).ok());
    PNUploadingState::Fields fields;
    fields.videoID = unconfirmed;
    fields.shotOn = platform::Date::now();
    fields.createdAt = platform::Date::now();
    fields.resolutionsToUpload = {"720p"};
    PNUploadingStateManager::shared().put(std::make_shared<PNUploadingState>(fields),
                                          PNTokenObject::sharedInstance());
    convertedRecord(reporting, 1000);
    PNUploadingStateManager::shared().markUploaded(reporting, PNTokenObject::sharedInstance());
    const std::string sent = convertedRecord(sending, 1000);

    std::vector<std::unique_ptr<PUploadClaim>> claims;
    for (const auto& id : {handingOver, converting, unconfirmed, reporting, sending})
        claims.push_back(PUploadClaim::tryVideo(id));
    ASSERT_TRUE(
        std::all_of(claims.begin(), claims.end(), [](const auto& c) { return c != nullptr; }));
    EXPECT_TRUE(PUploadingService::getInstance().carriedByAnotherProcess(sending));
    PNLocalVideoCache::shared().resetCache();
    PUploadingService::getInstance().startNonCompletedUploadingsAgain();
    EXPECT_TRUE(exists(mov));
    EXPECT_TRUE(exists(output));
    EXPECT_TRUE(stored(unconfirmed));
    EXPECT_TRUE(stored(reporting));
    EXPECT_TRUE(stored(sending));
    EXPECT_TRUE(exists(sent));
    EXPECT_TRUE(PUploadingService::getInstance().videosInFlight().empty());

    // Once that process has ended, what it left is tidied and its upload taken up.
    claims.clear();
    EXPECT_FALSE(PUploadingService::getInstance().carriedByAnotherProcess(sending));
    PNLocalVideoCache::shared().resetCache();
    ServiceEvents events;
    PUploadingService::getInstance().startNonCompletedUploadingsAgain();
    EXPECT_FALSE(exists(mov));
    EXPECT_FALSE(exists(output));
    EXPECT_FALSE(stored(unconfirmed));
    EXPECT_FALSE(stored(reporting));
    EXPECT_TRUE(events.waitFor(std::string(NotificationName::PNVideoIsUploaded) + ":" + sending));
}

// Whoever waits for the start-up's restart (a host about to end, say) takes its count to mean
// that the restart has ended: its tidying done, its uploads under way. This restart stands
// still on the records file's lock, held by the test as by another process sharing the home,
// while it drops a record that has nothing left to send: it counts only once it has gone on.
// While the test holds that lock it neither reads the records nor runs the main queue: both
// would wait for the lock behind the restart.
TEST_F(PUploadingServiceTest, ARestartCountsOnceItHasEnded) {
    const std::string id = "0a1b2c3d-0000-4000-8000-000000000116";
    platform::FileManager::defaultManager().removeItem(convertedRecord(id, 0, false)).ignoreError();
    ASSERT_TRUE(stored(id));
    auto started = std::make_shared<std::atomic<bool>>(false);
    platform::NotificationCenter::ScopedRegistration registration(
        platform::NotificationCenter::defaultCenter().addObserverForName(
            NotificationName::PNVideoUploadStarted, nullptr, nullptr,
            [started, id](const platform::Notification& notification) {
                if (auto video = notification.userInfo.find("videoID");
                    video != notification.userInfo.end() && video->second.asString() &&
                    *video->second.asString() == id)
                    *started = true;
            }));
    auto recordsLock =
        platform::FileLock::acquire(PNUploadingPersistentStorage::shared().uploadingsPath() +
                                    PNUploadingPersistentStorage::lockSuffix);
    ASSERT_TRUE(recordsLock);
    auto& service = PUploadingService::getInstance();
    const int restarts = service.restartCount();
    std::thread restart([&] { service.startNonCompletedUploadingsAgain(); });
    struct Joined {
        std::unique_ptr<platform::FileLock>& lock;
        std::thread& thread;
        ~Joined() {
            lock.reset();
            thread.join();
        }
    } joined{recordsLock, restart};

    EXPECT_TRUE(testing::spinUntil([&] { return started->load(); }));
    EXPECT_EQ(service.restartCount(), restarts);
    recordsLock.reset();
    EXPECT_TRUE(testing::eventually([&] { return service.restartCount() == restarts + 1; }));
    EXPECT_FALSE(stored(id));
}

// After a back-off, an upload that got somewhere before it has to back off again pauses as
// briefly as the first time, however many back-offs came before.
TEST_F(PUploadingServiceTest, AnUploadThatGotSomewhereBacksOffBrieflyAgain) {
    const std::string id = "0a1b2c3d-0000-4000-8000-000000000109";
    constexpr int chunks = 3;
    convertedRecord(id, chunks * PDataRangeUploadingOperation::rangeSize);
    // Before each chunk, enough refusals in a row to make the operation give the lane away.
    emulator::StorageResource::Faults faults;
    faults.unavailablePerChunk = PDataRangeUploadingOperation::failuresBeforeBackOff;
    emulator_.storage().setFaults(faults);
    auto clock = std::make_shared<platform::VirtualClock>();
    platform::Clock::setCurrent(clock);
    struct Restore {
        ~Restore() { platform::Clock::setCurrent(nullptr); }
    } restore;
    auto& service = PUploadingService::getInstance();
    const auto backedOff = [&] {
        return service.videosInFlight().count(id) > 0 && service.queuedVideoCount() == 0;
    };
    ServiceEvents events;
    // Started the way the clock delivers work, so that advancing it waits for the upload.
    auto queue = platform::DispatchQueue::create("test.upload");
    clock->scheduleDelivery(clock->uptime(), [queue, id] {
        queue->async([id] { PUploadingService::getInstance().uploadVideoID(id); });
    });
    clock->advance(0.0);
    // The video is made on the backend in the first run, and a chunk stored in each later one
    // before the next refusals: every back-off follows progress.
    for (int backOff = 1; backOff <= chunks; ++backOff) {
        SCOPED_TRACE(backOff);
        ASSERT_TRUE(testing::eventually(
            [&] {
                if (backedOff())
                    return true;
                clock->advance(PDataRangeUploadingOperation::passPause);
                return false;
            },
            kConversionPatience));
        clock->advance(PUploadingService::firstRetryDelay +
                       PDataRangeUploadingOperation::passPause / 2);
        EXPECT_FALSE(backedOff()) << "still waiting after " << PUploadingService::firstRetryDelay
                                  << " s";
    }
    ASSERT_TRUE(testing::eventually(
        [&] {
            if (events.count(std::string(NotificationName::PNVideoIsUploaded) + ":" + id) > 0)
                return true;
            clock->advance(PDataRangeUploadingOperation::passPause);
            return false;
        },
        kConversionPatience));
    EXPECT_TRUE(emulator_.storage().isComplete(id + "/imported.mp4"));
    EXPECT_EQ(emulator_.storage().resentAcknowledgedBytes(), 0);
}

}  // namespace
}  // namespace pindle::legacy

namespace pindle::legacy {
namespace {

TEST(PPublishServiceTest, ISO6709LocationsOfAnyPrecisionGiveLatitudeAndLongitude) {
    struct Case {
        std::string text;
        std::optional<std::pair<double, double>> coordinate;
    };
    const Case cases[] = {
        {"+37.3318-122.0312/", std::pair{37.3318, -122.0312}},
        {"+37.3318-122.03", std::pair{37.3318, -122.03}},
        {"+48.8577+002.295/", std::pair{48.8577, 2.295}},
        {"-33.86+151.21+058.000/", std::pair{-33.86, 151.21}},  // altitude ignored
        {"+40-074/", std::pair{40.0, -74.0}},
        {"+37.3318/", std::nullopt},
        {"north, far west!!", std::nullopt},
        {"+37.3x18-122.0312/", std::nullopt},
        {"", std::nullopt},
        {"+90.0-180.0/", std::pair{90.0, -180.0}},
        // Off the globe, or no number at all: no location.
        {"+90.5+010.0/", std::nullopt},
        {"-91-010/", std::nullopt},
        {"+45.0+180.01/", std::nullopt},
        {"+45.0-999.0/", std::nullopt},
        {"+inf+010.0/", std::nullopt},
        {"+45.0-nan/", std::nullopt},
    };
    for (const Case& c : cases) {
        auto coordinate = PPublishService::coordinatedFromISO6709String(c.text);
        if (!c.coordinate) {
            EXPECT_TRUE(coordinate.empty()) << c.text;
            continue;
        }
        ASSERT_EQ(coordinate.size(), 2u) << c.text;
        EXPECT_DOUBLE_EQ(coordinate.at("lat"), c.coordinate->first) << c.text;
        EXPECT_DOUBLE_EQ(coordinate.at("long"), c.coordinate->second) << c.text;
    }
}

}  // namespace
}  // namespace pindle::legacy
