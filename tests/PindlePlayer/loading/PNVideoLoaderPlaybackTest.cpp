// The player fed by the real video loader, its listeners and the loader request, against the
// emulator serving a real movie.
#include <gtest/gtest.h>

#include <cstdio>

#include "PindlePlayer/loading/PNVideoLoader.hpp"
#include "PindlePlayer/loading/PNVideoLoaderListener.hpp"
#include "platform/dispatch/MainThread.hpp"
#include "platform/media/Player.hpp"
#include "platform/media/PlayerItemVideoOutput.hpp"
#include "platform/media/URLAsset.hpp"
#include "support/MediaFixtures.hpp"
#include "tests/PindlePlayer/loading/LoaderTestSupport.hpp"

namespace pindle::testing {
namespace {

using platform::AssetResourceLoader;
using platform::AssetResourceLoadingRequest;
using platform::AssetResourceLoadingRequestPtr;
using platform::Data;

// What a player view does as resource-loader delegate: one listener per loading request,
// and on a cancellation the listener is told and leaves its loader.
class ListeningDelegate : public platform::AssetResourceLoaderDelegate {
  public:
    explicit ListeningDelegate(PNVideoLoaderPtr loader) : loader_(std::move(loader)) {}

    bool shouldWaitForLoadingOfRequestedResource(
        AssetResourceLoader&, const AssetResourceLoadingRequestPtr& request) override {
        auto listener = PNVideoLoaderListener::make(loader_, request);
        std::lock_guard lock(mutex_);
        seen_.emplace_back(request, listener);
        return true;
    }
    void didCancelLoadingRequest(AssetResourceLoader&,
                                 const AssetResourceLoadingRequestPtr& request) override {
        for (const auto& [seen, listener] : seen())
            if (seen == request)
                listener->cancel();
    }
    std::vector<std::pair<AssetResourceLoadingRequestPtr, PNVideoLoaderListenerPtr>> seen() {
        std::lock_guard lock(mutex_);
        return seen_;
    }

  private:
    const PNVideoLoaderPtr loader_;
    std::mutex mutex_;
    std::vector<std::pair<AssetResourceLoadingRequestPtr, PNVideoLoaderListenerPtr>>
        seen_;  // guarded by mutex_
};

bool pumpUntil(const std::function<bool()>& condition) {
    return platform::MainThread::runUntil(condition, 20.0);
}

class PNVideoLoaderPlaybackTest : public PlayerCacheFixture {
  protected:
    void SetUp() override {
        PlayerCacheFixture::SetUp();
        cache_ = makeCache();
    }
    void TearDown() override {
        // Registered loaders live on; let go of what this test's listeners hold.
        for (const auto& made : loaders_) {
            for (const auto& listener : made->listeners()) made->removeListener(listener);
            made->setVideosToPreload({});
            EXPECT_TRUE(eventually([&] { return made->listeners().empty(); }));
        }
        PlayerCacheFixture::TearDown();
    }

    PNVideoLoaderPtr loader(int slots) {
        const std::string uid =
            std::string("uid-") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        loaders_.push_back(PNVideoLoader::make(uid, slots, cache_));
        return loaders_.back();
    }

    static std::string clip() {
        platform::testing::ClipOptions options;
        options.seconds = 4;
        options.bFrames = false;
        options.toneHz = 440;
        return platform::testing::clipBytes(options);
    }

    std::shared_ptr<PNPlayerCache> cache_;
    std::vector<PNVideoLoaderPtr> loaders_;
};

TEST_F(PNVideoLoaderPlaybackTest, AnswersThePlayersRequestsFromTheCacheThenTheNetworkByteExact) {
    const std::string file = clip();
    const auto total = static_cast<std::int64_t>(file.size());
    ASSERT_GT(total, 30000);
    const auto url = serve("/v/exact.mp4", file);
    cache_->putData(url, Data(file.begin(), file.begin() + 20000));
    cache_->recordSize(url, total);
    auto videoLoader = loader(1);
    videoLoader->setVideosToPreload({videoAt(url, "exact")});
    videoLoader->setPreload("exact", false);

    auto receiver = std::make_shared<CollectingReceiver>();
    const auto pinlet = *platform::URL::fromString("pinlet://uid/exact");
    auto head = AssetResourceLoadingRequest::make(
        pinlet, true, AssetResourceLoadingRequest::Range{0, 2, false}, receiver);
    auto headListener = PNVideoLoaderListener::make(videoLoader, head);
    ASSERT_TRUE(eventually([&] { return head->isFinished(); }));
    EXPECT_EQ(head->contentInformationRequest()->contentLength(), total);
    EXPECT_FALSE(head->error());

    auto rest = AssetResourceLoadingRequest::make(
        pinlet, false, AssetResourceLoadingRequest::Range{2, total - 2, true}, receiver);
    auto restListener = PNVideoLoaderListener::make(videoLoader, rest);
    ASSERT_TRUE(eventually([&] { return rest->isFinished(); }));
    {
        std::lock_guard lock(receiver->mutex);
        EXPECT_TRUE(receiver->collected == Data(file.begin(), file.end()));
    }
    // Only what the cache lacked came over the network.
    const auto asked = rangesAsked("/v/exact.mp4");
    ASSERT_FALSE(asked.empty());
    EXPECT_EQ(asked[0].rfind("bytes=20000-", 0), 0u) << asked[0];
    for (const auto& request : {head, rest}) {
        EXPECT_EQ(request->diagnostics().respondsAfterEnd, 0);
        EXPECT_EQ(request->diagnostics().finishesAfterEnd, 0);
    }
    EXPECT_TRUE(eventually([&] { return videoLoader->listeners().empty(); }));
}

TEST_F(PNVideoLoaderPlaybackTest, APlayerPlaysTheServedClipAndShowsFrameSixtyAtTwoSeconds) {
    const std::string file = clip();
    const auto url = serve("/v/play.mp4", file);
    // The head comes from the cache file, the rest from the network.
    cache_->putData(url, Data(file.begin(), file.begin() + 20000));
    cache_->recordSize(url, static_cast<std::int64_t>(file.size()));
    auto videoLoader = loader(1);
    videoLoader->setVideosToPreload({videoAt(url, "play")});
    videoLoader->setPreload("play", false);
    auto delegate = std::make_shared<ListeningDelegate>(videoLoader);
    auto asset = platform::URLAsset::make(*platform::URL::fromString("pinlet://uid/play"));
    asset->resourceLoader().setDelegate(delegate, platform::DispatchQueue::main());
    auto item = platform::PlayerItem::make(asset);
    auto output = platform::PlayerItemVideoOutput::make();
    item->addOutput(output);
    auto player = platform::Player::make(item);

    ASSERT_TRUE(pumpUntil([&] {
        const auto ranges = item->loadedTimeRanges();
        return item->status() == platform::PlayerItem::Status::readyToPlay && ranges.size() == 1 &&
               ranges[0].end() == item->duration();
    }));
    EXPECT_NEAR(item->duration().seconds(), 4.0, 0.05);
    bool sought = false;
    player->seek(platform::MediaTime(2, 1), [&](bool finished) { sought = finished; });
    ASSERT_TRUE(pumpUntil([&] { return sought; }));
    const auto image = output->copyImage(player->currentTime());
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(platform::testing::readFrameNumber(*image), 60);
    const auto asked = rangesAsked("/v/play.mp4");
    ASSERT_FALSE(asked.empty());
    EXPECT_EQ(asked[0].rfind("bytes=20000-", 0), 0u) << asked[0];

    ASSERT_TRUE(pumpUntil([&] {
        for (const auto& [request, listener] : delegate->seen())
            if (!request->isFinished())
                return false;
        return true;
    }));
    for (const auto& [request, listener] : delegate->seen()) {
        EXPECT_EQ(request->diagnostics().respondsAfterEnd, 0);
        EXPECT_EQ(request->diagnostics().finishesAfterEnd, 0);
        EXPECT_FALSE(listener->isActive());
    }
    player->replaceCurrentItem(nullptr);
}

// A movie of about 60 MB, made once per process: heavy enough that its bytes arrive over many
// refreshes of the player while its first range is still streaming.
const std::string& heavyClip() {
    static const std::string bytes = [] {
        platform::testing::ClipOptions options;
        options.width = 64;
        options.height = 64;
        options.seconds = 20;
        options.fps = 10;
        options.bFrames = false;
        options.toneHz = 440;
        return platform::testing::heavyClipBytes(options, 60'000'000);
    }();
    return bytes;
}

// The bytes of the file that the "Range" headers asked for, each open range to the end.
std::int64_t bytesAskedFor(const std::vector<std::string>& ranges, std::int64_t total) {
    std::int64_t asked = 0;
    for (const auto& range : ranges) {
        long long first = 0;
        long long last = total - 1;
        std::sscanf(range.c_str(), "bytes=%lld-%lld", &first, &last);
        asked += std::min<std::int64_t>(last + 1, total) - first;
    }
    return asked;
}

// Each byte of the movie crosses the network once and reaches the player once: with the whole
// file loading in one go, and with a seek past a download that has stalled, which costs the
// bytes from the seek on once more at most.
TEST_F(PNVideoLoaderPlaybackTest, EveryByteIsFetchedAndHandedToThePlayerOnce) {
    const std::string& file = heavyClip();
    const auto total = static_cast<std::int64_t>(file.size());
    ASSERT_GT(total, 55'000'000);
    struct Case {
        const char* name;
        std::optional<double> seekTo;
    };
    for (const Case& c : {Case{"straight", std::nullopt}, Case{"seek", 15.0}}) {
        SCOPED_TRACE(c.name);
        const std::string id = std::string("heavy-") + c.name;
        const std::string path = "/v/" + id + ".mp4";
        const auto url = serve(path, file);
        if (c.seekTo)
            emulator_.server().addFault(path, emulator::Fault::stallAfter(4'000'000).times(1));
        auto videoLoader = loader(1);
        videoLoader->setVideosToPreload({videoAt(url, id)});
        videoLoader->setPreload(id, false);
        auto delegate = std::make_shared<ListeningDelegate>(videoLoader);
        auto asset = platform::URLAsset::make(*platform::URL::fromString("pinlet://uid/" + id));
        asset->resourceLoader().setDelegate(delegate, platform::DispatchQueue::main());
        auto item = platform::PlayerItem::make(asset);
        auto player = platform::Player::make(item);

        // What the seek asks for again: the rest of the file from where it lands.
        std::int64_t seekWorth = 0;
        if (c.seekTo) {
            // The item tells it is ready on a later turn of the main queue than the bytes that
            // made it so: wait for both, well before the download stalls at 4 MB.
            ASSERT_TRUE(pumpUntil([&] {
                return item->byteCounters().handed >= 3'000'000 &&
                       item->status() == platform::PlayerItem::Status::readyToPlay;
            }));
            player->seek(platform::MediaTime::makeWithSeconds(*c.seekTo), [](bool) {});
            ASSERT_TRUE(pumpUntil([&] { return rangesAsked(path).size() >= 2; }));
            long long from = 0;
            ASSERT_EQ(std::sscanf(rangesAsked(path)[1].c_str(), "bytes=%lld-", &from), 1);
            seekWorth = total - from;
        }
        ASSERT_TRUE(pumpUntil([&] {
            const auto ranges = item->loadedTimeRanges();
            const auto seen = delegate->seen();
            return !ranges.empty() && ranges.back().end() == item->duration() && seen.size() >= 2 &&
                   seen.back().first->isFinished();
        }));
        const auto asked = rangesAsked(path);
        EXPECT_EQ(asked.size(), c.seekTo ? 2u : 1u);
        EXPECT_LE(bytesAskedFor(asked, total), total + seekWorth);
        const auto counters = item->byteCounters();
        EXPECT_LE(counters.handed, total);
        EXPECT_EQ(counters.repeated, 0);
        if (!c.seekTo) {
            EXPECT_EQ(counters.handed, total);
            EXPECT_EQ(delegate->seen().size(), 2u);  // the file's facts, then its bytes
        }
        player->replaceCurrentItem(nullptr);
    }
}

TEST_F(PNVideoLoaderPlaybackTest, ACancelledLoadingRequestTakesItsListenerOffTheLoader) {
    const std::string file = clip();
    const auto url = serve("/v/stall.mp4", file);
    emulator_.server().addFault("/v/stall.mp4", emulator::Fault::stallAfter(100));
    auto videoLoader = loader(1);
    videoLoader->setVideosToPreload({videoAt(url, "stall")});
    videoLoader->setPreload("stall", false);
    auto delegate = std::make_shared<ListeningDelegate>(videoLoader);
    auto asset = platform::URLAsset::make(*platform::URL::fromString("pinlet://uid/stall"));
    asset->resourceLoader().setDelegate(delegate, platform::DispatchQueue::main());
    auto player = platform::Player::make(platform::PlayerItem::make(asset));

    // The listener of the bytes, which the stall keeps waiting; the one of the content
    // information may finish before the item is replaced. Taken from what the delegate made:
    // the loader lists listeners by video, and one that finishes takes its video's off the
    // list.
    PNVideoLoaderListenerPtr waiting;
    ASSERT_TRUE(pumpUntil([&] {
        for (const auto& [request, listener] : delegate->seen())
            if (!request->contentInformationRequest())
                waiting = listener;
        return waiting != nullptr;
    }));
    player->replaceCurrentItem(nullptr);
    ASSERT_TRUE(pumpUntil([&] {
        return !waiting->isActive() && waiting->loadingRequest()->isCancelled() &&
               videoLoader->listeners().empty();
    }));
    const auto request = videoLoader->requests().front();
    ASSERT_TRUE(eventually([&] {
        const auto onRequest = request->listeners();
        return std::none_of(onRequest.begin(), onRequest.end(),
                            [&](const auto& listener) { return listener == waiting; });
    }));
    EXPECT_EQ(waiting->loadingRequest()->diagnostics().finishesAfterEnd, 0);
    EXPECT_EQ(waiting->loadingRequest()->diagnostics().respondsAfterEnd, 0);
}

TEST_F(PNVideoLoaderPlaybackTest, WithTwoSlotsOneFullAndOnePreloadRunAndAThirdIsCancelled) {
    std::vector<PNVideoPtr> videos;
    for (const std::string id : {"a", "b", "c"}) {
        const auto url = serve("/v/" + id + ".mp4", bytesOfSize(3'000'000));
        emulator_.server().addFault("/v/" + id + ".mp4", emulator::Fault::stallAfter(1000));
        videos.push_back(videoAt(url, id));
    }
    auto videoLoader = loader(2);
    videoLoader->setVideosToPreload({videos[1], videos[2]});
    ASSERT_TRUE(eventually([&] {
        const auto requests = videoLoader->requests();
        return requests.size() == 2 && requests[0]->isRequesting() && requests[1]->isRequesting();
    }));
    const auto b = videoLoader->requests()[0];
    const auto c = videoLoader->requests()[1];

    videoLoader->setVideosToPreload(videos);
    videoLoader->setPreload("a", false);
    ASSERT_TRUE(eventually([&] {
        const auto requests = videoLoader->requests();
        return requests.size() == 3 && !requests[0]->isPreload() && requests[0]->isRequesting() &&
               !c->isRequesting();
    }));
    const auto requests = videoLoader->requests();
    EXPECT_EQ(requests[1], b);  // kept, not remade
    EXPECT_EQ(requests[2], c);
    EXPECT_TRUE(b->isRequesting());
    EXPECT_TRUE(b->isPreload());
    for (const auto& request : requests) request->cancel();
}

}  // namespace
}  // namespace pindle::testing
