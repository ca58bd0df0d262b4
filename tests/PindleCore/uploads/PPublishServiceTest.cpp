// A publish's own operations and the file its conversion leaves beside its output: the first
// are cancelled with the publish, the second goes once the conversion has succeeded.
#include "PindleCore/uploads/PPublishService.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <future>

#include "OnlineUploadFixture.hpp"
#include "PindleCore/model/PNTokenObject.hpp"
#include "PindleCore/uploads/PCacheManager.hpp"
#include "PindleCore/uploads/PNUploadingStateManager.hpp"
#include "PindleCore/uploads/PUploadingService.hpp"
#include "platform/files/AppContainer.hpp"
#include "tests/platform/files/FileTestSupport.hpp"
#include "tests/support/Gate.hpp"
#include "tests/support/MediaFixtures.hpp"

namespace pindle::legacy {
namespace {

struct Ending {
    bool cancelled = false;
    std::optional<platform::Error> error;
};

class PPublishServiceContextTest : public testing::OnlineUploadFixture {
  protected:
    void SetUp() override {
        OnlineUploadFixture::SetUp();
        // The converted output waits here before it takes its cache name, so the test acts
        // while the publish is known to be under way.
        platform::FileManager::Options options;
        options.beforeMove = [gate = gate_](const std::string&,
                                            const std::string& to) -> platform::Status {
            if (to.ends_with("_720p.mp4"))
                gate->wait();
            return std::nullopt;
        };
        PPublishService::getInstance().setFileManager(
            std::make_shared<platform::FileManager>(std::move(options)));
    }
    void TearDown() override {
        gate_->open();
        PPublishService::getInstance().setFileManager(nullptr);
        for (const auto& id : PUploadingService::getInstance().videosInFlight())
            PUploadingService::getInstance().cancelUploadingVideoID(id);
        OnlineUploadFixture::TearDown();
    }

    // Publishes a short recording put at the video's MOV cache name.
    std::shared_ptr<PPublishServiceContext> publish(const std::string& id) {
        const std::string mov = *PCacheManager::getInstance().pathForMOVVideoCache(id);
        EXPECT_EQ(platform::testing::writeClip(
                      mov, {.width = 64, .height = 48, .fps = 10, .seconds = 0.5}),
                  std::nullopt);
        return PPublishService::getInstance().publishVideoID(
            id, std::nullopt, std::nullopt,
            [ending = ending_](const std::shared_ptr<PPublishServiceContext>&, bool cancelled,
                               const std::optional<platform::Error>& error) {
                ending->set_value({cancelled, error});
            });
    }
    Ending ending() {
        auto future = ending_->get_future();
        if (future.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
            ADD_FAILURE() << "the publish never ended";
            return {};
        }
        return future.get();
    }
    static bool exists(const std::string& path) {
        return platform::FileManager::defaultManager().fileExists(path);
    }

    const std::shared_ptr<pindle::testing::Gate> gate_ = std::make_shared<pindle::testing::Gate>();
    const std::shared_ptr<std::promise<Ending>> ending_ = std::make_shared<std::promise<Ending>>();
};

TEST_F(PPublishServiceContextTest, ASucceededConversionTakesWhatItLeftBesideItsOutput) {
    const std::string id = "0a1b2c3d-0000-4000-8000-000000000130";
    const std::string segments = platform::AppContainer::temporaryDirectory() + "/segments";
    ASSERT_TRUE(std::filesystem::create_directories(segments));
    platform::testing::writeText(segments + "/0.ts", "segment");
    auto context = publish(id);
    ASSERT_TRUE(context);
    EXPECT_EQ(context->outputHLSegmenterPath(), "");
    context->setOutputHLSegmenterPath(segments);
    ASSERT_TRUE(gate_->open());

    const Ending ended = ending();
    EXPECT_FALSE(ended.cancelled);
    EXPECT_FALSE(ended.error);
    EXPECT_FALSE(exists(segments));
    EXPECT_FALSE(exists(context->url().path()));
}

TEST_F(PPublishServiceContextTest, CancellingAPublishCancelsItsOperations) {
    const std::string id = "0a1b2c3d-0000-4000-8000-000000000131";
    auto context = publish(id);
    ASSERT_TRUE(context);
    EXPECT_TRUE(context->operations().empty());
    auto first = std::make_shared<platform::Operation>();
    auto second = std::make_shared<platform::Operation>();
    context->addOperation(first);
    context->addOperation(second);
    EXPECT_EQ(context->operations(),
              (std::vector<std::shared_ptr<platform::Operation>>{first, second}));

    PPublishService::getInstance().cancelPublishingForContext(context);
    EXPECT_TRUE(first->isCancelled());
    EXPECT_TRUE(second->isCancelled());
    ASSERT_TRUE(gate_->open());
    EXPECT_TRUE(ending().cancelled);
    EXPECT_FALSE(PNUploadingStateManager::shared().uploading(id, PNTokenObject::sharedInstance()));
}

}  // namespace
}  // namespace pindle::legacy
