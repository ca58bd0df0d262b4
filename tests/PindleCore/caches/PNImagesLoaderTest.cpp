#include "PindleCore/caches/PNImagesLoader.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "PindleCore/caches/LoadImageOperation.hpp"
#include "tests/PindleCore/api/EmulatorFixture.hpp"
#include "tests/platform/files/FileTestSupport.hpp"
#include "tests/support/Barriers.hpp"
#include "tests/support/MediaFixtures.hpp"

namespace pindle {
namespace {

using pindle::testing::eventually;
using platform::Image;
using platform::ImagePtr;
using platform::URL;

constexpr int thumbWidth = 12;
constexpr int thumbHeight = 20;

std::string pngBytes(Image::Pixel colour) {
    const auto png = Image::filled(thumbWidth, thumbHeight, colour)->pngData().value();
    return std::string(png.begin(), png.end());
}

// What the callbacks of one test saw, in the order they ran.
class Deliveries {
  public:
    LoadImageSubscription::Callback callback(int tag) {
        return [this, tag](ImagePtr image) {
            std::lock_guard lock(mutex_);
            seen_.push_back({tag, std::move(image)});
        };
    }
    std::size_t count() const {
        std::lock_guard lock(mutex_);
        return seen_.size();
    }
    std::vector<std::pair<int, ImagePtr>> seen() const {
        std::lock_guard lock(mutex_);
        return seen_;
    }
    bool waitFor(std::size_t count) {
        return eventually([&] { return this->count() >= count; }, std::chrono::seconds(20));
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::pair<int, ImagePtr>> seen_;  // guarded by mutex_
};

class PNImagesLoaderTest : public pindle::testing::EmulatorFixture {
  protected:
    void SetUp() override {
        EmulatorFixture::SetUp();
        emulator_.server().media().add(redPath, pngBytes(red), "image/png");
    }

    URL url(const std::string& path) const { return *URL::fromString(emulator_.baseURL() + path); }
    std::size_t downloadsOf(const std::string& path) {
        return emulator_.server().requestLog().requestsFor("GET", path).size();
    }
    // Holds every download back until resume().
    void hold() { loader_.operationQueue()->setSuspended(true); }
    void resume() { loader_.operationQueue()->setSuspended(false); }

    static constexpr Image::Pixel red{255, 0, 0, 255};
    static constexpr const char* redPath = "/img/red.png";

    PNImageCache cache_;
    PNImagesLoader loader_{cache_, platform::URLSession::shared()};
    Deliveries deliveries_;
};

TEST_F(PNImagesLoaderTest, OverlappingRequestsShareOneDownloadAndAllGetTheImageInOrder) {
    hold();
    auto first = loader_.image(url(redPath), deliveries_.callback(1));
    auto second = loader_.image(url(redPath), deliveries_.callback(2));
    ASSERT_TRUE(first && second);
    EXPECT_NE(first, second);
    EXPECT_EQ(first->operation(), second->operation());
    resume();

    ASSERT_TRUE(deliveries_.waitFor(2));
    // The callbacks run before the operation marks itself finished.
    ASSERT_TRUE(testing::waitUntilIdle(loader_.operationQueue()));
    const auto seen = deliveries_.seen();
    EXPECT_EQ(seen[0].first, 1);
    EXPECT_EQ(seen[1].first, 2);
    ASSERT_TRUE(seen[0].second);
    EXPECT_EQ(seen[0].second, seen[1].second);
    EXPECT_EQ(seen[0].second->pixelWidth(), thumbWidth);
    EXPECT_EQ(seen[0].second->pixelAt(0, 0), red);
    EXPECT_EQ(downloadsOf(redPath), 1u);
    EXPECT_EQ(cache_.image(url(redPath)), seen[0].second);

    // A finished download takes nobody in any more.
    EXPECT_FALSE(first->operation()->add(
        std::make_shared<LoadImageSubscription>(url(redPath), deliveries_.callback(3))));
    // Cancelling after the callback ran changes nothing.
    first->cancelIt();
    EXPECT_TRUE(first->operation()->isFinished());
    EXPECT_FALSE(first->operation()->isCancelled());
}

TEST_F(PNImagesLoaderTest, ACachedImageIsAnsweredBeforeTheCallReturns) {
    loader_.image(url(redPath), deliveries_.callback(1));
    ASSERT_TRUE(deliveries_.waitFor(1));

    std::thread::id calledOn;
    ImagePtr got;
    auto subscription = loader_.image(url(redPath), [&](ImagePtr image) {
        calledOn = std::this_thread::get_id();
        got = std::move(image);
        // The loader is free again inside its callback.
        EXPECT_EQ(loader_.image(url(redPath), [](ImagePtr) {}), nullptr);
    });
    EXPECT_EQ(subscription, nullptr);
    EXPECT_EQ(calledOn, std::this_thread::get_id());
    EXPECT_EQ(got, deliveries_.seen()[0].second);
    EXPECT_EQ(loader_.cachedImage(url(redPath)), got);
    EXPECT_EQ(downloadsOf(redPath), 1u);
}

TEST_F(PNImagesLoaderTest, CancellingOneOfTwoLeavesTheOtherToGetTheImage) {
    hold();
    auto first = loader_.image(url(redPath), deliveries_.callback(1));
    auto second = loader_.image(url(redPath), deliveries_.callback(2));
    first->cancelIt();
    EXPECT_FALSE(second->operation()->isFinished());
    resume();

    ASSERT_TRUE(deliveries_.waitFor(1));
    ASSERT_TRUE(eventually([&] { return second->operation()->isFinished(); }));
    const auto seen = deliveries_.seen();
    ASSERT_EQ(seen.size(), 1u);  // the cancelled one, had it run, would have run first
    EXPECT_EQ(seen[0].first, 2);
    EXPECT_TRUE(seen[0].second);
}

TEST_F(PNImagesLoaderTest, CancellingTheOnlySubscriptionBeforeTheStartDownloadsNothing) {
    hold();
    auto only = loader_.image(url(redPath), deliveries_.callback(1));
    only->cancelIt();
    EXPECT_TRUE(only->operation()->isFinished());
    EXPECT_EQ(loader_.operationQueue()->operationCount(), 0u);
    resume();

    // A later request starts afresh and is the only download.
    auto later = loader_.image(url(redPath), deliveries_.callback(2));
    ASSERT_NE(later->operation(), only->operation());
    ASSERT_TRUE(deliveries_.waitFor(1));
    EXPECT_EQ(deliveries_.seen()[0].first, 2);
    EXPECT_EQ(downloadsOf(redPath), 1u);
}

TEST_F(PNImagesLoaderTest, ARequestArrivingWhileTheLastSubscriptionLeavesGetsItsImage) {
    hold();
    auto leaving = loader_.image(url(redPath), deliveries_.callback(1));
    const auto dying = leaving->operation();
    // The new request comes in the middle of the cancellation, the moment it is announced.
    LoadImageSubscriptionPtr arriving;
    dying->observe("isCancelled", static_cast<unsigned>(platform::KVOOption::prior),
                   [&](const platform::KVOChange& change) {
                       if (change.isPrior && !arriving)
                           arriving = loader_.image(url(redPath), deliveries_.callback(2));
                   });
    leaving->cancelIt();
    ASSERT_TRUE(arriving);
    EXPECT_NE(arriving->operation(), dying);
    resume();

    ASSERT_TRUE(deliveries_.waitFor(1));
    EXPECT_EQ(deliveries_.seen()[0].first, 2);
    EXPECT_TRUE(deliveries_.seen()[0].second);
}

TEST_F(PNImagesLoaderTest, CancellingTheOnlySubscriptionOfARunningDownloadStillFillsTheCache) {
    auto gate = std::make_shared<emulator::FaultGate>();
    emulator_.server().addFault(redPath, emulator::Fault::heldBy(gate));
    auto only = loader_.image(url(redPath), deliveries_.callback(1));
    ASSERT_TRUE(gate->waitForArrivals(1, std::chrono::seconds(20)));
    only->cancelIt();
    EXPECT_TRUE(only->operation()->isFinished());
    EXPECT_TRUE(only->operation()->isCancelled());
    gate->open();

    const auto operation = only->operation();
    ASSERT_TRUE(eventually([&] { return cache_.count() == 1 && !operation->dataTask(); },
                           std::chrono::seconds(20)));
    EXPECT_TRUE(cache_.image(url(redPath)));
    EXPECT_EQ(deliveries_.count(), 0u);
    EXPECT_TRUE(operation->subscriptions().empty());
}

TEST_F(PNImagesLoaderTest, AnAnswerIsUsedWhenItsBodyIsAnImageWhateverTheStatus) {
    const struct {
        const char* path;
        unsigned status;
        std::string body;
        bool image;
    } cases[] = {
        {"/img/missing.png", 404, R"({"error":"not found"})", false},
        {"/img/empty.png", 200, "", false},
        {"/img/text.png", 200, "just text", false},
        {"/img/error-page.png", 500, pngBytes(red), true},
    };
    hold();
    std::vector<LoadImageSubscriptionPtr> subscriptions;
    for (int i = 0; i < 4; ++i) {
        emulator_.server().addReply("GET", cases[i].path,
                                    emulator::Response::text(cases[i].status, cases[i].body));
        subscriptions.push_back(loader_.image(url(cases[i].path), deliveries_.callback(i)));
        subscriptions.push_back(loader_.image(url(cases[i].path), deliveries_.callback(i)));
    }
    resume();
    ASSERT_TRUE(deliveries_.waitFor(8));
    for (const auto& [i, image] : deliveries_.seen())
        EXPECT_EQ(image != nullptr, cases[i].image) << cases[i].path;
    for (const auto& c : cases) {
        EXPECT_EQ(cache_.image(url(c.path)) != nullptr, c.image) << c.path;
        EXPECT_EQ(downloadsOf(c.path), 1u) << c.path;
    }
}

TEST_F(PNImagesLoaderTest, AFailedDownloadGivesNothingAndALaterRequestTriesAgain) {
    const std::string path = "/img/flaky.png";
    emulator_.server().addFault(path, emulator::Fault::closeImmediately().times(1));
    emulator_.server().media().add(path, pngBytes(red), "image/png");
    loader_.image(url(path), deliveries_.callback(1));
    ASSERT_TRUE(deliveries_.waitFor(1));
    EXPECT_EQ(deliveries_.seen()[0].second, nullptr);

    ASSERT_TRUE(loader_.image(url(path), deliveries_.callback(2)));
    ASSERT_TRUE(deliveries_.waitFor(2));
    EXPECT_TRUE(deliveries_.seen()[1].second);
}

TEST(PNImagesLoaderThumbTest, FirstFrameOfAVideoTurnedForDisplayOrNothing) {
    platform::testing::TemporaryFolder folder;
    const std::string video = folder / "portrait.mp4";
    ASSERT_EQ(platform::testing::writeClip(
                  video, {.width = 64, .height = 48, .seconds = 0.1, .rotation = 90}),
              std::nullopt);
    platform::testing::writeText(folder / "notes.mp4", "not a video at all");

    PNImageCache cache;
    PNImagesLoader loader(cache, platform::URLSession::shared());
    const auto thumb = loader.thumbOfVideo(URL::fileURLWithPath(video));
    ASSERT_TRUE(thumb);
    EXPECT_EQ(thumb->pixelWidth(), 48);
    EXPECT_EQ(thumb->pixelHeight(), 64);
    // Turned back, it is the stored first picture.
    EXPECT_EQ(platform::testing::readFrameNumber(*thumb->rotatedClockwise(3)), 0);
    // Not cached: a second call extracts again.
    EXPECT_EQ(cache.count(), 0u);
    const auto again = loader.thumbOfVideo(URL::fileURLWithPath(video));
    ASSERT_TRUE(again);
    EXPECT_NE(again, thumb);

    EXPECT_EQ(loader.thumbOfVideo(URL::fileURLWithPath(folder / "notes.mp4")), nullptr);
    EXPECT_EQ(loader.thumbOfVideo(URL::fileURLWithPath(folder / "absent.mp4")), nullptr);
}

}  // namespace
}  // namespace pindle
