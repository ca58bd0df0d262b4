#include "PindleCore/uploads/PDataRangeUploadingOperation.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <future>
#include <thread>

#include "OnlineUploadFixture.hpp"
#include "PindleCore/caches/PNLocalVideoCache.hpp"
#include "PindleCore/model/PNNotificationNames.hpp"
#include "PindleCore/model/PNTokenObject.hpp"
#include "PindleCore/uploads/PCacheManager.hpp"
#include "PindleCore/uploads/PNUploadingStateManager.hpp"
#include "PindleCore/uploads/private/PNUploadingPersistentStorage.hpp"
#include "platform/files/FileManager.hpp"
#include "platform/foundation/NotificationCenter.hpp"
#include "tests/support/OpenDescriptors.hpp"
#include "tools/emulator/Fault.hpp"
#include "tools/emulator/FaultGate.hpp"

namespace pindle::legacy {
namespace {

using emulator::StorageResource;
using platform::Data;

constexpr std::int64_t unit = PDataRangeUploadingOperation::rangeSize;

// How one run of an operation ended.
struct Ending {
    bool finished = false;  // false: still running when the test gave up on it
    bool uploaded = false;
    bool cancelled = false;
    bool deferred = false;
    std::optional<platform::Error> error;
};

class PDataRangeUploadingOperationTest : public testing::OnlineUploadFixture {
  protected:
    // A recorded file of `size` bytes for `resolution` and its upload record.
    Data record(const std::string& id, const std::string& resolution, std::size_t size,
                bool imported, std::vector<std::string> resolutions = {}) {
        Data file(size);
        for (std::size_t i = 0; i < size; ++i) file[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
        const std::string path = *PCacheManager::getInstance().pathForVideoCache(id, resolution);
        EXPECT_TRUE(platform::FileManager::defaultManager().writeAtomically(path, file).ok());
        PNUploadingState::Fields fields;
        fields.videoID = id;
        fields.title = "Upload " + id;
        fields.shotOn = platform::Date::now();
        fields.createdAt = platform::Date::now();
        fields.resolutionsToUpload = resolutions.empty() ? std::vector{resolution} : resolutions;
        fields.isRecordingComplete = true;
        fields.isConverted = true;
        fields.isImported = imported;
        PNUploadingStateManager::shared().put(std::make_shared<PNUploadingState>(fields),
                                              PNTokenObject::sharedInstance());
        return file;
    }

    // Where the operation's blocks will say how it ended.
    static std::shared_ptr<Ending> endingOf(PDataRangeUploadingOperation& operation) {
        auto ending = std::make_shared<Ending>();
        operation.setUploadCompletionBlock([ending](const std::shared_ptr<PNVideo>&, bool cancelled,
                                                    const std::optional<platform::Error>& error) {
            ending->cancelled = cancelled;
            ending->uploaded = !cancelled && !error;
            ending->error = error;
        });
        operation.setDeferralBlock([ending](const platform::Error& reason, bool) {
            ending->deferred = true;
            ending->error = reason;
        });
        return ending;
    }

    // Runs an operation on its own thread until it ends or `limit` passes (then it is
    // cancelled, and the ending says it did not finish).
    Ending runBounded(const std::string& id,
                      std::chrono::seconds limit = std::chrono::seconds(30)) {
        auto operation = std::make_shared<PDataRangeUploadingOperation>(id);
        auto ending = endingOf(*operation);
        auto done = std::async(std::launch::async, [operation] { operation->main(); });
        if (done.wait_for(limit) == std::future_status::ready) {
            ending->finished = true;
            return *ending;
        }
        cancelAndAwait(*operation, done, limit);
        return Ending{};
    }

    // A cancelled upload that never stops would hang the test in the future's destructor;
    // ending the process fails it instead.
    static void cancelAndAwait(PDataRangeUploadingOperation& operation, std::future<void>& done,
                               std::chrono::seconds limit) {
        operation.cancel();
        if (done.wait_for(limit) != std::future_status::ready) {
            ADD_FAILURE() << "the upload did not stop once cancelled";
            std::abort();
        }
    }

    // Runs an operation whose first range's answer waits until `whileHeld` has run, then lets
    // it go on to its end (bounded as runBounded is).
    Ending runHoldingTheFirstRange(
        const std::string& id, const std::function<void(PDataRangeUploadingOperation&)>& whileHeld,
        std::chrono::seconds limit = std::chrono::seconds(30)) {
        auto gate = std::make_shared<emulator::FaultGate>();
        emulator_.server().addFault("/uploads/" + id + "/imported.mp4/session/" +
                                        std::to_string(emulator_.storage().sessionsOpened() + 1),
                                    emulator::Fault::heldBy(gate).times(1));
        auto operation = std::make_shared<PDataRangeUploadingOperation>(id);
        auto ending = endingOf(*operation);
        auto done = std::async(std::launch::async, [operation] { operation->main(); });
        const bool held = gate->waitForArrivals(1, limit);
        if (held)
            whileHeld(*operation);
        gate->open();
        if (held && done.wait_for(limit) == std::future_status::ready) {
            ending->finished = true;
            return *ending;
        }
        ADD_FAILURE() << (held ? "the upload did not end" : "the first range never came");
        cancelAndAwait(*operation, done, limit);
        return Ending{};
    }

    // Starts an upload and stops it for good while the storage holds its `nth` chunk, leaving
    // a record with an open session as a killed process would.
    void interruptAtChunk(const std::string& id, int nth, StorageResource::Hold stage) {
        emulator_.storage().holdChunk(nth, stage);
        auto operation = std::make_shared<PDataRangeUploadingOperation>(id);
        auto done = std::async(std::launch::async, [operation] { operation->main(); });
        const bool held = emulator_.storage().waitUntilHeld(std::chrono::seconds(20));
        cancelAndAwait(*operation, done, std::chrono::seconds(30));
        emulator_.storage().holdChunk(0, stage);
        ASSERT_TRUE(held) << "the upload never reached chunk " << nth;
    }

    std::string object(const std::string& name) {
        return emulator_.storage().object(name).value_or("(none)");
    }
    static std::string text(const Data& data) { return std::string(data.begin(), data.end()); }

    // Runs the operation to its end on this thread.
    void run(const std::string& id) {
        PDataRangeUploadingOperation operation(id);
        int successes = 0;
        operation.setUploadCompletionBlock([&](const std::shared_ptr<PNVideo>&, bool wasCancelled,
                                               const std::optional<platform::Error>& error) {
            EXPECT_FALSE(wasCancelled);
            EXPECT_FALSE(error);
            ++successes;
        });
        operation.main();
        EXPECT_EQ(successes, 1);
    }

    PNUploadingStatePtr stored(const std::string& id) {
        return PNUploadingStateManager::shared().uploading(id, PNTokenObject::sharedInstance());
    }

    std::vector<std::string> contentRanges(const std::string& id, const std::string& file) {
        std::vector<std::string> ranges;
        for (const auto& request : emulator_.server().requestLog().requests()) {
            if (request.method == "PUT" &&
                request.path().rfind("/uploads/" + id + "/" + file + "/session/", 0) == 0) {
                ranges.push_back(request.header("Content-Range").value_or(""));
            }
        }
        return ranges;
    }
};

TEST_F(PDataRangeUploadingOperationTest, SendsTheBodyInRangesThenTheHeadThenRecordsTheResolution) {
    const std::string id = "0a1b2c3d-0000-4000-8000-000000000001";
    Data file = record(id, "360p", 262'204, false);
    run(id);

    EXPECT_EQ(contentRanges(id, "360p.mp4"), std::vector<std::string>{"bytes 0-262143/262144"});
    auto object = emulator_.storage().object(id + "/360p.mp4");
    ASSERT_TRUE(object);
    EXPECT_TRUE(*object == std::string(file.begin(), file.end()));
    ASSERT_TRUE(emulator_.store().get(id));
    EXPECT_EQ(emulator_.store().get(id)->resolutions, std::vector<std::string>{"360p"});
    auto done = stored(id);
    ASSERT_TRUE(done);
    EXPECT_TRUE(done->isUploaded());
    EXPECT_TRUE(done->isSynced());
    EXPECT_EQ(done->resolutionsUploaded(), std::vector<std::string>{"360p"});
}

// A process may die after any store of the record. The steps that end a session are each one
// store: between the session's last range and the resolution's entry, no stored record says
// "no session, nothing sent" of a resolution the storage already holds, which a restart would
// send whole again.
TEST_F(PDataRangeUploadingOperationTest, NoStoredStepForgetsASessionBeforeItsResolutionIsRecorded) {
    const std::string id = "0a1b2c3d-0000-4000-8000-00000000000f";
    record(id, "360p", 2 * unit + 500, false, {"360p", "540p"});
    const std::string other = *PCacheManager::getInstance().pathForVideoCache(id, "540p");
    ASSERT_TRUE(platform::FileManager::defaultManager().writeAtomically(other, Data(700)).ok());
    struct Seen {
        bool session;
        std::int64_t bytes;
        std::size_t resolutions;
    };
    std::vector<Seen> seen;  // each store's observers run on the uploading thread, one at a time
    // The store being announced is not written yet: each observer sees the one before it.
    auto look = [&](const platform::Notification&) {
        if (auto now = PNUploadingPersistentStorage::shared().storedUploading(id))
            seen.push_back({now->urlToUpload().has_value(), now->bytesUploaded(),
                            now->resolutionsUploaded().size()});
    };
    auto& center = platform::NotificationCenter::defaultCenter();
    platform::NotificationCenter::ScopedRegistration progress(
        center.addObserverForName(NotificationName::PNVideoUploadProgress, nullptr, nullptr, look));
    platform::NotificationCenter::ScopedRegistration complete(
        center.addObserverForName(NotificationName::PNVideoUploadComplete, nullptr, nullptr, look));
    run(id);
    ASSERT_TRUE(stored(id));
    EXPECT_TRUE(stored(id)->isUploaded());
    EXPECT_EQ(stored(id)->resolutionsUploaded(), (std::vector<std::string>{"360p", "540p"}));

    // Once a resolution's session has been stored, the next state without a session must have
    // the resolution recorded.
    bool sessionOpen = false;
    std::size_t recorded = 0;
    for (std::size_t i = 0; i < seen.size(); ++i) {
        if (seen[i].session) {
            sessionOpen = true;
        } else if (sessionOpen) {
            EXPECT_EQ(seen[i].resolutions, recorded + 1) << "store " << i << " of " << seen.size();
            sessionOpen = false;
        }
        recorded = seen[i].resolutions;
    }
    EXPECT_EQ(recorded, 1u) << "the first resolution's end was never seen stored";
}

TEST_F(PDataRangeUploadingOperationTest, ImportedFilesHaveNoHeadAndTheLastRangeNamesTheTotal) {
    const std::string id = "0a1b2c3d-0000-4000-8000-000000000002";
    Data file = record(id, "540p", 600'000, true);
    run(id);
    EXPECT_EQ(contentRanges(id, "540p.mp4"),
              (std::vector<std::string>{"bytes 0-262143/*", "bytes 262144-524287/*",
                                        "bytes 524288-599999/600000"}));
    EXPECT_TRUE(emulator_.storage().isComplete(id + "/540p.mp4"));
    EXPECT_TRUE(emulator_.storage().object(id + "/540p.mp4") ==
                std::string(file.begin(), file.end()));
    for (const auto& request : emulator_.server().requestLog().requests()) {
        EXPECT_EQ(request.path().find("/prefix"), std::string::npos);
    }
}

TEST_F(PDataRangeUploadingOperationTest, ARejectedRangeStartsAgainWithANewSession) {
    const std::string id = "0a1b2c3d-0000-4000-8000-000000000003";
    Data file = record(id, "360p", 300'000, false);
    emulator_.server().addJSONReply("PUT", "/uploads/" + id + "/360p.mp4/session/1", 400,
                                    {{"error", "bad range"}}, {}, 1);
    run(id);
    EXPECT_EQ(emulator_.storage().sessionsOpened(), 2u);
    EXPECT_TRUE(emulator_.storage().object(id + "/360p.mp4") ==
                std::string(file.begin(), file.end()));
    ASSERT_TRUE(stored(id));
    EXPECT_TRUE(stored(id)->isUploaded());
}

TEST_F(PDataRangeUploadingOperationTest, ARecordingToConvertIsDoneOnceItsBytesAreSent) {
    const std::string id = "0a1b2c3d-0000-4000-8000-000000000004";
    Data file = record(id, "720p", 1000, false);
    run(id);
    // The whole file goes to the description's own session, and no resolution is recorded.
    EXPECT_TRUE(emulator_.storage().object(id + "/source.mp4") ==
                std::string(file.begin(), file.end()));
    EXPECT_TRUE(emulator_.server().requestLog().requestsFor("PUT", "/v1/videos/" + id).empty());
    ASSERT_TRUE(stored(id));
    EXPECT_TRUE(stored(id)->isUploaded());
}

TEST_F(PDataRangeUploadingOperationTest, CancellingReportsOnceAndLeavesTheRecordToResume) {
    const std::string id = "0a1b2c3d-0000-4000-8000-000000000005";
    record(id, "360p", 700'000, false);
    emulator_.server().addFault("/uploads/" + id + "/360p.mp4/session/1",
                                emulator::Fault::delayed(std::chrono::seconds(5)));
    auto operation = std::make_shared<PDataRangeUploadingOperation>(id);
    int reports = 0;
    operation->setUploadCompletionBlock([&](const std::shared_ptr<PNVideo>&, bool cancelled,
                                            const std::optional<platform::Error>&) {
        EXPECT_TRUE(cancelled);
        ++reports;
    });
    std::thread canceller([&] {
        emulator_.server().requestLog().waitForCount(4, std::chrono::seconds(20));
        operation->cancel();
        operation->cancel();
    });
    operation->main();
    canceller.join();
    EXPECT_EQ(reports, 1);
    auto left = stored(id);
    ASSERT_TRUE(left);
    EXPECT_FALSE(left->isUploaded());
    EXPECT_TRUE(left->isSynced());
    EXPECT_TRUE(left->urlToUpload());  // the session is kept for the next operation
}

TEST_F(PDataRangeUploadingOperationTest, TheBytesCountedAreTheOnesTheStorageKept) {
    struct Case {
        const char* what;
        StorageResource::Faults faults;
    };
    auto faults = [](auto change) {
        StorageResource::Faults f;
        change(f);
        return f;
    };
    const Case cases[] = {
        {"half of every chunk", faults([](auto& f) { f.persistShare = 0.5; })},
        {"a lost answer", faults([](auto& f) { f.dropAfterStoring = 1; })},
        {"a moment of outage", faults([](auto& f) { f.unavailable = 1; })},
    };
    int n = 10;
    for (const Case& c : cases) {
        const std::string id = "0a1b2c3d-0000-4000-8000-0000000000" + std::to_string(n++);
        Data file = record(id, "720p", 5 * unit / 2, true);
        emulator_.storage().setFaults(c.faults);
        Ending ending = runBounded(id);
        EXPECT_TRUE(ending.uploaded) << c.what;
        EXPECT_EQ(object(id + "/imported.mp4"), text(file)) << c.what;
        EXPECT_EQ(emulator_.storage().resentAcknowledgedBytes(), 0) << c.what;
    }
}

TEST_F(PDataRangeUploadingOperationTest, AServerErrorKeepsTheSessionAndResumesFromWhatItHolds) {
    struct Case {
        const char* what;
        std::function<void(const std::string& id)> arrange;
    };
    const Case cases[] = {
        {"503 twice before every chunk",
         [this](const std::string&) {
             StorageResource::Faults faults;
             faults.unavailablePerChunk = 2;
             emulator_.storage().setFaults(faults);
         }},
        {"500 once",
         [this](const std::string& id) {
             emulator_.server().addJSONReply(
                 "PUT",
                 "/uploads/" + id + "/imported.mp4/session/" +
                     std::to_string(emulator_.storage().sessionsOpened() + 1),
                 500, {{"error", "oops"}}, {}, 1);
         }},
        {"502 once",
         [this](const std::string& id) {
             emulator_.server().addJSONReply(
                 "PUT",
                 "/uploads/" + id + "/imported.mp4/session/" +
                     std::to_string(emulator_.storage().sessionsOpened() + 1),
                 502, {{"error", "gateway"}}, {}, 1);
         }},
        {"504 once",
         [this](const std::string& id) {
             emulator_.server().addJSONReply(
                 "PUT",
                 "/uploads/" + id + "/imported.mp4/session/" +
                     std::to_string(emulator_.storage().sessionsOpened() + 1),
                 504, {{"error", "gateway timeout"}}, {}, 1);
         }},
    };
    int n = 50;
    for (const Case& c : cases) {
        const std::string id = "0a1b2c3d-0000-4000-8000-0000000000" + std::to_string(n++);
        Data file = record(id, "720p", 5 * unit / 2, true);
        const std::size_t sessionsBefore = emulator_.storage().sessionsOpened();
        const std::int64_t resentBefore = emulator_.storage().resentAcknowledgedBytes();
        c.arrange(id);
        Ending ending = runBounded(id);
        emulator_.storage().setFaults({});
        EXPECT_TRUE(ending.uploaded) << c.what;
        EXPECT_EQ(object(id + "/imported.mp4"), text(file)) << c.what;
        EXPECT_EQ(emulator_.storage().sessionsOpened() - sessionsBefore, 1u) << c.what;
        EXPECT_EQ(emulator_.storage().resentAcknowledgedBytes() - resentBefore, 0) << c.what;
    }
    EXPECT_GE(emulator_.storage().refusedRequests(), 2u * 3);
}

TEST_F(PDataRangeUploadingOperationTest,
       StorageThatRefusesEveryChunkGetsAFewTriesEachLaterThenTheLane) {
    // A server error keeps the session; a refusal of the chunk as made (400) replaces it. Either
    // way a session opened anew is no progress, so the operation gives the lane away.
    int n = 70;
    for (int status : {503, 400}) {
        SCOPED_TRACE(status);
        const std::string id = "0a1b2c3d-0000-4000-8000-0000000000" + std::to_string(n++);
        record(id, "720p", 3 * unit, true);
        const std::size_t sessionsBefore = emulator_.storage().sessionsOpened();
        const std::size_t arrivalsBefore = emulator_.storage().chunkArrivals().size();
        StorageResource::Faults faults;
        faults.refuseEveryChunk = status;
        emulator_.storage().setFaults(faults);
        Ending ending = runBounded(id);
        emulator_.storage().setFaults({});
        EXPECT_TRUE(ending.finished);
        EXPECT_TRUE(ending.deferred);
        std::vector<std::int64_t> arrivals = emulator_.storage().chunkArrivals();
        arrivals.erase(arrivals.begin(),
                       arrivals.begin() + static_cast<std::ptrdiff_t>(arrivalsBefore));
        ASSERT_EQ(arrivals.size(),
                  static_cast<std::size_t>(PDataRangeUploadingOperation::failuresBeforeBackOff));
        // On the emulator's clock, each refusal is followed by a longer quiet spell.
        for (std::size_t i = 1; i < arrivals.size(); ++i) {
            const double pause = PDataRangeUploadingOperation::backOffPause(static_cast<int>(i));
            EXPECT_GE(arrivals[i] - arrivals[i - 1], static_cast<std::int64_t>(pause * 1000))
                << "after refusal " << i;
        }
        const std::size_t sessions = emulator_.storage().sessionsOpened() - sessionsBefore;
        if (status == 503)
            EXPECT_EQ(sessions, 1u);
        else
            EXPECT_LE(sessions, arrivals.size());
    }
}

TEST_F(PDataRangeUploadingOperationTest, ARecordGoneBeforeTheStartIsReportedAsRemoved) {
    auto operation =
        std::make_shared<PDataRangeUploadingOperation>("0a1b2c3d-0000-4000-8000-000000000060");
    auto ending = endingOf(*operation);
    operation->main();
    EXPECT_TRUE(ending->cancelled);
    EXPECT_FALSE(ending->deferred);
    EXPECT_FALSE(ending->error);
}

TEST_F(PDataRangeUploadingOperationTest, AResumedUploadAsksTheSessionBeforeSendingMore) {
    struct Case {
        const char* what;
        std::function<std::int64_t(std::int64_t stored)> recorded;  // the record's count
        std::size_t sessions;
    };
    const Case cases[] = {
        {"the record lags behind", [](std::int64_t stored) { return stored - unit; }, 1},
        {"the record runs ahead", [](std::int64_t stored) { return stored + unit; }, 1},
        {"the record exceeds the file", [](std::int64_t) { return 10 * unit; }, 2},
    };
    int n = 20;
    for (const Case& c : cases) {
        const std::string id = "0a1b2c3d-0000-4000-8000-0000000000" + std::to_string(n++);
        Data file = record(id, "720p", 4 * unit + 1000, true);
        const std::size_t sessionsBefore = emulator_.storage().sessionsOpened();
        const std::int64_t resentBefore = emulator_.storage().resentAcknowledgedBytes();
        // Killed while the third chunk was on its way, after the storage kept it.
        interruptAtChunk(id, 3, StorageResource::Hold::afterStoring);
        PNUploadingStateManager::shared().updateDataUploaded(id, c.recorded(3 * unit),
                                                             PNTokenObject::sharedInstance());
        Ending ending = runBounded(id);
        EXPECT_TRUE(ending.uploaded) << c.what;
        EXPECT_EQ(object(id + "/imported.mp4"), text(file)) << c.what;
        EXPECT_EQ(emulator_.storage().resentAcknowledgedBytes() - resentBefore, 0) << c.what;
        EXPECT_EQ(emulator_.storage().sessionsOpened() - sessionsBefore, c.sessions) << c.what;
    }
}

TEST_F(PDataRangeUploadingOperationTest, ASessionTheStorageForgotIsReplaced) {
    const std::string id = "0a1b2c3d-0000-4000-8000-000000000030";
    Data file = record(id, "720p", 3 * unit, true);
    interruptAtChunk(id, 2, StorageResource::Hold::beforeStoring);
    emulator_.storage().expireSessions();
    Ending ending = runBounded(id);
    ASSERT_TRUE(ending.finished) << "the upload never got past the expired session";
    EXPECT_TRUE(ending.uploaded);
    EXPECT_EQ(emulator_.storage().sessionsOpened(), 2u);
    EXPECT_EQ(object(id + "/imported.mp4"), text(file));
}

TEST_F(PDataRangeUploadingOperationTest,
       UploadDescriptionFailuresKeepTheRecordUnlessTheVideoIsGone) {
    struct Case {
        unsigned status;
        bool removed;
    };
    int n = 40;
    for (const Case& c : {Case{404, true}, Case{401, false}, Case{500, false}, Case{502, false},
                          Case{503, false}}) {
        const std::string id = "0a1b2c3d-0000-4000-8000-0000000000" + std::to_string(n++);
        record(id, "720p", 1000, true);
        const std::string path = *PCacheManager::getInstance().pathForVideoCache(id, "720p");
        emulator_.server().addJSONReply("GET", "/v1/videos/" + id + "/signedUrl", c.status,
                                        {{"error", "no"}});
        Ending ending = runBounded(id);
        ASSERT_TRUE(ending.finished) << c.status;
        EXPECT_FALSE(ending.cancelled) << c.status;  // nobody asked to cancel
        ASSERT_TRUE(ending.error) << c.status;
        EXPECT_EQ(ending.deferred, !c.removed) << c.status;
        EXPECT_EQ(stored(id) == nullptr, c.removed) << c.status;
        EXPECT_EQ(platform::FileManager::defaultManager().fileExists(path), !c.removed) << c.status;
    }
}

// The media file stays open from range to range, yet each range carries what the file's path
// names when that range is read.
TEST_F(PDataRangeUploadingOperationTest, AFileChangedBetweenRangesIsSentAsItStandsThen) {
    struct Case {
        const char* change;
        // Changes the file at the path; returns what it holds now.
        std::function<Data(const std::string& path, const Data& file)> apply;
    };
    const Case cases[] = {
        {"replaced",
         [](const std::string& path, const Data& file) {
             Data other = file;
             for (auto& byte : other) byte = static_cast<std::uint8_t>(~byte);
             EXPECT_TRUE(platform::FileManager::defaultManager().writeAtomically(path, other).ok());
             return other;
         }},
        {"truncated",
         [](const std::string& path, const Data& file) {
             std::filesystem::resize_file(path, 3 * unit / 2);
             return Data(file.begin(), file.begin() + 3 * unit / 2);
         }},
    };
    int n = 70;
    for (const Case& c : cases) {
        const std::string id = "0a1b2c3d-0000-4000-8000-0000000000" + std::to_string(n++);
        const Data file = record(id, "720p", 3 * unit, true);
        const std::string path = *PCacheManager::getInstance().pathForVideoCache(id, "720p");
        Data now;
        Ending ending = runHoldingTheFirstRange(
            id, [&](PDataRangeUploadingOperation&) { now = c.apply(path, file); });
        EXPECT_TRUE(ending.uploaded) << c.change;
        // The first range was read before the change, the others after it.
        Data expected(file.begin(), file.begin() + unit);
        expected.insert(expected.end(), now.begin() + unit, now.end());
        EXPECT_EQ(object(id + "/imported.mp4"), text(expected)) << c.change;
        EXPECT_EQ(testing::descriptorsOpenOn(path), 0) << c.change;
    }
}

TEST_F(PDataRangeUploadingOperationTest, TheMediaFileIsLetGoHoweverTheUploadEnds) {
    struct Case {
        const char* ending;
        std::function<void(PDataRangeUploadingOperation&, const std::string& id,
                           const std::string& path)>
            whileHeld;
        std::function<bool(const Ending&)> endedSo;
    };
    const Case cases[] = {
        {"uploaded", [](auto&, const auto&, const auto&) {},
         [](const Ending& ending) {
             return ending.uploaded;
         }},
        {"cancelled", [](auto& operation, const auto&, const auto&) { operation.cancel(); },
         [](const Ending& ending) {
             return ending.cancelled;
         }},
        {"failed: the file is gone",
         [](auto&, const auto&, const std::string& path) { std::filesystem::remove(path); },
         [](const Ending& ending) {
             return ending.error && !ending.deferred;
         }},
        {"deferred: the storage keeps failing",
         [this](auto&, const std::string& id, const auto&) {
             emulator_.server().addJSONReply(
                 "PUT",
                 "/uploads/" + id + "/imported.mp4/session/" +
                     std::to_string(emulator_.storage().sessionsOpened()),
                 500, {{"error", "down"}});
         },
         [](const Ending& ending) {
             return ending.deferred;
         }},
    };
    int n = 80;
    for (const Case& c : cases) {
        const std::string id = "0a1b2c3d-0000-4000-8000-0000000000" + std::to_string(n++);
        record(id, "720p", 3 * unit, true);
        const std::string path = *PCacheManager::getInstance().pathForVideoCache(id, "720p");
        Ending ending = runHoldingTheFirstRange(id, [&](PDataRangeUploadingOperation& operation) {
            EXPECT_EQ(testing::descriptorsOpenOn(path), 1) << c.ending;
            c.whileHeld(operation, id, path);
        });
        EXPECT_TRUE(ending.finished) << c.ending;
        EXPECT_TRUE(c.endedSo(ending)) << c.ending;
        EXPECT_EQ(testing::descriptorsOpenOn(path), 0) << c.ending;
    }
}

TEST_F(PDataRangeUploadingOperationTest, RepeatedFailuresGiveTheLaneAwayWithTheRecordIntact) {
    const std::string id = "0a1b2c3d-0000-4000-8000-000000000050";
    record(id, "720p", 1000, true);
    emulator_.server().addJSONReply("POST", "/uploads/" + id + "/imported.mp4", 503,
                                    {{"error", "busy"}});
    Ending ending = runBounded(id);
    ASSERT_TRUE(ending.finished) << "the operation kept the lane";
    EXPECT_TRUE(ending.deferred);
    EXPECT_FALSE(ending.cancelled);
    EXPECT_EQ(emulator_.server()
                  .requestLog()
                  .requestsFor("POST", "/uploads/" + id + "/imported.mp4")
                  .size(),
              static_cast<std::size_t>(PDataRangeUploadingOperation::failuresBeforeBackOff));
    EXPECT_TRUE(stored(id));
}

TEST_F(PDataRangeUploadingOperationTest, TwoOperationsForOneRecordDoTheWorkOnce) {
    const std::string id = "0a1b2c3d-0000-4000-8000-000000000060";
    Data file = record(id, "720p", 3 * unit, true);
    auto first = std::async(std::launch::async, [&] { return runBounded(id); });
    auto second = std::async(std::launch::async, [&] { return runBounded(id); });
    EXPECT_TRUE(first.get().uploaded);
    EXPECT_TRUE(second.get().uploaded);
    EXPECT_EQ(emulator_.storage().sessionsOpened(), 1u);
    EXPECT_EQ(emulator_.storage().resentAcknowledgedBytes(), 0);
    EXPECT_EQ(object(id + "/imported.mp4"), text(file));
}

TEST_F(PDataRangeUploadingOperationTest, AnOperationWaitingForItsRecordEndsWhenCancelled) {
    const std::string id = "0a1b2c3d-0000-4000-8000-000000000061";
    Data file = record(id, "720p", 2 * unit, true);
    Ending waiter;
    const Ending first = runHoldingTheFirstRange(id, [&](PDataRangeUploadingOperation&) {
        auto second = std::make_shared<PDataRangeUploadingOperation>(id);
        auto ending = endingOf(*second);
        auto done = std::async(std::launch::async, [second] { second->main(); });
        // The first still holds the record: only the cancel can end the second's wait.
        cancelAndAwait(*second, done, std::chrono::seconds(30));
        waiter = *ending;
    });
    EXPECT_TRUE(waiter.cancelled);
    EXPECT_TRUE(first.uploaded);
    EXPECT_EQ(emulator_.storage().sessionsOpened(), 1u);
    EXPECT_EQ(object(id + "/imported.mp4"), text(file));
}

}  // namespace
}  // namespace pindle::legacy
