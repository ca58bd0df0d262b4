#include "PindleCore/uploads/PDataRangeUploadingOperation.hpp"

#include <gtest/gtest.h>

#include "OnlineUploadFixture.hpp"
#include "PindleCore/model/PNTokenObject.hpp"
#include "PindleCore/uploads/PCacheManager.hpp"
#include "PindleCore/uploads/PNUploadingStateManager.hpp"
#include "platform/files/FileManager.hpp"

namespace pindle::legacy {
namespace {

using platform::Data;

class PDataRangeUploadingOperationTest : public testing::OnlineUploadFixture {
  protected:
    // A recorded file of `size` bytes for `resolution` and its upload record.
    Data record(const std::string& id, const std::string& resolution, std::size_t size,
                bool imported, std::vector<std::string> resolutions = {}) {
        Data file(size);
        for (std::size_t i = 0; i < size; ++i) file[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
        const std::string path = *PCacheManager::getInstance().pathForVideoCache(id, resolution);
        EXPECT_FALSE(platform::FileManager::defaultManager().writeAtomically(path, file));
        PNUploadingState::Fields fields;
        fields.videoID = id;
        fields.title = "Upload " + id;
        fields.shotOn = platform::Date::now();
        fields.createdAt = platform::Date::now();
        fields.resolutionsToUpload = resolutions.empty() ? std::vector{resolution} : resolutions;
        fields.isRecordingComplete = true;
        fields.isConverted = true;
        fields.isImported = imported;
        PNUploadingStateManager::shared().put(std::make_shared<PNUploadingState>(fields),
                                              PNTokenObject::sharedInstance());
        return file;
    }

    // Runs the operation to its end on this thread.
    void run(const std::string& id) {
        PDataRangeUploadingOperation operation(id);
        int successes = 0;
        operation.setUploadCompletionBlock([&](const std::shared_ptr<PNVideo>&, bool wasCancelled,
                                               const std::optional<platform::Error>& error) {
            EXPECT_FALSE(wasCancelled);
            EXPECT_FALSE(error);
            ++successes;
        });
        operation.main();
        EXPECT_EQ(successes, 1);
    }

    PNUploadingStatePtr stored(const std::string& id) {
        return PNUploadingStateManager::shared().uploading(id, PNTokenObject::sharedInstance());
    }

    std::vector<std::string> contentRanges(const std::string& id, const std::string& file) {
        std::vector<std::string> ranges;
        for (const auto& request : emulator_.server().requestLog().requests()) {
            if (request.method == "PUT" &&
                request.path().rfind("/uploads/" + id + "/" + file + "/session/", 0) == 0) {
                ranges.push_back(request.header("Content-Range").value_or(""));
            }
        }
        return ranges;
    }
};

TEST_F(PDataRangeUploadingOperationTest, SendsTheBodyInRangesThenTheHeadThenRecordsTheResolution) {
    const std::string id = "0a1b2c3d-0000-4000-8000-000000000001";
    Data file = record(id, "360p", 262'204, false);
    run(id);

    EXPECT_EQ(contentRanges(id, "360p.mp4"), std::vector<std::string>{"bytes 0-262143/262144"});
    auto object = emulator_.storage().object(id + "/360p.mp4");
    ASSERT_TRUE(object);
    EXPECT_TRUE(*object == std::string(file.begin(), file.end()));
    ASSERT_TRUE(emulator_.store().get(id));
    EXPECT_EQ(emulator_.store().get(id)->resolutions, std::vector<std::string>{"360p"});
    auto done = stored(id);
    ASSERT_TRUE(done);
    EXPECT_TRUE(done->isUploaded());
    EXPECT_TRUE(done->isSynced());
    EXPECT_EQ(done->resolutionsUploaded(), std::vector<std::string>{"360p"});
}

TEST_F(PDataRangeUploadingOperationTest, ImportedFilesHaveNoHeadAndTheLastRangeNamesTheTotal) {
    const std::string id = "0a1b2c3d-0000-4000-8000-000000000002";
    Data file = record(id, "540p", 600'000, true);
    run(id);
    EXPECT_EQ(contentRanges(id, "540p.mp4"),
              (std::vector<std::string>{"bytes 0-262143/*", "bytes 262144-524287/*",
                                        "bytes 524288-599999/600000"}));
    EXPECT_TRUE(emulator_.storage().isComplete(id + "/540p.mp4"));
    EXPECT_TRUE(*emulator_.storage().object(id + "/540p.mp4") ==
                std::string(file.begin(), file.end()));
    for (const auto& request : emulator_.server().requestLog().requests()) {
        EXPECT_EQ(request.path().find("/prefix"), std::string::npos);
    }
}

TEST_F(PDataRangeUploadingOperationTest, ARejectedRangeStartsAgainWithANewSession) {
    const std::string id = "0a1b2c3d-0000-4000-8000-000000000003";
    Data file = record(id, "360p", 300'000, false);
    emulator_.server().addJSONReply("PUT", "/uploads/" + id + "/360p.mp4/session/1", 400,
                                    {{"error", "bad range"}}, {}, 1);
    run(id);
    EXPECT_EQ(emulator_.storage().sessionsOpened(), 2u);
    EXPECT_TRUE(*emulator_.storage().object(id + "/360p.mp4") ==
                std::string(file.begin(), file.end()));
    EXPECT_TRUE(stored(id)->isUploaded());
}

TEST_F(PDataRangeUploadingOperationTest, ARecordingToConvertIsDoneOnceItsBytesAreSent) {
    const std::string id = "0a1b2c3d-0000-4000-8000-000000000004";
    Data file = record(id, "720p", 1000, false);
    run(id);
    // The whole file goes to the description's own session, and no resolution is recorded.
    EXPECT_TRUE(*emulator_.storage().object(id + "/source.mp4") ==
                std::string(file.begin(), file.end()));
    EXPECT_TRUE(emulator_.server().requestLog().requestsFor("PUT", "/v1/videos/" + id).empty());
    EXPECT_TRUE(stored(id)->isUploaded());
}

TEST_F(PDataRangeUploadingOperationTest, CancellingReportsOnceAndLeavesTheRecordToResume) {
    const std::string id = "0a1b2c3d-0000-4000-8000-000000000005";
    record(id, "360p", 700'000, false);
    emulator_.server().addFault("/uploads/" + id + "/360p.mp4/session/1",
                                emulator::Fault::delayed(std::chrono::seconds(5)));
    auto operation = std::make_shared<PDataRangeUploadingOperation>(id);
    int reports = 0;
    operation->setUploadCompletionBlock([&](const std::shared_ptr<PNVideo>&, bool cancelled,
                                            const std::optional<platform::Error>&) {
        EXPECT_TRUE(cancelled);
        ++reports;
    });
    std::thread canceller([&] {
        emulator_.server().requestLog().waitForCount(4, std::chrono::seconds(20));
        operation->cancel();
        operation->cancel();
    });
    operation->main();
    canceller.join();
    EXPECT_EQ(reports, 1);
    auto left = stored(id);
    ASSERT_TRUE(left);
    EXPECT_FALSE(left->isUploaded());
    EXPECT_TRUE(left->isSynced());
    EXPECT_TRUE(left->urlToUpload());  // the session is kept for the next operation
}

}  // namespace
}  // namespace pindle::legacy
