#include "tools/emulator/StorageResource.hpp"

#include <gtest/gtest.h>

#include "TestHttpClient.hpp"
#include "tools/emulator/BackendEmulator.hpp"

namespace pindle::emulator::test {
namespace {

constexpr std::int64_t unit = 256 * 1024;

class StorageResourceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        BackendEmulator::Options options;
        options.seed = false;
        emulator_ = std::make_unique<BackendEmulator>(options);
        ASSERT_TRUE(emulator_->start());
        client_ = std::make_unique<TestHttpClient>(emulator_->port());
        auto opened =
            client_->request("POST", "/uploads/v1/imported.mp4", {{"x-goog-resumable", "start"}});
        ASSERT_EQ(opened.status, 201u);
        const std::string location = *opened.headers.get("Location");
        session_ = location.substr(location.find("/uploads/"));
        for (std::int64_t i = 0; i < 3 * unit; ++i)
            file_.push_back(static_cast<char>('a' + i % 23));
    }

    // A chunk of file_ from `first` of `length` bytes; the total is named when `last`.
    ClientResponse chunk(std::int64_t first, std::int64_t length, bool last = false,
                         std::chrono::milliseconds timeout = TestHttpClient::defaultTimeout) {
        const std::string range = "bytes " + std::to_string(first) + "-" +
                                  std::to_string(first + length - 1) + "/" +
                                  (last ? std::to_string(file_.size()) : std::string("*"));
        return client_->request(
            "PUT", session_, {{"Content-Range", range}},
            file_.substr(static_cast<std::size_t>(first), static_cast<std::size_t>(length)),
            timeout);
    }
    ClientResponse query(const std::string& total = "*") {
        return client_->request("PUT", session_, {{"Content-Range", "bytes */" + total}});
    }
    static std::string range(const ClientResponse& response) {
        return response.headers.get("Range").value_or("(none)");
    }
    StorageResource& storage() { return emulator_->storage(); }

    std::unique_ptr<BackendEmulator> emulator_;
    std::unique_ptr<TestHttpClient> client_;
    std::string session_;
    std::string file_;
};

TEST_F(StorageResourceTest, AnswersWithWhatItPersistedAndCompletesOnTheTotal) {
    auto empty = query();
    EXPECT_EQ(empty.status, 308u);
    EXPECT_EQ(range(empty), "(none)");  // nothing persisted: no header at all

    auto first = chunk(0, unit);
    EXPECT_EQ(first.status, 308u);
    EXPECT_EQ(range(first), "bytes=0-262143");

    // A chunk that overlaps what is stored adds only its new bytes; one that leaves a gap adds
    // nothing. Both are told what the object holds.
    auto overlapping = chunk(unit / 2, unit);
    EXPECT_EQ(range(overlapping), "bytes=0-393215");
    auto beyond = chunk(2 * unit, unit / 4);
    EXPECT_EQ(range(beyond), "bytes=0-393215");

    auto status = query(std::to_string(file_.size()));
    EXPECT_EQ(status.status, 308u);
    EXPECT_EQ(range(status), "bytes=0-393215");

    auto final = chunk(3 * unit / 2, static_cast<std::int64_t>(file_.size()) - 3 * unit / 2, true);
    EXPECT_EQ(final.status, 200u);
    EXPECT_TRUE(storage().isComplete("v1/imported.mp4"));
    EXPECT_EQ(storage().object("v1/imported.mp4"), std::optional<std::string>(file_));
    EXPECT_EQ(query(std::to_string(file_.size())).status, 200u);
    // Half a chunk was sent again after the storage had acknowledged it.
    EXPECT_EQ(storage().resentAcknowledgedBytes(), unit / 2);
}

TEST_F(StorageResourceTest, FaultsActOutAPartialStoreAnOutageALostAnswerAndAnExpiry) {
    StorageResource::Faults faults;
    faults.persistShare = 0.5;
    faults.unavailable = 1;
    storage().setFaults(faults);
    EXPECT_EQ(chunk(0, 2 * unit).status, 503u);
    EXPECT_EQ(range(chunk(0, 2 * unit)), "bytes=0-262143");  // half of the chunk

    faults = {};
    faults.dropAfterStoring = 1;
    storage().setFaults(faults);
    auto lost = chunk(unit, unit);
    EXPECT_FALSE(lost.complete());  // stored, but the connection closed without an answer
    client_ = std::make_unique<TestHttpClient>(emulator_->port());
    EXPECT_EQ(range(query()), "bytes=0-524287");
    // The lost answer acknowledged nothing, so sending the chunk again is no fault.
    EXPECT_EQ(storage().resentAcknowledgedBytes(), 0);

    storage().expireSessions();
    EXPECT_EQ(query().status, 404u);
    EXPECT_EQ(chunk(2 * unit, unit).status, 404u);
    EXPECT_EQ(client_
                  ->request("PUT", "/uploads/v1/imported.mp4/session/99",
                            {{"Content-Range", "bytes */*"}})
                  .status,
              404u);
}

TEST_F(StorageResourceTest, UnavailabilityBeforeEachChunkAndRefusalsOfEveryChunkKeepTheSession) {
    StorageResource::Faults faults;
    faults.unavailablePerChunk = 2;
    storage().setFaults(faults);
    EXPECT_EQ(chunk(0, unit).status, 503u);
    EXPECT_EQ(query().status, 503u);
    EXPECT_EQ(range(query()), "(none)");
    EXPECT_EQ(range(chunk(0, unit)), "bytes=0-262143");
    // Counted afresh once a chunk has stored bytes.
    EXPECT_EQ(chunk(unit, unit).status, 503u);
    EXPECT_EQ(chunk(unit, unit).status, 503u);
    EXPECT_EQ(range(chunk(unit, unit)), "bytes=0-524287");

    faults = {};
    faults.refuseEveryChunk = 400;
    storage().setFaults(faults);
    EXPECT_EQ(chunk(2 * unit, unit, true).status, 400u);
    EXPECT_EQ(range(query()), "bytes=0-524287");  // status queries are answered as usual
    EXPECT_EQ(storage().refusedRequests(), 5u);
    EXPECT_EQ(storage().chunkArrivals().size(), 6u);  // chunks, not status queries
    EXPECT_EQ(storage().sessionsOpened(), 1u);
    EXPECT_EQ(storage().resentAcknowledgedBytes(), 0);
}

TEST_F(StorageResourceTest, AHeldChunkIsAnsweredNeverAndStoredAsAsked) {
    for (auto stage : {StorageResource::Hold::beforeStoring, StorageResource::Hold::afterStoring}) {
        SetUp();
        storage().holdChunk(2, stage);
        EXPECT_EQ(chunk(0, unit).status, 308u);
        // The answer never comes: the client stops waiting at once, the storage has the chunk.
        EXPECT_FALSE(chunk(unit, unit, false, std::chrono::milliseconds(1)).complete());
        EXPECT_TRUE(storage().waitUntilHeld(std::chrono::seconds(5)));
        client_ = std::make_unique<TestHttpClient>(emulator_->port());
        EXPECT_EQ(range(query()), stage == StorageResource::Hold::beforeStoring ? "bytes=0-262143"
                                                                                : "bytes=0-524287");
    }
}

}  // namespace
}  // namespace pindle::emulator::test
