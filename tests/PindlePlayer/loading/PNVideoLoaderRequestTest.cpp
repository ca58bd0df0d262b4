#include "PindlePlayer/loading/PNVideoLoaderRequest.hpp"

#include <gtest/gtest.h>

#include <fstream>

#include "PindleCore/caches/PNLocalVideoCache.hpp"
#include "PindleCore/model/PNError.hpp"
#include "tests/PindlePlayer/loading/LoaderTestSupport.hpp"

namespace pindle::testing {
namespace {

using platform::Data;

class PNVideoLoaderRequestTest : public PlayerCacheFixture {
  protected:
    std::shared_ptr<PNVideoLoaderRequest> request(
        const PNVideoPtr& video, std::vector<PNVideoLoaderRequestListenerPtr> listeners = {}) {
        auto made = PNVideoLoaderRequest::make(video, std::move(listeners), cache_);
        made->setDelegate(loader_);
        return made;
    }

    // Starts the request and waits for `downloads` more download ends.
    void runDownloads(const std::shared_ptr<PNVideoLoaderRequest>& made, int downloads) {
        const int before = loader_->ends.load();
        made->start();
        ASSERT_TRUE(eventually([&] { return loader_->ends.load() >= before + downloads; }));
    }

    std::shared_ptr<PNPlayerCache> cache_ = nullptr;
    std::shared_ptr<CountingLoader> loader_ = std::make_shared<CountingLoader>();
};

TEST_F(PNVideoLoaderRequestTest, PreloadThenFullModeAskForExactlyTheMissingBytes) {
    cache_ = makeCache();
    const std::string file = bytesOfSize(2'000'000);
    const auto url = serve("/v/clip.mp4", file);
    const auto total = static_cast<std::int64_t>(file.size());

    // Nothing cached and no total yet: the first download is open-ended and the preload
    // limit, learnt from its first chunk, cuts it.
    auto first = request(videoAt(url));
    runDownloads(first, 1);
    ASSERT_TRUE(first->resolution());
    EXPECT_EQ(rangesAsked("/v/clip.mp4"), std::vector<std::string>{"bytes=0-"});
    EXPECT_EQ(cache_->knownSize(url), total);
    EXPECT_GE(cache_->dataSize(url).value_or(0), cache_->preloadLimit(total, *first->resolution()));
    EXPECT_TRUE(first->isCompleted());

    // Cut the head back below the limit: the next preload asks for the rest of it only.
    cache_->putData(url, Data(file.begin(), file.begin() + 1000));
    auto second = request(videoAt(url));
    runDownloads(second, 1);
    // The throughput has moved since the first download; the limit is the new choice's.
    const std::int64_t limit = cache_->preloadLimit(total, *second->resolution());
    // Full mode: from the cached end to the end of the file.
    Outcome<bool> switched;
    second->setPreload(false, [&](bool changed) { switched.set(changed); });
    EXPECT_TRUE(switched.wait());
    runDownloads(second, 1);
    const auto asked = rangesAsked("/v/clip.mp4");
    ASSERT_EQ(asked.size(), 3u);
    EXPECT_EQ(asked[1], "bytes=1000-" + std::to_string(limit - 1));
    EXPECT_EQ(asked[2], "bytes=" + std::to_string(limit) + "-" + std::to_string(total - 1));
    const auto cached = cache_->data(url, 0, total);
    ASSERT_TRUE(cached);
    EXPECT_TRUE(*cached == Data(file.begin(), file.end()));
    EXPECT_TRUE(second->isCompleted());
    EXPECT_EQ(emulator_.server().requestLog().requestsFor("GET", "/v/clip.mp4")[0].rawQuery(),
              "loader");
}

TEST_F(PNVideoLoaderRequestTest, NearbyListenerNeedsShareADownloadAndFarOnesGetTheirOwn) {
    cache_ = makeCache();
    const std::string file = bytesOfSize(3'000'000);
    // A signed address keeps its query; the loader's mark goes after it.
    const auto url = serve("/v/far.mp4", file);
    const auto signedURL = *platform::URL::fromString(url.absoluteString() + "?sig=abc");
    emulator_.server().addFault("/v/far.mp4", emulator::Fault::stallAfter(10));
    cache_->putData(signedURL, Data(file.begin(), file.begin() + 1'000'000));
    cache_->recordSize(signedURL, 3'000'000);

    auto near = std::make_shared<RecordingListener>("near", PNByteRange{1'010'000, 100'000});
    auto far = std::make_shared<RecordingListener>("far", PNByteRange{2'000'000, 100'000});
    auto made = request(videoAt(signedURL), {near, far});
    Outcome<bool> switched;
    made->setPreload(false, [&](bool changed) { switched.set(changed); });
    EXPECT_TRUE(switched.wait());
    made->start();
    ASSERT_TRUE(emulator_.server().requestLog().waitForCount(2, std::chrono::seconds(10)));
    ASSERT_TRUE(eventually([&] { return made->runningRanges().size() == 2; }));
    auto asked = rangesAsked("/v/far.mp4");
    std::sort(asked.begin(), asked.end());
    EXPECT_EQ(asked, (std::vector<std::string>{"bytes=1000000-2999999", "bytes=2000000-2099999"}));
    for (const auto& logged : emulator_.server().requestLog().requestsFor("GET", "/v/far.mp4"))
        EXPECT_EQ(logged.rawQuery(), "sig=abc&loader");

    // Both start past the cached head: they learn the length, and no bytes yet.
    EXPECT_EQ(near->reportedSize(), 3'000'000);
    EXPECT_EQ(near->dataOffset(), 1'010'000);
    made->cancel();
    EXPECT_FALSE(made->isRequesting());
    ASSERT_TRUE(eventually([&] { return loader_->ends.load() >= 2; }));
}

TEST_F(PNVideoLoaderRequestTest, BytesFarPastThePreloadLimitReachTheListenerButNotTheCache) {
    cache_ = makeCache();
    PNVideo::Fields fields;
    fields.videoID = "long";
    const std::int64_t bound = PNVideoLoaderRequest::cachedSecondsPastPreload *
                               cache_->videoBytesPerSecond(PNVideoResolution::r360p);
    const std::int64_t total = bound + 2'000'000;
    const std::string file = bytesOfSize(static_cast<std::size_t>(total));
    fields.mediaMP4URL360p = serve("/v/long.mp4", file);
    const auto url = *fields.mediaMP4URL360p;
    auto video = PNVideo::make(std::move(fields));
    const std::int64_t start = bound + cache_->preloadLimit(total, PNVideoResolution::r360p) - 1000;
    // A head that reaches just below the caching bound (sparse, so it costs no disk).
    cache_->putData(url, Data(file.begin(), file.begin() + 16));
    std::filesystem::resize_file(*cache_->cacheFilePath(url), start);
    cache_->recordSize(url, total);

    auto listener = std::make_shared<RecordingListener>("tail", PNByteRange{start, -1});
    auto made = request(video, {listener});
    EXPECT_EQ(made->resolution(), PNVideoResolution::r360p);
    Outcome<bool> switched;
    made->setPreload(false, [&](bool changed) { switched.set(changed); });
    EXPECT_TRUE(switched.wait());
    runDownloads(made, 1);
    EXPECT_EQ(rangesAsked("/v/long.mp4"),
              std::vector<std::string>{"bytes=" + std::to_string(start) + "-" +
                                       std::to_string(total - 1)});
    const std::int64_t cached = cache_->dataSize(url).value_or(0);
    EXPECT_GT(cached, start) << "the chunk that starts below the bound is kept";
    EXPECT_LT(cached, total) << "later chunks are not";
    const Data got = listener->bytes();
    ASSERT_EQ(static_cast<std::int64_t>(got.size()), total);
    EXPECT_TRUE(std::equal(got.begin() + start, got.end(),
                           reinterpret_cast<const std::uint8_t*>(file.data()) + start));
    EXPECT_EQ(listener->dataOffset(), total);
}

TEST_F(PNVideoLoaderRequestTest, OnceCancelReturnsNoChunkOfItsDownloadsReachesTheCache) {
    HeldMediaWrite hold;
    cache_ = makeCache(hold.files());
    const auto url = serve("/v/held.mp4", bytesOfSize(2'000'000));
    emulator_.server().addFault("/v/held.mp4", emulator::Fault::stallAfter(100'000));
    auto made = request(videoAt(url));
    made->start();
    const std::uintmax_t onReturn =
        hold.cancelWhileHeld([&] { made->cancel(); }, [&] { return bytesOnDisk(*cache_, url); });
    EXPECT_GT(onReturn, 0u) << "the chunk being written when cancel came is kept whole";
    // Every chunk of a download comes before its end.
    ASSERT_TRUE(eventually([&] { return loader_->ends.load() >= 1; }));
    EXPECT_EQ(bytesOnDisk(*cache_, url), onReturn);
}

// A loader whose log holds the request's queue at the first plan, until the test opens it.
class PlanHoldingLoader : public CountingLoader {
  public:
    void log(const std::string& line) override {
        CountingLoader::log(line);
        if (line.find("video_requests_") != std::string::npos && armed_.exchange(false)) {
            held.set(true);
            gate.wait();
        }
    }
    Outcome<bool> held;
    Gate gate;

  private:
    std::atomic<bool> armed_{true};
};

TEST_F(PNVideoLoaderRequestTest, ACancelWhilePlanningIsFinal) {
    cache_ = makeCache();
    const auto url = serve("/v/planned.mp4", bytesOfSize(2'000'000));
    emulator_.server().addFault("/v/planned.mp4", emulator::Fault::stallAfter(0));
    auto loader = std::make_shared<PlanHoldingLoader>();
    auto made = PNVideoLoaderRequest::make(videoAt(url), {}, cache_);
    made->setDelegate(loader);
    made->start();
    ASSERT_TRUE(loader->held.wait());
    made->cancel();
    EXPECT_TRUE(loader->gate.open());
    // Runs on the request's queue after the plan.
    Outcome<bool> planned;
    made->setPreload(true, [&](bool) { planned.set(true); });
    ASSERT_TRUE(planned.wait());
    EXPECT_TRUE(made->runningRanges().empty()) << "a download no one owns was started";
    EXPECT_FALSE(made->isRequesting());
    made->cancel();
}

TEST_F(PNVideoLoaderRequestTest, ALateCompletionOfACancelledDownloadLeavesTheNewerOneTracked) {
    cache_ = makeCache();
    // No byte ever comes: both downloads ask for the same open range.
    const auto url = serve("/v/swiped.mp4", bytesOfSize(2'000'000));
    emulator_.server().addFault("/v/swiped.mp4", emulator::Fault::stallAfter(0));
    auto made = request(videoAt(url));
    made->start();
    ASSERT_TRUE(emulator_.server().requestLog().waitForCount(1, std::chrono::seconds(10)));
    // With the request's queue held, the restart is queued before the cancelled download's
    // completion can be.
    auto holder = std::make_shared<QueueHoldingListener>("holder", PNByteRange{0, 10});
    made->addListener(holder);
    ASSERT_TRUE(holder->held.wait());
    made->start();
    made->cancel();
    EXPECT_TRUE(holder->gate.open());
    ASSERT_TRUE(eventually([&] { return loader_->ends.load() >= 1; }));
    Outcome<bool> settled;
    made->setPreload(true, [&](bool) { settled.set(true); });
    ASSERT_TRUE(settled.wait());
    EXPECT_TRUE(made->isRequesting());
    EXPECT_EQ(made->runningRanges(), (std::vector<PNByteRange>{PNByteRange{0, -1}}));
    ASSERT_TRUE(emulator_.server().requestLog().waitForCount(2, std::chrono::seconds(10)));
    EXPECT_EQ(rangesAsked("/v/swiped.mp4").size(), 2u);
    // Still tracked, so still cancellable.
    made->cancel();
    EXPECT_TRUE(eventually([&] { return loader_->ends.load() >= 2; }));
}

TEST_F(PNVideoLoaderRequestTest, AWholeFileReplyToARangeLeavesTheCacheExact) {
    cache_ = makeCache();
    const std::string file = bytesOfSize(400'000);
    emulator_.server().addReply("GET", "/v/whole.mp4", emulator::Response::text(200, file));
    const auto url = *platform::URL::fromString(emulator_.baseURL() + "/v/whole.mp4");
    cache_->putData(url, Data(file.begin(), file.begin() + 5000));
    cache_->recordSize(url, 400'000);
    auto made = request(videoAt(url));
    made->setPreload(false);
    runDownloads(made, 1);
    EXPECT_EQ(rangesAsked("/v/whole.mp4"), std::vector<std::string>{"bytes=5000-399999"});
    const auto cached = cache_->data(url, 0, 400'000);
    ASSERT_TRUE(cached);
    EXPECT_TRUE(*cached == Data(file.begin(), file.end()));
}

TEST_F(PNVideoLoaderRequestTest, AnErrorPageIsNotCachedAndAReplyWithoutALengthIsWholeAtItsEnd) {
    cache_ = makeCache();
    // An error page: none of its bytes reach the cache or the read.
    emulator_.server().addReply(
        "GET", "/v/gone.mp4",
        emulator::Response::text(404, "<html><body>gone</body></html>", "text/html"));
    const auto gone = *platform::URL::fromString(emulator_.baseURL() + "/v/gone.mp4");
    auto read = std::make_shared<RecordingListener>("r", PNByteRange{0, -1});
    auto failed = request(videoAt(gone), {read});
    runDownloads(failed, 1);
    EXPECT_EQ(cache_->dataSize(gone), std::nullopt);
    EXPECT_EQ(cache_->knownSize(gone), std::nullopt);
    EXPECT_TRUE(read->bytes().empty());

    // A reply that never tells the file's length and runs to its end has brought the whole
    // file: its length is what came, and the read is told it and served, once.
    emulator_.server().addReply("GET", "/v/unsized.mp4",
                                emulator::Response::text(206, "0123456789", "video/mp4")
                                    .withHeader("Content-Range", "bytes 0-9/*"));
    const auto unsized = *platform::URL::fromString(emulator_.baseURL() + "/v/unsized.mp4");
    auto whole = std::make_shared<RecordingListener>("w", PNByteRange{0, -1});
    auto made = request(videoAt(unsized), {whole});
    runDownloads(made, 1);
    EXPECT_TRUE(made->isCompleted());
    EXPECT_FALSE(made->isRequesting());
    EXPECT_EQ(cache_->knownSize(unsized), 10);
    EXPECT_EQ(cache_->dataSize(unsized), 10);
    ASSERT_TRUE(eventually([&] { return whole->completions() >= 1; }));
    EXPECT_EQ(whole->reportedSize(), 10);
    EXPECT_FALSE(whole->lastError());
    EXPECT_EQ(whole->bytes(), Data({'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'}));
    EXPECT_EQ(rangesAsked("/v/unsized.mp4").size(), 1u);
}

TEST_F(PNVideoLoaderRequestTest, AVideoWithNeitherAddressNorRecordingCompletesItsReadsUnavailable) {
    cache_ = makeCache();
    PNVideo::Fields fields;
    fields.videoID = "nowhere";
    auto listener = std::make_shared<RecordingListener>("l", PNByteRange{0, 10});
    auto made = request(PNVideo::make(std::move(fields)), {listener});
    EXPECT_FALSE(made->isCached());
    made->start();
    ASSERT_TRUE(eventually([&] { return listener->completions() == 1; }));
    ASSERT_TRUE(listener->lastError());
    EXPECT_EQ(listener->lastError()->code(), PNError::videoUnavailable);
    EXPECT_EQ(requestsBesidesAProbe(), 0u);
}

TEST_F(PNVideoLoaderRequestTest, ARecordingWithoutAnAddressIsServedFromItsFile) {
    cache_ = makeCache();
    const std::string id = "5B1E2C3D-0000-4A4A-9C9C-0123456789AB";
    auto& local = PNLocalVideoCache::shared();
    const auto path = local.pathForCache(id, "720p");
    ASSERT_TRUE(path);
    const std::string recording = bytesOfSize(300'000);
    std::filesystem::create_directories(std::filesystem::path(path->path()).parent_path());
    std::ofstream(path->path(), std::ios::binary) << recording;
    PNVideo::Fields fields;
    fields.videoID = id;
    fields.creationDate = platform::Date::now();
    auto video = PNVideo::make(std::move(fields));
    local.add(video, static_cast<std::int64_t>(recording.size()));

    auto part = std::make_shared<RecordingListener>("part", PNByteRange{100, 1000});
    auto whole = std::make_shared<RecordingListener>("whole", PNByteRange{0, -1});
    auto made = request(video, {whole});
    made->addListener(part);
    made->start();
    ASSERT_TRUE(eventually([&] { return whole->completions() >= 1; }));
    // Every read is served up to the primary read's end; the read keeps what it asked for.
    ASSERT_TRUE(eventually([&] { return part->dataOffset() >= 1100; }));
    EXPECT_TRUE(made->isCached());
    EXPECT_FALSE(whole->lastError());
    EXPECT_EQ(whole->reportedSize(), 300'000);
    EXPECT_EQ(part->reportedSize(), 300'000);
    const Data expected(recording.begin(), recording.end());
    EXPECT_EQ(whole->bytes(), expected);
    EXPECT_TRUE(
        std::equal(expected.begin() + 100, expected.begin() + 1100, part->bytes().begin() + 100));
    EXPECT_EQ(requestsBesidesAProbe(), 0u) << "no download for a recording";
    local.remove(id);
}

}  // namespace
}  // namespace pindle::testing
