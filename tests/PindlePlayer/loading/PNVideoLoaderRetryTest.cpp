// A loader whose download keeps failing tries again on the clock's schedule, not at once;
// a server that refuses the file for good fails the player's reads instead.
#include <gtest/gtest.h>

#include <algorithm>

#include "PindleCore/model/PNErrorClassification.hpp"
#include "PindlePlayer/loading/PNVideoLoader.hpp"
#include "PindlePlayer/loading/PNVideoLoaderListener.hpp"
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
        for (const auto& listener : listeners_) listener->cancel();
        platform::Clock::setCurrent(nullptr);
        PlayerCacheFixture::TearDown();
    }

    std::size_t attempts(const std::string& asked = path) { return rangesAsked(asked).size(); }

    // Asks the loader to start what it may, and returns once that (and whatever it queued in
    // turn) has run.
    void pokeAndSettle() {
        auto loader = loader_;
        clock_->scheduleDelivery(clock_->uptime(), [loader] { loader->enqueu(); });
        clock_->advance(0.0);
    }

    // Waits for the attempt numbered `count` to have failed and held the request back.
    ::testing::AssertionResult heldBackAfter(std::size_t count, const std::string& asked = path) {
        if (eventually([&] {
                return attempts(asked) == count && !request_->isRequesting() &&
                       request_->isHeldBack();
            }))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "attempts " << attempts(asked);
    }

    // The request is not started again before `delay` has passed, and once when it has.
    void expectRetryAfter(double delay, const std::string& asked = path) {
        const std::size_t before = attempts(asked);
        clock_->advance(delay - 0.001);
        pokeAndSettle();
        EXPECT_FALSE(request_->isRequesting()) << "started " << delay << " s too early";
        EXPECT_EQ(attempts(asked), before);
        clock_->advance(0.001);
        EXPECT_TRUE(eventually([&] { return attempts(asked) == before + 1; })) << "after " << delay;
    }

    // The player's first read of a video, as the player view hands it to the loader: the
    // content information and the first two bytes. Returns once the loader has taken the read:
    // it holds the read's listener, or has answered the read already (a refused file is
    // answered at once, and the listener leaves the loader as soon as it registered; a count
    // of listeners can miss both, as an earlier read's listener may leave meanwhile).
    platform::AssetResourceLoadingRequestPtr firstRead(const std::string& id) {
        auto read = platform::AssetResourceLoadingRequest::make(
            *platform::URL::fromString("pinlet://uid/" + id), true,
            platform::AssetResourceLoadingRequest::Range{0, 2, false}, receiver_);
        auto listener = PNVideoLoaderListener::make(loader_, read);
        listeners_.push_back(listener);
        EXPECT_TRUE(eventually([&] {
            const auto registered = loader_->listeners();
            return read->isFinished() ||
                   std::find(registered.begin(), registered.end(), listener) != registered.end();
        })) << "the loader never took the read of "
            << id;
        return read;
    }

    // Makes the loader preload `video` and takes its request.
    void preload(const PNVideoPtr& video) {
        loader_->setVideosToPreload({video});
        ASSERT_TRUE(eventually([&] {
            const auto requests = loader_->requests();
            return requests.size() == 1 && requests.front()->video() == video;
        }));
        request_ = loader_->requests().front();
        requests_.push_back(request_);
    }

    std::shared_ptr<CollectingReceiver> receiver_ = std::make_shared<CollectingReceiver>();
    std::vector<PNVideoLoaderListenerPtr> listeners_;
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

TEST_F(PNVideoLoaderRetryTest, ABusyServersErrorPageIsAskedAgainAndTheWaitingReadIsServed) {
    const std::string file = bytesOfSize(3'000'000);
    const auto url = serve(path, file);
    // A page with a body of its own: its length is not the file's.
    emulator_.server().addReply(
        "GET", path, emulator::Response::text(503, "<html><body>busy</body></html>", "text/html"),
        1);
    auto read = firstRead("busy");
    preload(videoAt(url, "busy"));

    ASSERT_TRUE(heldBackAfter(1));
    EXPECT_FALSE(request_->isCompleted());
    EXPECT_FALSE(read->isFinished()) << "a passing refusal is no failure";
    EXPECT_EQ(cache_->knownSize(url), std::nullopt);
    expectRetryAfter(1.0);
    ASSERT_TRUE(eventually([&] { return read->isFinished(); }));
    EXPECT_FALSE(read->error());
    EXPECT_EQ(read->contentInformationRequest()->contentLength(),
              static_cast<std::int64_t>(file.size()));
    std::lock_guard lock(receiver_->mutex);
    EXPECT_EQ(receiver_->collected, platform::Data(file.begin(), file.begin() + 2));
}

// The file missing or gone is the server's last word at once; a refused signature only when
// it is refused again after the retry delay. The reads then fail with that status, and the
// file is not asked for again until a new read wants it.
TEST_F(PNVideoLoaderRetryTest, AFileTheServerRefusesFailsItsReadsAndIsNotAskedForAgain) {
    const struct {
        int status;
        std::size_t attemptsToFail;
    } cases[] = {{404, 1}, {410, 1}, {403, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        const std::string id = "refused" + std::to_string(c.status);
        const std::string asked = "/v/" + id + ".mp4";
        const auto url = serve(asked, bytesOfSize(100'000));
        emulator_.server().addReply("GET", asked,
                                    emulator::Response::text(static_cast<unsigned>(c.status),
                                                             "<html>no</html>", "text/html"));
        auto read = firstRead(id);
        preload(videoAt(url, id));
        if (c.attemptsToFail > 1) {
            ASSERT_TRUE(heldBackAfter(1, asked));
            EXPECT_FALSE(read->isFinished());
            expectRetryAfter(1.0, asked);
        }
        ASSERT_TRUE(eventually([&] { return read->isFinished(); }));
        ASSERT_TRUE(read->error());
        EXPECT_EQ(statusCode(*read->error()), c.status);
        EXPECT_EQ(attempts(asked), c.attemptsToFail);
        EXPECT_TRUE(eventually([&] { return loader_->listeners().empty(); }));

        // Neither the delay nor a change of mode brings the file back.
        EXPECT_FALSE(request_->isHeldBack());
        clock_->advance(PNVideoLoaderRequest::longestRetryDelay);
        loader_->setPreload(id, false);
        pokeAndSettle();
        EXPECT_TRUE(eventually([&] { return request_->isCompleted(); }));
        EXPECT_EQ(attempts(asked), c.attemptsToFail);

        // A new read asks once more, and hears the same at once.
        auto again = firstRead(id);
        ASSERT_TRUE(eventually([&] { return again->isFinished(); }));
        ASSERT_TRUE(again->error());
        EXPECT_EQ(statusCode(*again->error()), c.status);
        EXPECT_EQ(attempts(asked), c.attemptsToFail + 1);
    }
}

}  // namespace
}  // namespace pindle::testing
