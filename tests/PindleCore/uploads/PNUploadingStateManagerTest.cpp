#include "PindleCore/uploads/PNUploadingStateManager.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "PindleCore/model/PNTokenObject.hpp"
#include "PindleCore/uploads/PNUploadingStateToPNVideoMapper.hpp"
#include "PindleCore/uploads/PNUploads.hpp"
#include "UploadsTestSupport.hpp"
#include "platform/foundation/Json.hpp"

namespace pindle {
namespace {

using Events = std::vector<std::string>;

class PNUploadingStateManagerTest : public testing::UploadsTest {
  protected:
    // A complete, converted record whose 720p file holds `size` bytes.
    PNUploadingStatePtr storeConverted(const std::string& id, std::size_t size) {
        testing::writeMedia(*PNLocalVideoCache::shared().pathForCache(id, "720p"), size);
        auto record = testing::makeRecord(id);
        record->setIsConverted(true);
        manager_.put(record, token_);
        return record;
    }

    PNUploadingStateManager& manager_ = PNUploadingStateManager::shared();
    std::shared_ptr<platform::Object> token_ = PNTokenObject::sharedInstance();
};

TEST_F(PNUploadingStateManagerTest, GuardedOperationsRefuseOtherCallers) {
    manager_.put(testing::makeRecord("v"), token_);
    const std::string before =
        *platform::Json::serialize(PNUploadingPersistentStorage::shared().uploading("v")->encode());
    testing::EventRecorder recorder;

    for (const auto& stranger : std::vector<std::shared_ptr<platform::Object>>{
             nullptr, std::make_shared<platform::Object>()}) {
        EXPECT_FALSE(manager_.uploading("v", stranger));
        EXPECT_TRUE(manager_.recorderedNonUploaded(stranger).empty());
        EXPECT_FALSE(
            PNUploadingStateToPNVideoMapper::videoObject(*testing::makeRecord("v"), stranger));
        manager_.put(testing::makeRecord("w"), stranger);
        manager_.markUploaded("v", stranger);
        manager_.updateDataUploaded("v", 9, stranger);
        manager_.updateUploadingURL("v", std::nullopt, std::nullopt, stranger);
        manager_.cancelUploading("v", stranger);
        manager_.removeUploading("v", stranger);
        manager_.remove({"v"}, stranger);
    }
    EXPECT_TRUE(recorder.events().empty());
    EXPECT_EQ(PNUploads::shared().uploads().size(), 1u);
    auto stored = PNUploadingPersistentStorage::shared().uploadings();
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(*platform::Json::serialize(stored[0]->encode()), before);
    // Any instance of the token class passes.
    EXPECT_TRUE(manager_.uploading("v", std::make_shared<PNTokenObject>()));
}

TEST_F(PNUploadingStateManagerTest, ListsFilterTheStoredRecords) {
    manager_.put(testing::makeRecord("recording", false), token_);
    manager_.put(testing::makeRecord("complete"), token_);
    auto uploadedIncomplete = testing::makeRecord("uploadedIncomplete", false);
    uploadedIncomplete->setIsUploaded(true);
    manager_.put(uploadedIncomplete, token_);
    auto done = testing::makeRecord("done");
    done->setIsUploaded(true);
    manager_.put(done, token_);

    auto ids = [](const std::vector<PNUploadingStatePtr>& records) {
        std::vector<std::string> result;
        for (const auto& r : records) result.push_back(r->videoID());
        return result;
    };
    EXPECT_EQ(ids(manager_.recordered()), (Events{"complete", "done"}));
    EXPECT_EQ(ids(manager_.recorderedNonUploaded(token_)), (Events{"complete"}));
    EXPECT_EQ(ids(manager_.nonRecordered()), (Events{"recording", "uploadedIncomplete"}));
    EXPECT_EQ(ids(manager_.uploaded()), (Events{"uploadedIncomplete", "done"}));
}

TEST_F(PNUploadingStateManagerTest, PerFieldOperationsReplaceOneField) {
    manager_.put(testing::makeRecord("v", false), token_);
    manager_.confirmRecording("v", token_);
    manager_.markSynced("v", token_);
    manager_.updateDataUploaded("v", 77, token_);
    manager_.updateResolutionsUploaded("v", {"720p", "360p"}, token_);
    manager_.updateResolutionsUploaded("v", {"540p"}, token_);
    manager_.updateCreationDate("v", platform::Date::fromTimeIntervalSince1970(5), token_);
    manager_.updateUploadingURL("v", platform::URL::fromString("https://s/u"),
                                platform::Date::fromTimeIntervalSince1970(9), token_);
    auto record = manager_.uploading("v", token_);
    ASSERT_TRUE(record);
    EXPECT_TRUE(record->isRecordingComplete());
    EXPECT_TRUE(record->isSynced());
    EXPECT_FALSE(record->isUploaded());
    EXPECT_EQ(record->bytesUploaded(), 77);
    EXPECT_EQ(record->resolutionsUploaded(), (Events{"540p"}));
    EXPECT_EQ(record->createdAt().timeIntervalSince1970(), 5);
    ASSERT_TRUE(record->urlToUpload());
    EXPECT_EQ(record->urlToUpload()->absoluteString(), "https://s/u");

    manager_.updateUploadingURL("v", std::nullopt, std::nullopt, token_);
    manager_.resetUploadedBytes("v", token_);
    record = manager_.uploading("v", token_);
    EXPECT_FALSE(record->urlToUpload());
    EXPECT_FALSE(record->urlExpirationDate());
    EXPECT_EQ(record->bytesUploaded(), 0);

    // No record: nothing is written and nothing posted.
    const auto written = platform::FileManager::defaultManager().attributesOfItem(recordsPath());
    ASSERT_TRUE(written);
    testing::EventRecorder recorder;
    manager_.markUploaded("missing", token_);
    manager_.updateDataUploaded("missing", 1, token_);
    EXPECT_TRUE(recorder.events().empty());
    EXPECT_FALSE(manager_.uploading("missing", token_));
    EXPECT_EQ(manager_.uploaded().size(), 0u);
    const auto after = platform::FileManager::defaultManager().attributesOfItem(recordsPath());
    ASSERT_TRUE(after);
    EXPECT_EQ(after->inode, written->inode);
}

// A count that falls starts a session over: the file must hold it at once, whatever progress
// was waiting to be written.
TEST_F(PNUploadingStateManagerTest, AFallingByteCountIsWrittenAtOnce) {
    storeConverted("v", 600000);
    manager_.updateDataUploaded("v", 262144, token_);
    manager_.updateDataUploaded("v", 524288, token_);
    EXPECT_EQ(manager_.uploading("v", token_)->bytesUploaded(), 524288);
    manager_.updateDataUploaded("v", 0, token_);
    EXPECT_EQ(PNUploadingPersistentStorage(recordsPath()).uploading("v")->bytesUploaded(), 0);
}

// The list (and its notifications) must see each change before the file does.
TEST_F(PNUploadingStateManagerTest, EveryStoredChangeReachesTheListBeforeTheFile) {
    storeConverted("v", 200);
    auto& uploads = PNUploads::shared();
    ASSERT_EQ(uploads.uploads().size(), 1u);
    auto entry = uploads.uploads()[0];
    EXPECT_EQ(entry->progress(), 0.0f);
    EXPECT_TRUE(entry->isCompressed());

    std::vector<std::int64_t> storedWhenNotified;
    std::vector<float> listedWhenNotified;
    platform::NotificationCenter::ScopedRegistration progress(
        platform::NotificationCenter::defaultCenter().addObserverForName(
            NotificationName::PNVideoUploadProgress, nullptr, nullptr,
            [&](const platform::Notification&) {
                storedWhenNotified.push_back(
                    PNUploadingPersistentStorage::shared().uploading("v")->bytesUploaded());
                listedWhenNotified.push_back(PNUploads::shared().uploads()[0]->progress());
            }));
    testing::EventRecorder recorder;
    manager_.updateDataUploaded("v", 3, token_);
    EXPECT_EQ(storedWhenNotified, (std::vector<std::int64_t>{0}));
    EXPECT_EQ(listedWhenNotified, (std::vector<float>{0.02f}));
    ASSERT_TRUE(manager_.uploading("v", token_));
    EXPECT_EQ(manager_.uploading("v", token_)->bytesUploaded(), 3);
    EXPECT_EQ(recorder.events(),
              (Events{"will", "did", "PNVideoUploadsUpdated", "PNVideoUploadProgress"}));
    EXPECT_EQ(uploads.uploads()[0], entry);  // updated in place

    // Unchanged progress: a progress notification, no list change.
    recorder.clear();
    manager_.markSynced("v", token_);
    EXPECT_EQ(recorder.events(), (Events{"PNVideoUploadProgress"}));
}

TEST_F(PNUploadingStateManagerTest, UploadedRecordLeavesTheListWithCompleteThenProgress) {
    storeConverted("v", 200);
    manager_.updateDataUploaded("v", 100, token_);
    testing::EventRecorder recorder;
    manager_.markUploaded("v", token_);
    EXPECT_EQ(recorder.events(), (Events{"will", "did", "PNVideoUploadsUpdated",
                                         "PNVideoUploadComplete", "PNVideoUploadProgress"}));
    ASSERT_EQ(recorder.uploads().size(), 2u);
    EXPECT_EQ(recorder.uploads()[0], recorder.uploads()[1]);
    EXPECT_EQ(recorder.uploads()[0]->progress(), 0.5f);
    EXPECT_TRUE(PNUploads::shared().uploads().empty());
    ASSERT_TRUE(manager_.uploading("v", token_));
    EXPECT_TRUE(manager_.uploading("v", token_)->isUploaded());

    // Stored as uploaded while it has no entry: none is made.
    recorder.clear();
    manager_.markSynced("v", token_);
    EXPECT_TRUE(recorder.events().empty());
    EXPECT_TRUE(PNUploads::shared().uploads().empty());
}

TEST_F(PNUploadingStateManagerTest, EntriesComeOnlyForCompleteRecordsWithWorkLeft) {
    testing::EventRecorder recorder;
    manager_.put(testing::makeRecord("recording", false), token_);
    EXPECT_TRUE(recorder.events().empty());

    manager_.confirmRecording("recording", token_);
    EXPECT_EQ(recorder.events(), (Events{"will", "did", "PNVideoUploadsUpdated"}));
    ASSERT_EQ(PNUploads::shared().uploads().size(), 1u);
    EXPECT_FALSE(PNUploads::shared().uploads()[0]->isCompressed());

    // Converted with no file to send: ignored, so the entry stays even when uploaded.
    recorder.clear();
    manager_.markConverted("recording", token_);
    manager_.markUploaded("recording", token_);
    EXPECT_TRUE(recorder.events().empty());
    EXPECT_EQ(PNUploads::shared().uploads().size(), 1u);

    // Cancelling drops the entry but keeps the record for the next start-up.
    manager_.put(testing::makeRecord("other"), token_);
    recorder.clear();
    manager_.cancelUploading("other", token_);
    manager_.cancelUploading("other", token_);
    EXPECT_EQ(recorder.events(), (Events{"will", "did", "PNVideoUploadsUpdated"}));
    EXPECT_EQ(manager_.recorderedNonUploaded(token_).size(), 1u);

    recorder.clear();
    manager_.remove({}, token_);
    EXPECT_TRUE(recorder.events().empty());
    manager_.remove({"recording", "other"}, token_);
    EXPECT_EQ(recorder.events(), (Events{"will", "did", "PNVideoUploadsUpdated"}));
    EXPECT_TRUE(PNUploads::shared().uploads().empty());
    EXPECT_TRUE(PNUploadingPersistentStorage::shared().uploadings().empty());
}

TEST_F(PNUploadingStateManagerTest, ProgressRoundsToHundredthsHalfAwayFromZero) {
    struct Case {
        std::size_t fileSize;
        std::int64_t sent;
        bool converted;
        float progress;
    };
    const Case cases[] = {
        {3, 1, true, 0.33f}, {200, 3, true, 0.02f}, {400, 1, true, 0.0f},
        {0, 5, true, 0.0f},  {10, 5, false, 0.0f},  {10, 15, true, 1.5f},
    };
    for (const auto& c : cases) {
        testing::writeMedia(*PNLocalVideoCache::shared().pathForCache("p", "720p"), c.fileSize);
        auto record = testing::makeRecord("p");
        record->setIsConverted(c.converted);
        record->setBytesUploaded(c.sent);
        EXPECT_EQ(PNUploads::uploadingProgress(*record), c.progress) << c.fileSize << " " << c.sent;
        platform::FileManager::defaultManager()
            .removeItem(PNLocalVideoCache::shared().pathForCache("p", "720p")->path())
            .ignoreError();
    }
}

TEST_F(PNUploadingStateManagerTest, MapperCarriesTheRecordedFieldsOnly) {
    auto fields = testing::recordFields("m");
    fields.latitude = 0;
    fields.longitude = 0;
    PNUploadingState record(fields);
    auto video = PNUploadingStateToPNVideoMapper::videoObject(record, token_);
    auto again = PNUploadingStateToPNVideoMapper::videoObject(record, token_);
    ASSERT_TRUE(video);
    EXPECT_NE(video, again);
    EXPECT_EQ(video->videoID(), "m");
    EXPECT_EQ(video->tags(), fields.tags);
    EXPECT_EQ(video->metadata(), fields.metadata);
    EXPECT_EQ(video->width(), 720);
    EXPECT_EQ(video->height(), 1280);
    ASSERT_TRUE(video->location());
    EXPECT_EQ(video->location()->coordinate(), (platform::LocationCoordinate2D{0, 0}));
    EXPECT_EQ(video->shotOn(), fields.shotOn);
    EXPECT_EQ(video->creationDate(), fields.createdAt);
    EXPECT_EQ(video->title(), "title of m");
    EXPECT_EQ(video->videoDescription(), "descr");
    EXPECT_EQ(video->state(), PNVideoState::unknown);
    EXPECT_FALSE(video->mp4URL(PNVideoResolution::r360p));
    EXPECT_FALSE(video->mediaHLSURL());
}

}  // namespace
}  // namespace pindle

namespace pindle {
namespace {

// Field updates from several threads at once are each a read, change and store of the whole
// record; none may undo another.
TEST_F(PNUploadingStateManagerTest, ConcurrentFieldUpdatesAreAllKept) {
    manager_.put(testing::makeRecord("v"), token_);
    std::vector<std::function<void()>> updates = {
        [&] { manager_.markSynced("v", token_); },
        [&] { manager_.markConverted("v", token_); },
        [&] { manager_.updateDataUploaded("v", 11, token_); },
        [&] {
            manager_.updateUploadingURL("v", platform::URL::fromString("https://s/u"), std::nullopt,
                                        token_);
        },
        [&] { manager_.updateResolutionsUploaded("v", {"720p"}, token_); },
        [&] {
            manager_.updateCreationDate("v", platform::Date::fromTimeIntervalSince1970(3), token_);
        },
    };
    std::vector<std::thread> threads;
    for (const auto& update : updates) threads.emplace_back(update);
    for (auto& thread : threads) thread.join();

    auto record = manager_.uploading("v", token_);
    ASSERT_TRUE(record);
    EXPECT_TRUE(record->isSynced());
    EXPECT_TRUE(record->isConverted());
    EXPECT_EQ(record->bytesUploaded(), 11);
    EXPECT_TRUE(record->urlToUpload());
    EXPECT_EQ(record->resolutionsUploaded(), (Events{"720p"}));
    EXPECT_EQ(record->createdAt().timeIntervalSince1970(), 3);
}

}  // namespace
}  // namespace pindle
