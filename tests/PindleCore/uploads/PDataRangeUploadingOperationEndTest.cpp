// Ends of an upload operation that come from outside its loop: an error handed to it, and the
// conversion step, which asks the backend to convert what the upload description names.
#include <gtest/gtest.h>

#include <future>
#include <nlohmann/json.hpp>

#include "OnlineUploadFixture.hpp"
#include "PindleCore/model/PNErrorClassification.hpp"
#include "PindleCore/model/PNTokenObject.hpp"
#include "PindleCore/uploads/PCacheManager.hpp"
#include "PindleCore/uploads/PDataRangeUploadingOperation.hpp"
#include "PindleCore/uploads/PNUploadingStateManager.hpp"
#include "UploadsTestSupport.hpp"
#include "platform/files/FileManager.hpp"
#include "tools/emulator/Fault.hpp"

namespace pindle::legacy {
namespace {

struct Report {
    int calls = 0;
    std::shared_ptr<PNVideo> video;
    bool cancelled = false;
    std::optional<platform::Error> error;
};

class PDataRangeUploadingOperationEndTest : public testing::OnlineUploadFixture {
  protected:
    void TearDown() override {
        if (operation_) {
            operation_->cancel();
            if (done_.valid() &&
                done_.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
                ADD_FAILURE() << "the operation did not stop once cancelled";
                std::abort();
            }
        }
        OnlineUploadFixture::TearDown();
    }

    // An operation for an imported recording still under way, 1000 bytes so far: once
    // started, it creates the video and fetches the upload description, then waits for more
    // of the file, pass after pass.
    void makeOperation(const std::string& id) {
        const std::string path = *PCacheManager::getInstance().pathForVideoCache(id, "720p");
        ASSERT_TRUE(platform::FileManager::defaultManager()
                        .writeAtomically(path, platform::Data(1000, 'v'))
                        .ok());
        PNUploadingState::Fields fields = testing::recordFields(id);
        fields.isRecordingComplete = false;
        fields.isConverted = true;
        fields.isImported = true;
        PNUploadingStateManager::shared().put(std::make_shared<PNUploadingState>(fields),
                                              PNTokenObject::sharedInstance());
        operation_ = std::make_shared<PDataRangeUploadingOperation>(id);
        operation_->setUploadCompletionBlock(
            [report = report_, mutex = mutex_](const std::shared_ptr<PNVideo>& video,
                                               bool cancelled,
                                               const std::optional<platform::Error>& error) {
                std::lock_guard lock(*mutex);
                ++report->calls;
                report->video = video;
                report->cancelled = cancelled;
                report->error = error;
            });
    }
    void start() {
        done_ = std::async(std::launch::async, [operation = operation_] { operation->main(); });
    }
    bool ended() { return done_.wait_for(std::chrono::seconds(30)) == std::future_status::ready; }
    Report report() const {
        std::lock_guard lock(*mutex_);
        return *report_;
    }
    static PNUploadingStatePtr stored(const std::string& id) {
        return PNUploadingStateManager::shared().uploading(id, PNTokenObject::sharedInstance());
    }

    std::shared_ptr<PDataRangeUploadingOperation> operation_;
    std::future<void> done_;
    const std::shared_ptr<std::mutex> mutex_ = std::make_shared<std::mutex>();
    const std::shared_ptr<Report> report_ = std::make_shared<Report>();  // guarded by mutex_
};

TEST_F(PDataRangeUploadingOperationEndTest, AnErrorHandedInEndsTheOperationOnce) {
    const std::string id = "0a1b2c3d-0000-4000-8000-000000000140";
    makeOperation(id);
    start();
    ASSERT_TRUE(testing::eventually([&] { return stored(id) && stored(id)->isSynced(); }));
    operation_->handleRequestError(std::nullopt);
    EXPECT_EQ(report().calls, 0);

    const platform::Error refused("test", 1);
    operation_->handleRequestError(refused);
    ASSERT_TRUE(ended()) << "the loop went on after its end was reported";
    operation_->handleRequestError(platform::Error("test", 2));
    operation_->cancel();
    const Report ended = report();
    EXPECT_EQ(ended.calls, 1);
    EXPECT_FALSE(ended.cancelled);
    EXPECT_EQ(ended.error, refused);
    EXPECT_FALSE(ended.video);
    ASSERT_TRUE(stored(id));
    EXPECT_TRUE(stored(id)->isSynced());
    EXPECT_FALSE(stored(id)->isUploaded());
}

TEST_F(PDataRangeUploadingOperationEndTest, ConvertingEndsTheOperationWithTheBackendsAnswer) {
    struct Case {
        const char* name;
        // Scripts the answer to the conversion request (the video exists on the backend).
        std::function<void(emulator::BackendEmulator&, const std::string& id)> answer;
        bool uploaded;
        bool withVideo;
        std::optional<std::int64_t> status;
        bool cancelled;  // the operation, after the error was reported
    };
    const Case cases[] = {
        {"converted",
         [](emulator::BackendEmulator& emulator, const std::string& id) {
             emulator.server().addJSONReply(
                 "POST", "/v1/videos/" + id + "/convert", 200,
                 emulator.store().get(id)->toBackendJSON(emulator.baseURL()));
         },
         true, true, std::nullopt, false},
        {"refused",
         [](emulator::BackendEmulator& emulator, const std::string& id) {
             emulator.server().addJSONReply("POST", "/v1/videos/" + id + "/convert", 400,
                                            {{"error", "no"}});
         },
         false, false, 400, true},
        {"connection lost, a retry error",
         [](emulator::BackendEmulator& emulator, const std::string& id) {
             emulator.server().addFault("/v1/videos/" + id + "/convert",
                                        emulator::Fault::closeImmediately());
         },
         false, false, std::nullopt, false},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string id = "0a1b2c3d-0000-4000-8000-00000000015" + std::to_string(n++);
        *report_ = Report{};
        makeOperation(id);
        // Before the loop has the upload description there is nothing to convert.
        operation_->startConvertingVideo();
        EXPECT_EQ(report().calls, 0);
        start();
        ASSERT_TRUE(testing::eventually([&] { return stored(id) && stored(id)->isSynced(); }));
        c.answer(emulator_, id);
        ASSERT_TRUE(testing::eventually(
            [&] {
                operation_->startConvertingVideo();
                return report().calls > 0;
            },
            std::chrono::seconds(30)));
        ASSERT_TRUE(ended());

        const auto requests =
            emulator_.server().requestLog().requestsFor("POST", "/v1/videos/" + id + "/convert");
        // Once (the transport may send again by itself on a connection lost unanswered).
        ASSERT_FALSE(requests.empty());
        EXPECT_EQ(nlohmann::json::parse(requests[0].body).value("filename", ""), "imported.mp4");
        const Report ended = report();
        EXPECT_EQ(ended.calls, 1);
        EXPECT_FALSE(ended.cancelled);
        ASSERT_EQ(ended.video != nullptr, c.withVideo);
        if (ended.video) {
            EXPECT_EQ(ended.video->videoID(), id);
        }
        EXPECT_EQ(ended.error.has_value(), !c.uploaded);
        if (ended.error && c.status) {
            EXPECT_EQ(statusCode(*ended.error), c.status);
        }
        EXPECT_EQ(operation_->isCancelled(), c.cancelled);
        ASSERT_TRUE(stored(id));
        EXPECT_EQ(stored(id)->isUploaded(), c.uploaded);
        operation_.reset();
    }
}

}  // namespace
}  // namespace pindle::legacy
