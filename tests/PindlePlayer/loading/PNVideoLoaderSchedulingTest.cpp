// The video loader's scheduling against the emulator: which requests it keeps, and which
// reads it hands them.
#include "PindlePlayer/loading/PNVideoLoader.hpp"

#include <gtest/gtest.h>

#include "PindlePlayer/loading/PNVideoLoaderListener.hpp"
#include "tests/PindlePlayer/loading/LoaderTestSupport.hpp"

namespace pindle::testing {
namespace {

using platform::AssetResourceLoadingRequest;

class IgnoringReceiver : public AssetResourceLoadingRequest::Receiver {
  public:
    void requestDidRespond(const platform::AssetResourceLoadingRequestPtr&, std::int64_t,
                           std::span<const std::uint8_t>) override {}
    void requestDidFinish(const platform::AssetResourceLoadingRequestPtr&,
                          const std::optional<platform::Error>&) override {}
};

class PNVideoLoaderSchedulingTest : public PlayerCacheFixture {
  protected:
    void SetUp() override {
        PlayerCacheFixture::SetUp();
        cache_ = makeCache();
        loader_ = PNVideoLoader::make(cache_);
    }
    void TearDown() override {
        loader_->setVideosToPreload({});
        EXPECT_TRUE(eventually([&] { return loader_->requests().empty(); }));
        PlayerCacheFixture::TearDown();
    }

    // A video whose downloads never bring a byte.
    PNVideoPtr stalledVideo(const std::string& id) {
        const auto url = serve("/v/" + id + ".mp4", bytesOfSize(100'000));
        emulator_.server().addFault("/v/" + id + ".mp4", emulator::Fault::stallAfter(0));
        return videoAt(url, id);
    }

    PNVideoLoaderListenerPtr read(const std::string& videoId, std::int64_t offset) {
        auto request = AssetResourceLoadingRequest::make(
            *platform::URL::fromString("pinlet://uid/" + videoId), false,
            AssetResourceLoadingRequest::Range{offset, 1000, false}, receiver_);
        return PNVideoLoaderListener::make(loader_, request);
    }

    std::shared_ptr<PNPlayerCache> cache_;
    PNVideoLoaderPtr loader_;
    std::shared_ptr<IgnoringReceiver> receiver_ = std::make_shared<IgnoringReceiver>();
};

TEST_F(PNVideoLoaderSchedulingTest, AVideoThatCannotLoadGivesItsSlotToTheNext) {
    PNVideo::Fields fields;
    fields.videoID = "fresh-upload";  // no rendition yet, no recording here
    auto nowhere = PNVideo::make(std::move(fields));
    auto next = stalledVideo("next");
    loader_->setVideosToPreload({nowhere, next});
    ASSERT_TRUE(eventually([&] { return rangesAsked("/v/next.mp4").size() == 1; }));
    const auto requests = loader_->requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_TRUE(requests[0]->isCompleted());
    EXPECT_FALSE(requests[0]->isRequesting());
}

TEST_F(PNVideoLoaderSchedulingTest, AVideoNamedTwiceGetsOneRequest) {
    auto video = stalledVideo("twice");
    PNVideo::Fields fields;
    fields.videoID = "twice";
    auto sameId = PNVideo::make(std::move(fields));
    loader_->setVideosToPreload({video, video, sameId});
    ASSERT_TRUE(eventually([&] { return !loader_->requests().empty(); }));
    loader_->setVideosToPreload({video, video});
    ASSERT_TRUE(eventually([&] {
        const auto requests = loader_->requests();
        return requests.size() == 1 && requests[0]->isRequesting();
    }));
    EXPECT_EQ(loader_->requests()[0]->video(), video);
    ASSERT_TRUE(emulator_.server().requestLog().waitForCount(1, std::chrono::seconds(10)));
    EXPECT_EQ(rangesAsked("/v/twice.mp4").size(), 1u);
}

TEST_F(PNVideoLoaderSchedulingTest, OpenReadsGoToTheRequestOfAVideoNamedAgain) {
    auto video = stalledVideo("again");
    loader_->setVideosToPreload({video});
    auto first = read("again", 0);
    auto second = read("again", 5000);
    ASSERT_TRUE(eventually([&] {
        const auto requests = loader_->requests();
        return requests.size() == 1 && requests[0]->listeners().size() == 2;
    }));
    // The player gives up one read; the other stays open.
    first->cancel();
    ASSERT_TRUE(eventually([&] { return loader_->requests()[0]->listeners().size() == 1; }));
    EXPECT_EQ(loader_->listeners(), std::vector<PNVideoLoaderListenerPtr>{second});

    // Dropped, then named again: the new request serves the read still open.
    loader_->setVideosToPreload({});
    ASSERT_TRUE(eventually([&] { return loader_->requests().empty(); }));
    loader_->setVideosToPreload({video});
    ASSERT_TRUE(eventually([&] { return loader_->requests().size() == 1; }));
    const auto listeners = loader_->requests()[0]->listeners();
    ASSERT_EQ(listeners.size(), 1u);
    EXPECT_EQ(listeners[0], second);
    second->cancel();
}

}  // namespace
}  // namespace pindle::testing
