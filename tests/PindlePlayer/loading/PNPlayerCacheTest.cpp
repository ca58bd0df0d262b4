#include "PindlePlayer/loading/PNPlayerCache.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>
#include <utility>

#include "PindleCore/model/PNError.hpp"
#include "PindlePlayer/loading/PNVideoLoaderRequest.hpp"
#include "platform/foundation/Json.hpp"
#include "platform/foundation/Status.hpp"
#include "tests/PindlePlayer/loading/LoaderTestSupport.hpp"
#include "tests/support/MediaFixtures.hpp"

namespace pindle::testing {
namespace {

using platform::Data;

const std::string& noisyClip() {
    static const std::string clip = platform::testing::clipBytes(
        {.width = 320, .height = 240, .seconds = 6, .toneHz = 440, .noise = true});
    return clip;
}

Data dataOf(const std::string& text) {
    return Data(text.begin(), text.end());
}

std::string readWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class PNPlayerCacheTest : public PlayerCacheFixture {
  protected:
    PNVideoPtr videoAt(const std::string& stem) {
        PNVideo::Fields fields;
        fields.videoID = "video-" + stem;
        fields.mediaMP4URL720p = platform::URL::fromString(emulator_.baseURL() + stem + "720p.mp4");
        fields.mediaMP4URL540p = platform::URL::fromString(emulator_.baseURL() + stem + "540p.mp4");
        fields.mediaMP4URL360p = platform::URL::fromString(emulator_.baseURL() + stem + "360p.mp4");
        return PNVideo::make(std::move(fields));
    }
};

TEST_F(PNPlayerCacheTest, PreloadKeepsTheHeadUpToTheLimitAndARestartFindsItsSize) {
    const std::string& clip = noisyClip();
    ASSERT_GT(clip.size(), 1'200'000u);
    // The server stalls well before the end: only the preload's own cut-off can end it.
    const std::size_t served = 1'000'000;
    for (const char* name : {"720p", "540p", "360p"}) {
        const std::string path = std::string("/m/") + name + ".mp4";
        serve(path, clip);
        emulator_.server().addFault(path, emulator::Fault::stallAfter(served));
    }
    auto cache = makeCache();
    auto video = videoAt("/m/");
    Outcome<std::pair<bool, std::optional<platform::Error>>> done;
    auto token = cache->preload(video, [&](bool preloaded, const auto& error) {
        done.set({preloaded, error});
    });
    ASSERT_TRUE(token);
    EXPECT_TRUE(done.wait().first);
    EXPECT_FALSE(done.wait().second);

    // Which rendition the throughput chose shows in the one address asked for.
    std::optional<PNVideoResolution> chosen;
    for (PNVideoResolution r :
         {PNVideoResolution::r720p, PNVideoResolution::r540p, PNVideoResolution::r360p}) {
        const auto asked = rangesAsked("/m/" + toString(r) + ".mp4");
        if (!asked.empty()) {
            EXPECT_EQ(asked, std::vector<std::string>{"bytes=0-"});
            chosen = r;
        }
    }
    ASSERT_TRUE(chosen);
    const platform::URL url = *video->mp4URL(*chosen);
    const auto total = static_cast<std::int64_t>(clip.size());
    const std::int64_t limit = cache->preloadLimit(total, *chosen);
    const std::string file = readWhole(*cache->cacheFilePath(url));
    EXPECT_GE(static_cast<std::int64_t>(file.size()), limit);
    EXPECT_LE(file.size(), served);
    EXPECT_EQ(file, clip.substr(0, file.size()));
    EXPECT_EQ(cache->knownSize(url), total);
    EXPECT_TRUE(cache->isPreloaded(*video));

    const auto sizes = platform::Json::parse(readWhole(documents() + "/pinlet-cache/sizes"));
    ASSERT_TRUE(sizes);
    const platform::Value* data = sizes->find("data");
    ASSERT_TRUE(data && data->find(url.absoluteString()));
    EXPECT_EQ(*data->find(url.absoluteString()), platform::Value(total));

    // The head holds the index and the first frames: enough for the thumbnail.
    ASSERT_TRUE(eventually([&] { return cache->thumbData(video->videoID()).has_value(); }));
    const Data jpeg = *cache->thumbData(video->videoID());
    ASSERT_GT(jpeg.size(), 2u);
    EXPECT_EQ(jpeg[0], 0xFF);
    EXPECT_EQ(jpeg[1], 0xD8);

    cache.reset();
    auto restarted = makeCache();
    EXPECT_EQ(restarted->knownSize(url), total);
    EXPECT_EQ(restarted->getClosestPreloadedResolution(*video), chosen);
    EXPECT_TRUE(restarted->isPreloaded(*video));
}

TEST_F(PNPlayerCacheTest, OnceAPreloadIsCancelledNothingMoreOfItReachesTheCache) {
    // Stalled below any preload limit: only the cancel can end the download.
    for (const char* name : {"720p", "540p", "360p"}) {
        const std::string path = std::string("/h/") + name + ".mp4";
        serve(path, bytesOfSize(2'000'000));
        emulator_.server().addFault(path, emulator::Fault::stallAfter(100'000));
    }
    HeldMediaWrite hold;
    auto cache = makeCache(hold.files());
    auto video = videoAt("/h/");
    // Whichever rendition the throughput picks is the one cached.
    const auto cachedBytes = [&] {
        std::uintmax_t sum = 0;
        for (PNVideoResolution r :
             {PNVideoResolution::r720p, PNVideoResolution::r540p, PNVideoResolution::r360p})
            sum += bytesOnDisk(*cache, *video->mp4URL(r));
        return sum;
    };
    Outcome<bool> done;
    auto token = cache->preload(video, [&](bool preloaded, const auto&) { done.set(preloaded); });
    ASSERT_TRUE(token);
    const std::uintmax_t onReturn = hold.cancelWhileHeld([&] { token->cancelIt(); }, cachedBytes);
    EXPECT_GT(onReturn, 0u) << "the chunk being written when cancel came is kept whole";
    EXPECT_FALSE(done.wait());
    EXPECT_EQ(cachedBytes(), onReturn);
    for (PNVideoResolution r :
         {PNVideoResolution::r720p, PNVideoResolution::r540p, PNVideoResolution::r360p})
        EXPECT_EQ(cache->knownSize(*video->mp4URL(r)), std::nullopt);
}

TEST_F(PNPlayerCacheTest, AnErrorPageIsNeitherCachedNorTakenForTheFilesLength) {
    emulator_.server().addReply(
        "GET", "/gone/720p.mp4",
        emulator::Response::text(404, "<html><body>Not here</body></html>", "text/html"));
    PNVideo::Fields fields;
    fields.videoID = "gone";
    // Kept apart: the fields are moved into the record.
    const auto address = *platform::URL::fromString(emulator_.baseURL() + "/gone/720p.mp4");
    fields.mediaMP4URL720p = address;
    auto video = PNVideo::make(std::move(fields));
    auto cache = makeCache();
    Outcome<bool> done;
    cache->preload(video, [&](bool preloaded, const auto&) { done.set(preloaded); });
    EXPECT_FALSE(done.wait());
    EXPECT_EQ(cache->dataSize(address), std::nullopt);
    EXPECT_EQ(cache->knownSize(address), std::nullopt);

    Outcome<std::optional<platform::Error>> refused;
    PNVideo::Fields bare;
    bare.videoID = "bare";
    EXPECT_EQ(cache->preload(PNVideo::make(std::move(bare)),
                             [&](bool, const auto& error) { refused.set(error); }),
              nullptr);
    ASSERT_TRUE(refused.wait());
    EXPECT_EQ(refused.wait()->code(), PNError::noPlayableURL);
}

TEST_F(PNPlayerCacheTest, FileStoreKeepsAnExactHeadWithinItsBudgetAndTotals) {
    const auto url = *platform::URL::fromString("http://h:1/a/b.mp4?sig=1");
    const auto other = *platform::URL::fromString("http://h:1/a/c.mp4");
    const auto third = *platform::URL::fromString("http://h:1/a/d.mp4");
    auto cache = makeCache();
    ASSERT_TRUE(cache->isFileCacheEnabled());
    EXPECT_EQ(cache->cacheFilePath(url).value_or(""),
              documents() + "/pinlet-cache/http___h_1_a_b.mp4?sig=1");
    // An address too long to name a file is not cached at all.
    const auto tooLong = *platform::URL::fromString("http://h:1/" + std::string(300, 'l') + ".mp4");
    EXPECT_FALSE(cache->cacheFilePath(tooLong));
    cache->appendData(tooLong, dataOf("01234"), 0);
    EXPECT_EQ(cache->dataSize(tooLong), std::nullopt);
    EXPECT_EQ(cache->data(tooLong, 0, 5), std::nullopt);

    // Only an append that continues the cached bytes is taken.
    cache->appendData(url, dataOf("xyz"), 5);
    EXPECT_EQ(cache->dataSize(url), std::nullopt);
    cache->appendData(url, dataOf("01234"), 0);
    cache->appendData(url, dataOf("zz"), 3);
    cache->appendData(url, dataOf("56"), 5);
    EXPECT_EQ(cache->data(url, 0, 100), dataOf("0123456"));
    EXPECT_EQ(cache->data(url, 2, 4), dataOf("23"));

    // Nothing grows past a known total, and a total of 0 is never recorded.
    cache->recordSize(url, 9);
    cache->recordSize(other, 0);
    EXPECT_EQ(cache->knownSize(other), std::nullopt);
    cache->appendData(url, dataOf("789abc"), 7);
    EXPECT_EQ(cache->data(url, 0, 100), dataOf("012345678"));
    cache->putData(url, dataOf("ABCDEFGHIJKL"));
    EXPECT_EQ(cache->dataSize(url), 9);

    // A new file over the budget trims the oldest files first; one larger than the whole
    // budget is not stored at all.
    cache->setCacheSize(1000);
    cache->putData(other, Data(400, 1));
    cache->putData(third, Data(400, 2));
    platform::FileManager files;
    EXPECT_TRUE(files
                    .setModificationDate(*cache->cacheFilePath(url),
                                         platform::Date::fromTimeIntervalSince1970(1000))
                    .ok());
    EXPECT_TRUE(files
                    .setModificationDate(*cache->cacheFilePath(other),
                                         platform::Date::fromTimeIntervalSince1970(2000))
                    .ok());
    cache->putData(*platform::URL::fromString("http://h:1/new.mp4"), Data(300, 3));
    EXPECT_EQ(cache->dataSize(url), std::nullopt);
    EXPECT_EQ(cache->dataSize(other), std::nullopt);
    EXPECT_EQ(cache->dataSize(third), 400);
    EXPECT_EQ(cache->knownSize(url), 9) << "trimming keeps the totals";
    cache->putData(other, Data(1001, 4));
    EXPECT_EQ(cache->dataSize(other), std::nullopt);
}

// Two caches of one folder stand for two processes that share it: neither loses the other's
// totals, and their appends to one file never interleave.
TEST_F(PNPlayerCacheTest, TwoProcessesSharingTheFolderKeepEachOthersTotalsAndBytes) {
    const auto url = *platform::URL::fromString("http://h:1/shared.mp4");
    const auto mine = *platform::URL::fromString("http://h:1/mine.mp4");
    const auto theirs = *platform::URL::fromString("http://h:1/theirs.mp4");
    auto first = makeCache();
    auto second = makeCache();
    first->recordSize(mine, 100);
    second->recordSize(theirs, 200);
    first->recordSize(url, 300);
    auto restarted = makeCache();
    EXPECT_EQ(restarted->knownSize(mine), 100);
    EXPECT_EQ(restarted->knownSize(theirs), 200);
    EXPECT_EQ(restarted->knownSize(url), 300);

    // The first has the file open for appends when the second appends to it.
    first->appendData(url, dataOf("0123"), 0);
    first->appendData(url, dataOf("4567"), 4);
    second->appendData(url, dataOf("89ab"), 8);
    first->appendData(url, dataOf("xxxx"), 8);
    EXPECT_EQ(readWhole(*first->cacheFilePath(url)), "0123456789ab");
    EXPECT_EQ(first->dataSize(url), 12);
    first->appendData(url, dataOf("cd"), 12);
    EXPECT_EQ(readWhole(*first->cacheFilePath(url)), "0123456789abcd");
}

TEST_F(PNPlayerCacheTest, LimitsThresholdsAndMemoryWarnings) {
    auto cache = makeCache();
    const auto r720 = PNVideoResolution::r720p;
    EXPECT_EQ(cache->preloadLimit(100 * 384000, r720), 100 * 1000 + 2 * 384000);
    EXPECT_EQ(cache->preloadLimit(0, r720), 0);
    EXPECT_EQ(cache->preloadLimit(500'000, r720), 500'000) << "a short file is preloaded whole";
    cache->setVideoPreloadingThreshold(1.0);
    EXPECT_EQ(cache->videoPreloadingThreshold(), 2.0);
    cache->setVideoPreloadingThreshold(5.0);
    EXPECT_EQ(cache->preloadLimit(100 * 384000, r720), 100 * 1000 + 5 * 384000);

    // Up to 500 totals survive a memory warning; more are all dropped (the file keeps them).
    std::filesystem::create_directories(documents() + "/pinlet-cache");
    std::string sizes = R"({"data":{)";
    for (int i = 0; i < 501; ++i)
        sizes += (i ? "," : "") + ("\"http://h/" + std::to_string(i) + "\":10");
    std::ofstream(documents() + "/pinlet-cache/sizes") << sizes << "}}";
    cache = makeCache();
    const auto first = *platform::URL::fromString("http://h/0");
    EXPECT_EQ(cache->knownSize(first), 10);
    cache->didReceiveMemoryWarning();
    EXPECT_EQ(cache->knownSize(first), std::nullopt);
    EXPECT_EQ(makeCache()->knownSize(first), 10);
    cache->recordSize(first, 10);
    cache->didReceiveMemoryWarning();
    EXPECT_EQ(cache->knownSize(first), 10);

    // Clearing a video's files keeps what is known of their lengths.
    PNVideo::Fields fields;
    fields.videoID = "v";
    fields.mediaMP4URL720p = first;
    auto video = PNVideo::make(std::move(fields));
    cache->putData(first, Data(10, 1));
    EXPECT_TRUE(cache->isPreloaded(*video));
    cache->clearCacheFor(*video);
    EXPECT_EQ(cache->dataSize(first), std::nullopt);
    EXPECT_EQ(cache->knownSize(first), 10);
    EXPECT_FALSE(cache->isPreloaded(*video));
    cache->clearCache();
    EXPECT_EQ(cache->knownSize(first), std::nullopt);
    EXPECT_EQ(makeCache()->knownSize(first), std::nullopt);
}

TEST_F(PNPlayerCacheTest, AppendsLookAtTheVolumeOnAScheduleAndStopWhenItIsNearlyFull) {
    std::atomic<std::uint64_t> free{1'000'000'000};
    std::atomic<int> looks{0};
    platform::FileManager::Options files;
    files.freeSpace = [&](const std::string&) {
        ++looks;
        return free.load();
    };
    auto cache = makeCache(std::move(files));
    const auto url = *platform::URL::fromString("http://h/v.mp4");
    const std::size_t chunk = 16 << 10;
    std::int64_t offset = 0;
    const auto append = [&](int chunks) {
        for (int i = 0; i < chunks; ++i) {
            cache->appendData(url, Data(chunk, 7), offset);
            offset += static_cast<std::int64_t>(chunk);
        }
    };
    const int chunksPerLook = static_cast<int>(PNPlayerCache::freeSpaceCheckInterval / chunk);
    append(2 * chunksPerLook);
    EXPECT_EQ(cache->dataSize(url), offset);
    EXPECT_LE(looks.load(), 3) << "not once per chunk";

    // A full volume is seen at the next look at the latest; appends stop there.
    free = PNPlayerCache::minimumFreeSpace;
    append(chunksPerLook + 1);
    const std::int64_t stopped = cache->dataSize(url).value_or(0);
    EXPECT_LT(stopped, offset);
    EXPECT_GE(stopped, offset - static_cast<std::int64_t>(PNPlayerCache::freeSpaceCheckInterval) -
                           static_cast<std::int64_t>(chunk));
    EXPECT_LE(looks.load(), 4);
    // Room again: refused appends still count towards the next look, which lets them on.
    free = 1'000'000'000;
    int offers = 0;
    while (cache->dataSize(url) == stopped && offers <= chunksPerLook) {
        cache->appendData(url, Data(chunk, 7), stopped);
        ++offers;
    }
    EXPECT_EQ(cache->dataSize(url), stopped + static_cast<std::int64_t>(chunk));
}

TEST_F(PNPlayerCacheTest, AppendsKeepTheFolderWithinItsBudget) {
    auto cache = makeCache();
    cache->setCacheSize(100'000);
    const auto old = *platform::URL::fromString("http://h/old.mp4");
    const auto growing = *platform::URL::fromString("http://h/growing.mp4");
    cache->putData(old, Data(60'000, 1));
    EXPECT_TRUE(platform::FileManager()
                    .setModificationDate(*cache->cacheFilePath(old),
                                         platform::Date::fromTimeIntervalSince1970(1000))
                    .ok());
    for (std::int64_t offset = 0; offset < 60'000; offset += 10'000)
        cache->appendData(growing, Data(10'000, 2), offset);
    EXPECT_EQ(cache->dataSize(growing), 60'000);
    EXPECT_EQ(cache->dataSize(old), std::nullopt) << "the file changed longest ago made room";

    // No single file grows past the budget; what reached it stays.
    for (std::int64_t offset = 60'000; offset < 150'000; offset += 10'000)
        cache->appendData(growing, Data(10'000, 2), offset);
    EXPECT_EQ(cache->dataSize(growing), 100'000);
    std::uintmax_t folder = 0;
    for (const auto& entry : std::filesystem::directory_iterator(cache->cacheFolder()))
        folder += entry.file_size();
    EXPECT_LE(folder, 100'000u);
}

TEST_F(PNPlayerCacheTest, AFileThatCannotBeRemovedDoesNotCountAsRoomMade) {
    platform::FileManager::Options files;
    files.beforeRemove = [](const std::string& path) -> platform::Status {
        if (path.find("stuck") == std::string::npos)
            return std::nullopt;
        return platform::Error("NSCocoaErrorDomain", 513, {});
    };
    auto cache = makeCache(std::move(files));
    cache->setCacheSize(1000);
    const auto stuck = *platform::URL::fromString("http://h/stuck.mp4");
    const auto next = *platform::URL::fromString("http://h/next.mp4");
    cache->putData(stuck, Data(400, 1));
    cache->putData(next, Data(400, 2));
    platform::FileManager dates;
    EXPECT_TRUE(dates
                    .setModificationDate(*cache->cacheFilePath(stuck),
                                         platform::Date::fromTimeIntervalSince1970(1000))
                    .ok());
    EXPECT_TRUE(dates
                    .setModificationDate(*cache->cacheFilePath(next),
                                         platform::Date::fromTimeIntervalSince1970(2000))
                    .ok());
    cache->putData(*platform::URL::fromString("http://h/new.mp4"), Data(400, 3));
    EXPECT_EQ(cache->dataSize(stuck), 400);
    EXPECT_EQ(cache->dataSize(next), std::nullopt) << "the next file goes in its place";
}

// A file that grows while a trim measures the folder and makes room still counts: the folder
// keeps to its budget afterwards, however the two interleaved.
TEST_F(PNPlayerCacheTest, AFileGrowingWhileATrimMakesRoomStillCounts) {
    const auto old = *platform::URL::fromString("http://h/old.mp4");
    const auto growing = *platform::URL::fromString("http://h/growing.mp4");
    std::shared_ptr<PNPlayerCache> cache;
    std::atomic<bool> armed{false};
    std::thread writer;
    platform::FileManager::Options files;
    files.beforeRemove = [&](const std::string& path) -> platform::Status {
        if (path.find("old.mp4") == std::string::npos || !armed.exchange(false))
            return std::nullopt;
        // The trim has measured the folder and is making room: the other file grows now.
        // (Should that file share this one's lock, it can only grow after the removal.)
        const std::string grown = *cache->cacheFilePath(growing);
        writer = std::thread([&] { cache->appendData(growing, Data(30'000, 2), 10'000); });
        eventually(
            [&] {
                std::error_code missing;
                return std::filesystem::file_size(grown, missing) > 10'000 && !missing;
            },
            std::chrono::seconds(2));
        return std::nullopt;
    };
    cache = makeCache(std::move(files));
    cache->setCacheSize(100'000);
    cache->putData(old, Data(40'000, 1));
    cache->putData(growing, Data(10'000, 2));
    platform::FileManager dates;
    for (const auto& [url, seconds] : {std::pair{old, 1000}, std::pair{growing, 2000}}) {
        EXPECT_TRUE(dates
                        .setModificationDate(*cache->cacheFilePath(url),
                                             platform::Date::fromTimeIntervalSince1970(seconds))
                        .ok());
    }
    armed = true;
    cache->putData(*platform::URL::fromString("http://h/big.mp4"), Data(60'000, 3));
    ASSERT_TRUE(writer.joinable());
    writer.join();

    cache->putData(*platform::URL::fromString("http://h/late.mp4"), Data(25'000, 4));
    std::uintmax_t folder = 0;
    for (const auto& entry : std::filesystem::directory_iterator(cache->cacheFolder()))
        folder += entry.file_size();
    EXPECT_LE(folder, 100'000u);
}

TEST_F(PNPlayerCacheTest, APreloadOfAReplyWithoutALengthCountsOnlyOnceWhole) {
    const std::string file = bytesOfSize(600'000);
    const auto reply = [&](const std::string& path) {
        emulator_.server().addReply("GET", path,
                                    emulator::Response::text(206, file, "video/mp4")
                                        .withHeader("Content-Range", "bytes 0-599999/*"));
        PNVideo::Fields fields;
        fields.videoID = path;
        fields.mediaMP4URL720p = platform::URL::fromString(emulator_.baseURL() + path);
        return PNVideo::make(std::move(fields));
    };
    auto cache = makeCache();
    auto whole = reply("/u/whole.mp4");
    Outcome<bool> done;
    cache->preload(whole, [&](bool preloaded, const auto&) { done.set(preloaded); });
    EXPECT_TRUE(done.wait());
    const auto url = *whole->mp4URL(PNVideoResolution::r720p);
    EXPECT_EQ(cache->dataSize(url), 600'000) << "the whole reply, not its first chunk";
    EXPECT_EQ(cache->knownSize(url), 600'000);
    EXPECT_TRUE(cache->isPreloaded(*whole));

    // Cut short: not preloaded, and what came is kept for the next download to go on from.
    auto cut = reply("/u/cut.mp4");
    emulator_.server().addFault("/u/cut.mp4", emulator::Fault::dropAfter(200'000));
    Outcome<bool> cutDone;
    cache->preload(cut, [&](bool preloaded, const auto&) { cutDone.set(preloaded); });
    EXPECT_FALSE(cutDone.wait());
    const auto cutURL = *cut->mp4URL(PNVideoResolution::r720p);
    const auto kept = cache->dataSize(cutURL);
    ASSERT_TRUE(kept);
    EXPECT_GT(*kept, 0);
    EXPECT_FALSE(cache->isPreloaded(*cut));
    auto request = PNVideoLoaderRequest::make(cut, {}, cache);
    EXPECT_FALSE(request->isCached());
    EXPECT_EQ(cache->dataSize(cutURL), kept);
}

TEST_F(PNPlayerCacheTest, ThumbnailsAreTriedOncePerFileBoundedAndDroppedOnAMemoryWarning) {
    std::atomic<int> decodes{0};
    std::atomic<bool> decodable{false};
    auto cache = makeCache({}, [&](const platform::URL&) -> platform::ImagePtr {
        ++decodes;
        if (!decodable)
            return nullptr;
        return platform::Image::filled(8, 8, {200, 10, 10, 255});
    });
    const auto url = *platform::URL::fromString("http://h/thumb.mp4");
    cache->putData(url, Data(100, 1));
    cache->prepareThumb("v", url);
    ASSERT_TRUE(eventually([&] { return decodes.load() == 1; }));
    cache->prepareThumb("v", url);
    // A replaced file may be tried again; this try is the one that succeeds.
    decodable = true;
    cache->putData(url, Data(200, 2));
    cache->prepareThumb("v", url);
    ASSERT_TRUE(eventually([&] { return cache->thumbData("v").has_value(); }));
    EXPECT_EQ(decodes.load(), 2) << "the unchanged file was not decoded twice";

    cache->didReceiveMemoryWarning();
    EXPECT_FALSE(cache->thumbData("v"));

    const int videos = static_cast<int>(PNPlayerCache::thumbnailsKept) + 5;
    for (int i = 0; i < videos; ++i) {
        const auto other = *platform::URL::fromString("http://h/t" + std::to_string(i) + ".mp4");
        cache->putData(other, Data(10, 3));
        cache->prepareThumb("t" + std::to_string(i), other);
        // Stored before the next is prepared: thumbnails are made side by side, and one still
        // being stored when they are counted would be missed.
        ASSERT_TRUE(eventually([&] {
            return decodes.load() == 3 + i && cache->thumbData("t" + std::to_string(i)).has_value();
        }));
    }
    int kept = 0;
    for (int i = 0; i < videos; ++i) kept += cache->thumbData("t" + std::to_string(i)) ? 1 : 0;
    EXPECT_EQ(kept, static_cast<int>(PNPlayerCache::thumbnailsKept));
}

TEST_F(PNPlayerCacheTest, APlainFileInTheWayKeepsTheCacheInMemoryWithinItsBudget) {
    std::ofstream(documents() + "/pinlet-cache") << "not a folder";
    auto cache = makeCache();
    EXPECT_FALSE(cache->isFileCacheEnabled());
    const auto url = *platform::URL::fromString("http://h/v.mp4");
    cache->appendData(url, dataOf("abc"), 0);
    cache->appendData(url, dataOf("def"), 3);
    cache->recordSize(url, 6);
    EXPECT_EQ(cache->data(url, 1, 5), dataOf("bcde"));
    EXPECT_EQ(readWhole(documents() + "/pinlet-cache"), "not a folder");

    // The memory store keeps to the budget, dropping what was used longest ago.
    cache->setCacheSize(1000);
    EXPECT_EQ(cache->dataSize(url), 6);
    const auto a = *platform::URL::fromString("http://h/a.mp4");
    const auto b = *platform::URL::fromString("http://h/b.mp4");
    const auto c = *platform::URL::fromString("http://h/c.mp4");
    cache->putData(a, Data(400, 1));
    cache->putData(b, Data(400, 2));
    cache->data(a, 0, 1);
    cache->putData(c, Data(300, 3));
    EXPECT_EQ(cache->dataSize(url), std::nullopt);
    EXPECT_EQ(cache->dataSize(b), std::nullopt);
    EXPECT_EQ(cache->dataSize(a), 400);
    cache->appendData(c, Data(700, 3), 300);
    EXPECT_EQ(cache->dataSize(a), std::nullopt);
    EXPECT_EQ(cache->dataSize(c), 1000) << "cut at the budget";
    cache->putData(b, Data(1001, 2));
    EXPECT_EQ(cache->dataSize(b), std::nullopt) << "larger than the budget: not kept";
    EXPECT_EQ(cache->dataSize(c), 1000);
    cache->didReceiveMemoryWarning();
    EXPECT_EQ(cache->dataSize(c), std::nullopt);
    EXPECT_EQ(cache->knownSize(url), 6) << "a few totals survive a memory warning";
}

}  // namespace
}  // namespace pindle::testing
