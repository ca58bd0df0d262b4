#include "PindleCore/uploads/private/PNUploadingPersistentStorage.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <future>
#include <optional>
#include <thread>

#include "UploadsTestSupport.hpp"
#include "platform/dispatch/Clock.hpp"
#include "platform/files/FileManager.hpp"
#include "platform/foundation/Json.hpp"
#include "platform/foundation/Status.hpp"
#include "tests/support/OpenDescriptors.hpp"
#include "tests/support/SpinUntil.hpp"

namespace pindle {
namespace {

using platform::FileManager;

std::vector<std::string> ids(const std::vector<PNUploadingStatePtr>& records) {
    std::vector<std::string> result;
    for (const auto& record : records) result.push_back(record->videoID());
    return result;
}

std::string fileText(const std::string& path) {
    auto bytes = FileManager::defaultManager().contentsOfFile(path);
    return bytes ? std::string(bytes->begin(), bytes->end()) : std::string("<missing>");
}

class PNUploadingPersistentStorageTest : public testing::UploadsTest {
  protected:
    PNUploadingPersistentStorage& storage_ = PNUploadingPersistentStorage::shared();
};

TEST_F(PNUploadingPersistentStorageTest, LivesInLibraryAndKeepsOrderAndPositions) {
    EXPECT_EQ(recordsPath(), home_ + "/Library/p.sdk/uploadingData");
    EXPECT_TRUE(storage_.uploadings().empty());
    EXPECT_FALSE(storage_.uploading("a"));
    EXPECT_FALSE(storage_.contains("a"));

    for (const char* id : {"a", "b", "c"}) storage_.put(testing::makeRecord(id));
    EXPECT_EQ(ids(storage_.uploadings()), (std::vector<std::string>{"a", "b", "c"}));

    auto changed = testing::makeRecord("b");
    changed->setBytesUploaded(42);
    storage_.put(changed);
    EXPECT_EQ(ids(storage_.uploadings()), (std::vector<std::string>{"a", "b", "c"}));
    ASSERT_TRUE(storage_.uploading("a") && storage_.uploading("b"));
    EXPECT_EQ(storage_.uploading("b")->bytesUploaded(), 42);
    EXPECT_FALSE(storage_.uploading("B"));
    EXPECT_TRUE(storage_.contains("b"));
    EXPECT_FALSE(storage_.contains("B"));

    // A record handed out is a snapshot.
    storage_.uploading("a")->setBytesUploaded(7);
    EXPECT_EQ(storage_.uploading("a")->bytesUploaded(), 0);

    storage_.removeUploading("zzz");
    EXPECT_EQ(ids(storage_.uploadings()), (std::vector<std::string>{"a", "b", "c"}));
    storage_.removeUploading("b");
    EXPECT_EQ(ids(storage_.uploadings()), (std::vector<std::string>{"a", "c"}));
    EXPECT_FALSE(storage_.contains("b"));

    storage_.flushUploadingInfo();
    EXPECT_FALSE(FileManager::defaultManager().fileExists(recordsPath()));
    EXPECT_TRUE(storage_.uploadings().empty());
    storage_.flushUploadingInfo();  // no file: nothing happens

    storage_.removeUploading("a");
    EXPECT_EQ(fileText(recordsPath()), R"({"data":[]})");
}

// The storage keeps its records between calls and lets one list share them with the next, so
// no record a caller holds may be one of them; and the file stays what a fresh encoding of the
// list gives.
TEST_F(PNUploadingPersistentStorageTest, ACallersRecordIsNeverAStoredOne) {
    struct Case {
        const char* change;
        std::function<void(PNUploadingPersistentStorage&)> apply;
    };
    const Case cases[] = {
        {"a record looked up",
         [](auto& storage) {
             storage.uploading("a")->setBytesUploaded(99);
         }},
        {"the records listed",
         [](auto& storage) {
             for (const auto& record : storage.uploadings()) record->setBytesUploaded(99);
         }},
        {"a record put",
         [](auto& storage) {
             auto record = testing::makeRecord("a");
             record->setBytesUploaded(5);
             storage.put(record);
             record->setBytesUploaded(99);
         }},
        {"a record put as progress",
         [](auto& storage) {
             auto record = testing::makeRecord("a");
             record->setBytesUploaded(5);
             storage.putProgress(record);
             record->setBytesUploaded(99);
         }},
        {"the records stored",
         [](auto& storage) {
             auto a = testing::makeRecord("a");
             a->setBytesUploaded(5);
             std::vector<PNUploadingStatePtr> records{a, testing::makeRecord("b")};
             storage.store(records);
             a->setBytesUploaded(99);
         }},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.change);
        const std::string path = home_ + "/records-" + std::to_string(n++);
        PNUploadingPersistentStorage storage(path);
        auto a = testing::makeRecord("a");
        a->setBytesUploaded(5);
        storage.put(a);
        storage.put(testing::makeRecord("b"));

        c.apply(storage);
        ASSERT_TRUE(storage.uploading("a"));
        EXPECT_EQ(storage.uploading("a")->bytesUploaded(), 5);
        storage.put(testing::makeRecord("c"));  // writes the list the storage holds
        PNUploadingPersistentStorage restarted(path);
        ASSERT_TRUE(restarted.uploading("a"));
        EXPECT_EQ(restarted.uploading("a")->bytesUploaded(), 5);
        const auto encoded =
            PNUploadingState::encode({a, testing::makeRecord("b"), testing::makeRecord("c")});
        ASSERT_TRUE(encoded);
        EXPECT_EQ(fileText(path), std::string(encoded->begin(), encoded->end()));
    }
}

TEST_F(PNUploadingPersistentStorageTest, AStoredRecordHandedOutKeepsItsStateThroughLaterChanges) {
    const auto withBytes = [](std::int64_t bytes) {
        auto record = testing::makeRecord("a");
        record->setBytesUploaded(bytes);
        return record;
    };
    struct Case {
        const char* change;
        std::function<void(PNUploadingPersistentStorage&)> apply;
        std::optional<std::int64_t> bytesAfter;  // nothing: no record any more
    };
    const Case cases[] = {
        {"put", [&](auto& storage) { storage.put(withBytes(9)); }, 9},
        {"progress", [&](auto& storage) { storage.putProgress(withBytes(9)); }, 9},
        {"store", [&](auto& storage) { storage.store({withBytes(9)}); }, 9},
        {"removal", [](auto& storage) { storage.removeUploading("a"); }, std::nullopt},
        {"another writer",
         [&](auto& storage) {
             PNUploadingPersistentStorage(storage.uploadingsPath()).put(withBytes(9));
         },
         9},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.change);
        PNUploadingPersistentStorage storage(home_ + "/stored-" + std::to_string(n++));
        storage.put(withBytes(5));
        const PNStoredUploadingStatePtr held = storage.storedUploading("a");
        ASSERT_TRUE(held);
        c.apply(storage);
        EXPECT_EQ(held->bytesUploaded(), 5);
        const PNStoredUploadingStatePtr now = storage.storedUploading("a");
        ASSERT_EQ(now != nullptr, c.bytesAfter.has_value());
        if (now) {
            EXPECT_EQ(now->bytesUploaded(), *c.bytesAfter);
        }
    }
}

TEST_F(PNUploadingPersistentStorageTest, ProgressReachesReadersAtOnceAndTheFileWithTheNextChange) {
    storage_.put(testing::makeRecord("a"));
    auto progressed = testing::makeRecord("a");
    progressed->setBytesUploaded(262144);
    storage_.putProgress(progressed);
    progressed->setBytesUploaded(1);  // the caller's record is not the stored one
    EXPECT_EQ(storage_.uploading("a")->bytesUploaded(), 262144);

    storage_.put(testing::makeRecord("b"));
    PNUploadingPersistentStorage restarted(recordsPath());
    EXPECT_EQ(ids(restarted.uploadings()), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(restarted.uploading("a")->bytesUploaded(), 262144);
}

TEST_F(PNUploadingPersistentStorageTest, ProgressIsWrittenAtMostOnceAnIntervalOfThePlatformClock) {
    auto clock = std::make_shared<platform::VirtualClock>();
    platform::Clock::setCurrent(clock);
    struct Restore {
        ~Restore() { platform::Clock::setCurrent(nullptr); }
    } restore;
    const auto interval = PNUploadingPersistentStorage::progressWriteInterval;
    auto bytesOnDisk = [&] {
        PNUploadingPersistentStorage restarted(recordsPath());
        auto record = restarted.uploading("a");
        return record ? record->bytesUploaded() : -1;
    };
    const auto withBytes = [](std::int64_t bytes) {
        auto record = testing::makeRecord("a");
        record->setBytesUploaded(bytes);
        return record;
    };
    storage_.put(withBytes(1));
    const struct {
        double after;  // seconds since the last write
        std::int64_t bytes;
        std::int64_t onDisk;
    } steps[] = {
        {0.0, 2, 1},
        {interval - 0.1, 3, 1},
        {0.2, 4, 4},  // past the interval: written, and the interval starts again
        {interval - 0.1, 5, 4},
        {0.2, 6, 6},
    };
    for (const auto& step : steps) {
        clock->advance(step.after);
        storage_.putProgress(withBytes(step.bytes));
        EXPECT_EQ(storage_.uploading("a")->bytesUploaded(), step.bytes);
        EXPECT_EQ(bytesOnDisk(), step.onDisk) << "after " << step.bytes;
    }
    // Another clock whose reading lies before the last write's holds nothing back.
    clock->advance(interval - 0.1);
    storage_.putProgress(withBytes(7));
    ASSERT_EQ(bytesOnDisk(), 6);
    platform::Clock::setCurrent(std::make_shared<platform::VirtualClock>());
    storage_.putProgress(withBytes(8));
    EXPECT_EQ(bytesOnDisk(), 8);
}

TEST_F(PNUploadingPersistentStorageTest, AnotherWritersFileWinsOverWhatWasRead) {
    storage_.put(testing::makeRecord("a"));
    EXPECT_EQ(ids(storage_.uploadings()), (std::vector<std::string>{"a"}));

    PNUploadingPersistentStorage other(recordsPath());
    auto changed = testing::makeRecord("a");
    changed->setBytesUploaded(5);
    other.put(changed);
    other.put(testing::makeRecord("z"));
    EXPECT_EQ(ids(storage_.uploadings()), (std::vector<std::string>{"a", "z"}));
    EXPECT_EQ(storage_.uploading("a")->bytesUploaded(), 5);

    // Progress this storage has not written yet gives way as well.
    auto progressed = testing::makeRecord("a");
    progressed->setBytesUploaded(9);
    storage_.putProgress(progressed);
    other.removeUploading("a");
    EXPECT_EQ(ids(storage_.uploadings()), (std::vector<std::string>{"z"}));
    EXPECT_FALSE(storage_.contains("a"));
}

TEST_F(PNUploadingPersistentStorageTest, UnreadableContentReadsAsNoRecords) {
    const auto& files = FileManager::defaultManager();
    EXPECT_TRUE(files.createDirectory(home_ + "/Library/p.sdk", true).ok());

    std::string good = *platform::Json::serialize(testing::makeRecord("good")->encode());
    auto withoutTitle = testing::makeRecord("untitled")->encode();
    withoutTitle.erase("title");
    std::string bad = *platform::Json::serialize(withoutTitle);
    std::string mixed = R"({"data":[)" + good + "," + bad + "]}";
    EXPECT_TRUE(files.createFile(recordsPath(), platform::Data(mixed.begin(), mixed.end())).ok());
    EXPECT_EQ(ids(storage_.uploadings()), (std::vector<std::string>{"good"}));
    storage_.put(testing::makeRecord("new"));
    EXPECT_EQ(fileText(recordsPath()).find("untitled"), std::string::npos);
    EXPECT_EQ(ids(storage_.uploadings()), (std::vector<std::string>{"good", "new"}));

    const std::string garbage = "{\"data\":[{\"videoID\":";
    files.removeItem(recordsPath()).ignoreError();
    EXPECT_TRUE(
        files.createFile(recordsPath(), platform::Data(garbage.begin(), garbage.end())).ok());
    EXPECT_TRUE(storage_.uploadings().empty());
    storage_.put(testing::makeRecord("only"));
    EXPECT_EQ(ids(storage_.uploadings()), (std::vector<std::string>{"only"}));
}

// A process killed between writing the new list and putting it in place must leave the last
// complete list readable, never a torn or empty file.
TEST_F(PNUploadingPersistentStorageTest, KilledBetweenTwoWritesLeavesTheLastList) {
    const std::string path = home_ + "/Library/p.sdk/uploadingData";
    bool crash = false;
    std::string seenTemporary;
    FileManager::Options options;
    options.beforeAtomicRename = [&](const std::string& temporaryPath) -> platform::Status {
        if (!crash)
            return std::nullopt;
        seenTemporary = temporaryPath;
        // What a reader (or the next process) finds at this instant: the old list.
        EXPECT_EQ(PNUploadingPersistentStorage(path).uploadings().size(), 2u);
        return platform::makeURLError(platform::URLError::cancelled);
    };
    PNUploadingPersistentStorage storage(path, options);
    storage.put(testing::makeRecord("a"));
    storage.put(testing::makeRecord("b"));
    const std::string before = fileText(path);

    crash = true;
    auto changed = testing::makeRecord("a");
    changed->setBytesUploaded(1000);
    storage.put(changed);
    storage.removeUploading("b");

    EXPECT_FALSE(seenTemporary.empty());
    EXPECT_NE(seenTemporary, path);
    EXPECT_EQ(fileText(path), before);
    PNUploadingPersistentStorage restarted(path);
    EXPECT_EQ(ids(restarted.uploadings()), (std::vector<std::string>{"a", "b"}));
    ASSERT_TRUE(restarted.uploading("a"));
    EXPECT_EQ(restarted.uploading("a")->bytesUploaded(), 0);
    EXPECT_FALSE(FileManager::defaultManager().fileExists(seenTemporary));
}

TEST_F(PNUploadingPersistentStorageTest, ConcurrentChangesLoseNothing) {
    constexpr int threads = 4;
    constexpr int perThread = 10;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([this, t] {
            for (int i = 0; i < perThread; ++i)
                storage_.put(testing::makeRecord(std::to_string(t) + "-" + std::to_string(i)));
        });
    for (auto& worker : workers) worker.join();
    EXPECT_EQ(storage_.uploadings().size(), std::size_t{threads * perThread});
}

// Two storages of one file stand for two processes sharing a home: each reads, changes and
// writes the whole list. The first is stopped just before its new list goes in place while the
// second makes its change; neither change may be lost.
TEST_F(PNUploadingPersistentStorageTest, TwoProcessesChangingTheRecordsLoseNothing) {
    const std::string path = recordsPath();
    PNUploadingPersistentStorage other(path);
    std::future<void> otherChange;
    FileManager::Options options;
    options.beforeAtomicRename = [&](const std::string&) -> platform::Status {
        if (otherChange.valid())
            return std::nullopt;
        otherChange = std::async(std::launch::async, [&] { other.put(testing::makeRecord("b")); });
        // The other change either waits for this one (it has the lock file open), or, with
        // nothing to make it wait, goes through before this list lands.
        const bool waitsOrDone = pindle::testing::spinUntil([&] {
            return testing::descriptorsOpenOn(path + PNUploadingPersistentStorage::lockSuffix) ==
                       2 ||
                   otherChange.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
        });
        EXPECT_TRUE(waitsOrDone);
        return std::nullopt;
    };
    PNUploadingPersistentStorage first(path, options);
    other.put(testing::makeRecord("z"));
    first.put(testing::makeRecord("a"));
    ASSERT_TRUE(otherChange.valid());
    ASSERT_EQ(otherChange.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    PNUploadingPersistentStorage restarted(path);
    EXPECT_EQ(ids(restarted.uploadings()), (std::vector<std::string>{"z", "a", "b"}));
}

// Progress held back from the file survives another process's write of other records, and
// goes out with this storage's next write.
TEST_F(PNUploadingPersistentStorageTest, ProgressHeldBackOutlivesAnotherProcesssWrite) {
    const std::string path = recordsPath();
    PNUploadingPersistentStorage mine(path);
    PNUploadingPersistentStorage other(path);
    auto record = testing::makeRecord("a");
    record->setUrlToUpload(platform::URL::fromString("http://127.0.0.1/session/1"));
    mine.put(record);
    record->setBytesUploaded(262144);
    mine.putProgress(record);  // just written: held back
    EXPECT_EQ(PNUploadingPersistentStorage(path).uploading("a")->bytesUploaded(), 0);

    other.put(testing::makeRecord("z"));
    ASSERT_TRUE(mine.uploading("a"));
    EXPECT_EQ(mine.uploading("a")->bytesUploaded(), 262144);
    EXPECT_EQ(ids(mine.uploadings()), (std::vector<std::string>{"a", "z"}));
    mine.put(testing::makeRecord("c"));
    PNUploadingPersistentStorage restarted(path);
    EXPECT_EQ(ids(restarted.uploadings()), (std::vector<std::string>{"a", "z", "c"}));
    EXPECT_EQ(restarted.uploading("a")->bytesUploaded(), 262144);

    // A record another writer moved to a new session keeps that session's count.
    record->setBytesUploaded(524288);
    mine.putProgress(record);
    auto restartedSession = testing::makeRecord("a");
    restartedSession->setUrlToUpload(platform::URL::fromString("http://127.0.0.1/session/2"));
    other.put(restartedSession);
    EXPECT_EQ(mine.uploading("a")->bytesUploaded(), 0);
}

}  // namespace
}  // namespace pindle
