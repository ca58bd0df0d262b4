#include "PindleCore/caches/PNLocalVideoCache.hpp"

#include <gtest/gtest.h>

#include "../uploads/UploadsTestSupport.hpp"
#include "PindleCore/model/PNTokenObject.hpp"
#include "PindleCore/uploads/PNUploadingStateManager.hpp"

namespace pindle {
namespace {

using Events = std::vector<std::string>;
using platform::Date;

class PNLocalVideoCacheTest : public testing::UploadsTest {
  protected:
    static PNVideoPtr video(const std::string& id, double created) {
        PNVideo::Fields fields;
        fields.videoID = id;
        fields.creationDate = Date::fromTimeIntervalSince1970(created);
        return PNVideo::make(std::move(fields));
    }
    std::vector<std::string> indexed() const {
        std::vector<std::string> ids;
        for (const auto& entry : cache_.cache()) ids.push_back(entry.video->videoID());
        return ids;
    }
    void storeRecord(const std::string& id, bool complete, bool uploaded, double created) {
        auto record = testing::makeRecord(id, complete);
        record->setIsUploaded(uploaded);
        record->setCreatedAt(Date::fromTimeIntervalSince1970(created));
        PNUploadingStateManager::shared().put(record, token_);
    }
    std::string path(const std::string& id, const std::string& resolution) const {
        return cache_.pathForCache(id, resolution)->path();
    }
    bool exists(const std::string& path) const {
        return platform::FileManager::defaultManager().fileExists(path);
    }

    PNLocalVideoCache& cache_ = PNLocalVideoCache::shared();
    std::shared_ptr<platform::Object> token_ = PNTokenObject::sharedInstance();
};

TEST_F(PNLocalVideoCacheTest, NamesFilesInThePsdkFolderOfDocuments) {
    ASSERT_TRUE(cache_.pathForCache("abc", "720p") && cache_.pathForMOVVideoCache("abc"));
    EXPECT_EQ(cache_.pathForCache("abc", "720p")->path(), home_ + "/Documents/psdk/abc_720p.mp4");
    EXPECT_EQ(cache_.pathForMOVVideoCache("abc")->path(), home_ + "/Documents/psdk/abc.mov");
    EXPECT_FALSE(exists(home_ + "/Documents/psdk"));

    EXPECT_TRUE(cache_.resolutions("abc").empty());
    testing::writeMedia(*cache_.pathForMOVVideoCache("abc"), 1);
    testing::writeMedia(*cache_.pathForCache("abc", "720p"), 1);
    testing::writeMedia(platform::URL::fileURLWithPath(home_ + "/Documents/other/abc_wxyz.tmp"), 1);
    testing::writeMedia(platform::URL::fileURLWithPath(home_ + "/Documents/psdk/xabc_360p.mp4"), 1);
    testing::writeMedia(platform::URL::fileURLWithPath(home_ + "/Documents/abc_x/y.mp4"), 1);
    auto found = cache_.resolutions("abc");
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (Events{"360p", "720p", "wxyz"}));
    EXPECT_EQ(cache_.pathesForVideoCache("abc").size(), 3u);
}

TEST_F(PNLocalVideoCacheTest, PutMeasuresFilesAndOrdersByCreationDate) {
    testing::writeMedia(*cache_.pathForCache("b", "720p"), 100);
    testing::writeMedia(*cache_.pathForMOVVideoCache("b"), 50);
    testing::writeMedia(*cache_.pathForCache("a", "360p"), 10);
    testing::writeMedia(*cache_.pathForCache("c", "720p"), 10);
    testing::writeMedia(*cache_.pathForCache("same", "720p"), 10);

    cache_.put(video("b", 20), token_);
    cache_.put(video("a", 10), token_);
    cache_.put(video("c", 30), token_);
    cache_.put(video("same", 20), token_);  // equal date: after the earlier arrival
    ASSERT_EQ(indexed(), (Events{"a", "b", "same", "c"}));
    EXPECT_EQ(cache_.cache()[1].size, 150);

    cache_.put(video("refused", 1), std::make_shared<platform::Object>());
    EXPECT_EQ(indexed().size(), 4u);

    // No file at all: removed everywhere instead of entered.
    storeRecord("ghost", true, false, 5);
    testing::EventRecorder recorder;
    cache_.put(video("ghost", 5), token_);
    EXPECT_EQ(indexed().size(), 4u);
    EXPECT_FALSE(PNUploadingStateManager::shared().uploading("ghost", token_));
    EXPECT_EQ(recorder.events().back(), "PNLocalVideoCleanedUp:ghost");
}

TEST_F(PNLocalVideoCacheTest, LookupsByVideo) {
    testing::writeMedia(*cache_.pathForMOVVideoCache("mov"), 5);
    testing::writeMedia(*cache_.pathForCache("only540", "540p"), 5);
    testing::writeMedia(*cache_.pathForCache("unindexed", "720p"), 5);
    auto tagged = video("mov", 1);
    tagged->setTags({"x", "y"});
    tagged->setInternalMetadata({{"k", "v"}, {"z", "1"}});
    cache_.put(tagged, token_);
    cache_.put(video("only540", 2), token_);

    EXPECT_EQ(cache_.videoLocalMediaURL("mov"), cache_.pathForMOVVideoCache("mov"));
    testing::writeMedia(*cache_.pathForCache("mov", "720p"), 5);
    EXPECT_EQ(cache_.videoLocalMediaURL("mov"), cache_.pathForCache("mov", "720p"));
    EXPECT_FALSE(cache_.videoLocalMediaURL("only540"));
    EXPECT_FALSE(cache_.videoLocalMediaURL("unindexed"));
    EXPECT_EQ(cache_.video("mov"), tagged);
    EXPECT_FALSE(cache_.video("unindexed"));

    struct Case {
        platform::StringSet tags;
        platform::StringDictionary metadata;
        std::size_t count;
    };
    const Case cases[] = {{{}, {}, 2},           {{"x"}, {}, 1},        {{"x", "q"}, {}, 0},
                          {{}, {{"k", "v"}}, 1}, {{}, {{"k", "w"}}, 0}, {{"y"}, {{"z", "1"}}, 1}};
    for (const auto& c : cases) EXPECT_EQ(cache_.videosByTags(c.tags, c.metadata).size(), c.count);

    cache_.removeNonConvertedFile("mov");
    EXPECT_FALSE(exists(cache_.pathForMOVVideoCache("mov")->path()));
    ASSERT_FALSE(cache_.cache().empty());
    EXPECT_EQ(cache_.cache()[0].size, 0);  // entered with the MOV file alone
}

TEST_F(PNLocalVideoCacheTest, LimitEvictsOnlyFinishedUploadsOldestFirst) {
    cache_.setLimitSize(250);
    for (const auto& [id, created] :
         std::vector<std::pair<std::string, double>>{{"old", 1}, {"pending", 2}, {"newer", 3}}) {
        testing::writeMedia(*cache_.pathForCache(id, "720p"), 100);
        storeRecord(id, true, id != "pending", created);
        cache_.put(video(id, created), token_);
    }
    // 300 > 250 when "newer" came: "old" (uploaded, oldest) went, and nothing else.
    EXPECT_EQ(indexed(), (Events{"pending", "newer"}));
    EXPECT_FALSE(exists(path("old", "720p")));
    EXPECT_FALSE(PNUploadingStateManager::shared().uploading("old", token_));

    testing::writeMedia(*cache_.pathForCache("big", "720p"), 400);
    storeRecord("big", true, false, 4);
    testing::EventRecorder recorder;
    cache_.put(video("big", 4), token_);
    // "newer" was the only finished upload; the pending ones stay above the limit.
    EXPECT_EQ(indexed(), (Events{"pending", "big"}));
    EXPECT_TRUE(exists(path("pending", "720p")));
    EXPECT_EQ(recorder.events(), (Events{"PNLocalVideoCleanedUp:newer"}));
}

TEST_F(PNLocalVideoCacheTest, RemoveForgetsEverythingAndAlwaysPosts) {
    testing::writeMedia(*cache_.pathForCache("v", "720p"), 10);
    testing::writeMedia(*cache_.pathForMOVVideoCache("v"), 10);
    storeRecord("v", true, false, 1);
    cache_.put(video("v", 1), token_);
    ASSERT_EQ(PNUploads::shared().uploads().size(), 1u);

    testing::EventRecorder recorder;
    cache_.remove("v");
    cache_.remove("never");
    EXPECT_TRUE(indexed().empty());
    EXPECT_FALSE(exists(path("v", "720p")));
    EXPECT_FALSE(exists(cache_.pathForMOVVideoCache("v")->path()));
    EXPECT_TRUE(PNUploadingPersistentStorage::shared().uploadings().empty());
    EXPECT_EQ(recorder.events(),
              (Events{"will", "did", "PNVideoUploadsUpdated", "PNLocalVideoCleanedUp:v",
                      "PNLocalVideoCleanedUp:never"}));
}

TEST_F(PNLocalVideoCacheTest, ResetRebuildsFromTheRecords) {
    for (const char* id : {"incomplete", "uploaded", "late", "early", "nofile"})
        testing::writeMedia(*cache_.pathForMOVVideoCache(id), 10);
    platform::FileManager::defaultManager()
        .removeItem(cache_.pathForMOVVideoCache("nofile")->path())
        .ignoreError();
    storeRecord("incomplete", false, false, 1);
    storeRecord("uploaded", true, true, 2);
    storeRecord("late", true, false, 30);
    storeRecord("early", true, false, 10);
    storeRecord("nofile", true, false, 20);

    testing::EventRecorder recorder;
    const int resets = cache_.resetCount();
    cache_.resetCache();
    EXPECT_EQ(cache_.resetCount(), resets + 1);
    EXPECT_EQ(indexed(), (Events{"early", "late"}));
    EXPECT_FALSE(exists(cache_.pathForMOVVideoCache("incomplete")->path()));
    EXPECT_FALSE(exists(cache_.pathForMOVVideoCache("uploaded")->path()));
    auto remaining = PNUploadingPersistentStorage::shared().uploadings();
    ASSERT_EQ(remaining.size(), 2u);
    auto events = recorder.events();
    auto cleaned = std::count_if(events.begin(), events.end(), [](const std::string& e) {
        return e.starts_with("PNLocalVideoCleanedUp");
    });
    EXPECT_EQ(cleaned, 3);

    auto rebuilt = cache_.video("early");
    ASSERT_TRUE(rebuilt);
    EXPECT_EQ(rebuilt->title(), "title of early");
    EXPECT_EQ(rebuilt->creationDate(), Date::fromTimeIntervalSince1970(10));
}

TEST_F(PNLocalVideoCacheTest, LookupsDuringARebuildAndEvictionsSeeAWholeIndex) {
    // What observers of the removals find in the index at the moment each removal is posted.
    std::vector<std::pair<std::string, bool>> seen;
    std::string watched;
    auto registration = platform::NotificationCenter::defaultCenter().addObserverForName(
        NotificationName::PNLocalVideoCleanedUp, nullptr, nullptr,
        [&](const platform::Notification& notification) {
            const auto* id = notification.object.find("videoID");
            seen.emplace_back(id ? *id->asString() : "", cache_.video(watched) != nullptr);
        });

    // A rebuild: the kept video stays visible while an incomplete recording is removed.
    testing::writeMedia(*cache_.pathForMOVVideoCache("kept"), 10);
    storeRecord("kept", true, false, 1);
    cache_.put(video("kept", 1), token_);
    storeRecord("incomplete", false, false, 2);
    watched = "kept";
    cache_.resetCache();
    EXPECT_EQ(seen, (std::vector<std::pair<std::string, bool>>{{"incomplete", true}}));
    EXPECT_EQ(indexed(), (Events{"kept"}));

    // An eviction: the evicted video is gone, files and all, before the new one enters.
    seen.clear();
    cache_.setLimitSize(15);
    PNUploadingStateManager::shared().markUploaded("kept", token_);
    testing::writeMedia(*cache_.pathForMOVVideoCache("newer"), 10);
    storeRecord("newer", true, false, 3);
    watched = "newer";
    cache_.put(video("newer", 3), token_);
    EXPECT_EQ(seen, (std::vector<std::pair<std::string, bool>>{{"kept", false}}));
    EXPECT_EQ(indexed(), (Events{"newer"}));
    platform::NotificationCenter::defaultCenter().removeObserver(registration);
}

TEST_F(PNLocalVideoCacheTest, IdentifiersThatMayNameNoFileTouchNoFile) {
    // Files a traversing identifier would reach: Documents/victim.mov, Library/secret.mov and
    // the folder's own MP4 names.
    const std::vector<std::string> victims = {home_ + "/Documents/victim.mov",
                                              home_ + "/Library/secret.mov",
                                              home_ + "/Documents/psdk/_720p.mp4"};
    for (const auto& victim : victims)
        testing::writeMedia(platform::URL::fileURLWithPath(victim), 10);

    const std::string unsafe[] = {
        "../victim", "../../Library/secret", "",    ".",   "..",  "a/b", std::string("a\0b", 3),
        "sp ace",    "caf\xc3\xa9",          "q?x", "h#x", "p%2e"};
    testing::EventRecorder recorder;
    Events expected;
    for (const auto& id : unsafe) {
        EXPECT_FALSE(cache_.pathForCache(id, "720p")) << id;
        EXPECT_FALSE(cache_.pathForMOVVideoCache(id)) << id;
        EXPECT_TRUE(cache_.resolutions(id).empty()) << id;
        cache_.put(video(id, 1), token_);
        cache_.removeNonConvertedFile(id);
        cache_.remove(id);
        expected.push_back("PNLocalVideoCleanedUp:" + id);
    }
    EXPECT_TRUE(indexed().empty());
    for (const auto& victim : victims) EXPECT_TRUE(exists(victim)) << victim;
    EXPECT_EQ(recorder.events(), expected);

    // Unusual identifiers the API client takes name files like any other.
    for (const std::string id : {"...", ".hidden", "a..b", "~x-y_z", "a:b@c"}) {
        testing::writeMedia(*cache_.pathForMOVVideoCache(id), 10);
        cache_.put(video(id, 1), token_);
        EXPECT_EQ(cache_.videoLocalMediaURL(id), cache_.pathForMOVVideoCache(id)) << id;
        cache_.remove(id);
        EXPECT_FALSE(exists(cache_.pathForMOVVideoCache(id)->path())) << id;
    }
    EXPECT_TRUE(indexed().empty());
    for (const auto& victim : victims) EXPECT_TRUE(exists(victim)) << victim;
}

}  // namespace
}  // namespace pindle
