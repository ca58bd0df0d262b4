// A loader whose download keeps failing tries again on the clock's schedule, not at once.
#include <gtest/gtest.h>

#include "PindlePlayer/loading/PNVideoLoader.hpp"
#include "platform/dispatch/Clock.hpp"
#include "tests/PindlePlayer/loading/LoaderTestSupport.hpp"

namespace pindle::testing {
namespace {

constexpr const char* path = "/v/retried.mp4";

class PNVideoLoaderRetryTest : public PlayerCacheFixture {
  protected:
    void SetUp() override {
        PlayerCacheFixture::SetUp();
        platform::Clock::setCurrent(clock_);
        cache_ = makeCache();
        loader_ = PNVideoLoader::make(cache_);
    }
    void TearDown() override {
        loader_->setVideosToPreload({});
        EXPECT_TRUE(eventually([&] { return loader_->requests().empty(); }));
        for (const auto& request : requests_) request->cancel();
        platform::Clock::setCurrent(nullptr);
        PlayerCacheFixture::TearDown();
    }

    std::size_t attempts() { return rangesAsked(path).size(); }

    // Asks the loader to start what it may, and returns once that (and whatever it queued in
    // turn) has run.
    void pokeAndSettle() {
        auto loader = loader_;
        clock_->scheduleDelivery(clock_->uptime(), [loader] { loader->enqueu(); });
        clock_->advance(0.0);
    }

    // Waits for the attempt numbered `count` to have failed and held the request back.
    ::testing::AssertionResult heldBackAfter(std::size_t count) {
        if (eventually([&] {
                return attempts() == count && !request_->isRequesting() && request_->isHeldBack();
            }))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "attempts " << attempts();
    }

    // The request is not started again before `delay` has passed, and once when it has.
    void expectRetryAfter(double delay) {
        const std::size_t before = attempts();
        clock_->advance(delay - 0.001);
        pokeAndSettle();
        EXPECT_FALSE(request_->isRequesting()) << "started " << delay << " s too early";
        EXPECT_EQ(attempts(), before);
        clock_->advance(0.001);
        EXPECT_TRUE(eventually([&] { return attempts() == before + 1; })) << "after " << delay;
    }

    std::shared_ptr<platform::VirtualClock> clock_ = std::make_shared<platform::VirtualClock>();
    std::shared_ptr<PNPlayerCache> cache_;
    PNVideoLoaderPtr loader_;
    std::shared_ptr<PNVideoLoaderRequest> request_;
    std::vector<std::shared_ptr<PNVideoLoaderRequest>> requests_;
};

TEST_F(PNVideoLoaderRetryTest, AFailingDownloadWaitsADoublingDelayThatASuccessResets) {
    const auto url = serve(path, bytesOfSize(3'000'000));
    emulator_.server().addFault(path, emulator::Fault::closeImmediately().times(3));
    PNVideo::Fields fields;
    fields.videoID = "retried";
    fields.mediaMP4URL720p = url;
    fields.mediaMP4URL540p = url;
    fields.mediaMP4URL360p = url;
    loader_->setVideosToPreload({PNVideo::make(std::move(fields))});
    ASSERT_TRUE(eventually([&] { return loader_->requests().size() == 1; }));
    request_ = loader_->requests().front();
    requests_.push_back(request_);

    ASSERT_TRUE(heldBackAfter(1));
    expectRetryAfter(1.0);
    ASSERT_TRUE(heldBackAfter(2));
    expectRetryAfter(2.0);
    ASSERT_TRUE(heldBackAfter(3));
    expectRetryAfter(4.0);  // the fault is used up: this one loads the preload
    ASSERT_TRUE(eventually([&] { return request_->isCompleted() && !request_->isRequesting(); }));
    EXPECT_FALSE(request_->isHeldBack());

    // Loaded bytes end the run of failures: the next failure waits the first delay again.
    // This failure comes after the reply's head: a connection closed before any reply may be
    // one the transport had kept alive, which it rightly tries again on a fresh one.
    emulator_.server().addFault(path, emulator::Fault::dropAfter(0).times(1));
    loader_->setPreload("retried", false);
    ASSERT_TRUE(heldBackAfter(5));
    expectRetryAfter(1.0);
    EXPECT_TRUE(eventually([&] { return request_->isCompleted(); }));
}

}  // namespace
}  // namespace pindle::testing
