#include "PindleCore/api/PNVideoAPI.hpp"

#include <gtest/gtest.h>

#include <thread>

#include "EmulatorFixture.hpp"
#include "PindleCore/caches/PNVideoCache.hpp"
#include "PindleCore/model/PNBackendDate.hpp"
#include "PindleCore/model/PNError.hpp"
#include "PindleCore/model/PNTokenObject.hpp"
#include "platform/foundation/Json.hpp"

namespace pindle {
namespace {

using platform::Error;
using platform::Value;
using testing::Outcome;

using testing::eventually;

class PNVideoAPITest : public testing::EmulatorFixture {
  protected:
    void SetUp() override {
        EmulatorFixture::SetUp();
        authorize();
        PNVideoCache::shared().didReceiveMemoryWarning();
        firstID_ = emulator_.store().list({}).videos.front().id;
        emulator_.server().requestLog().clear();
    }

    emulator::Request onlyRequest() {
        auto requests = emulator_.server().requestLog().requests();
        EXPECT_EQ(requests.size(), 1u);
        return requests.empty() ? emulator::Request{} : requests.front();
    }

    // Runs `call`, waits for its completion, and returns the one request it sent.
    emulator::Request sent(const std::function<void(std::function<void()> done)>& call) {
        emulator_.server().requestLog().clear();
        Outcome<bool> outcome;
        call([&] { outcome.set(true); });
        outcome.wait();
        return onlyRequest();
    }

    std::string firstID_;
};

TEST_F(PNVideoAPITest, ReadEndpointsSendExactlyTheirRequests) {
    PNVideoAPI& api = PNVideoAPI::shared();
    auto videos = [](std::function<void()> done) {
        return [done](const std::shared_ptr<PNVideosResponse>&, const std::optional<Error>&) {
            done();
        };
    };
    const platform::Date date = *parseDate("2019-03-01T10:20:30.456Z");
    struct Case {
        const char* name;
        std::function<void(std::function<void()>)> call;
        std::string method;
        std::string target;
    };
    const std::string id = firstID_;
    const Case cases[] = {
        {"one video",
         [&](auto done) {
             api.video(id, [done](const std::shared_ptr<PNVideo>&, const std::optional<Error>&) {
                 done();
             });
         },
         "GET", "/v1/videos/" + id + "?"},
        {"count",
         [&](auto done) {
             api.videosCountByTags({"a", "b"}, {{"k", "v"}},
                                   [done](std::int64_t, const std::optional<Error>&) { done(); });
         },
         "GET", "/v1/videos?limit=100&metadata=eyJrIjoidiJ9&offset=0&tags=WyJhIiwiYiJd"},
        {"fresh filter",
         [&](auto done) { api.videosByFilter(PNVideoFilter(), "desc", videos(done)); }, "GET",
         "/v1/"
         "videos?identity=&limit=10&metadata=e30%3D&offset=0&sortOrder=desc&tags=W10%3D&title="},
        {"tags, page 3 of 20",
         [&](auto done) { api.videosByTags({}, {}, 3, 20, "asc", videos(done)); }, "GET",
         "/v1/videos?limit=20&metadata=e30%3D&offset=40&sortOrder=asc&tags=W10%3D"},
        {"tags, page 0", [&](auto done) { api.videosByTags({}, {}, 0, 20, "asc", videos(done)); },
         "GET", "/v1/videos?limit=20&metadata=e30%3D&offset=0&sortOrder=asc&tags=W10%3D"},
        {"tags, page -2", [&](auto done) { api.videosByTags({}, {}, -2, 5, "asc", videos(done)); },
         "GET", "/v1/videos?limit=5&metadata=e30%3D&offset=0&sortOrder=asc&tags=W10%3D"},
        {"identity", [&](auto done) { api.videosByIdentity("me", 2, 5, "asc", videos(done)); },
         "GET", "/v1/videos?identity=me&limit=5&offset=5&sortOrder=asc"},
        {"identifiers",
         [&](auto done) {
             api.videosByIds({"x", "y"}, videos(done));
         },
         "GET", "/v1/videos?ids=WyJ4IiwieSJd"},
        {"sync",
         [&](auto done) {
             api.syncVideos(date, {"a", "b"}, {{"k", "v"}},
                            [done](const Value&, const std::optional<Error>&) { done(); });
         },
         "GET",
         "/v1/videos/sync?date=2019-03-01T10%3A20%3A30.456Z&metadata%5Bk%5D=v&tags%5B%5D=a&"
         "tags%5B%5D=b"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        emulator::Request request = sent(c.call);
        EXPECT_EQ(request.method, c.method);
        EXPECT_EQ(request.target, c.target);
        EXPECT_EQ(request.header("Authorization"), "Bearer " + sessionToken_);
        EXPECT_EQ(request.body, "");
    }

    emulator::Request deletion = sent([&](auto done) {
        api.deleteBy(id, [done](const Value&, const std::optional<Error>&) { done(); });
    });
    EXPECT_EQ(deletion.method, "DELETE");
    EXPECT_EQ(deletion.target, "/v1/videos/" + id);
    EXPECT_EQ(platform::Json::parse(deletion.body), Value(platform::Dictionary{}));
    EXPECT_FALSE(emulator_.store().get(id));
}

TEST_F(PNVideoAPITest, CompletionRunsBeforeTheRecordsReachTheCache) {
    // A record no earlier test fetched: their calls cache after their completions, so one of
    // theirs could still land in the cache while this test runs.
    emulator::VideoRecord record = *emulator_.store().get(firstID_);
    record.id = "fetched-only-here";
    emulator_.store().put(record);
    Outcome<std::shared_ptr<PNVideo>> outcome;
    std::shared_ptr<PNVideo> cachedDuringCompletion;
    PNVideoAPI::shared().video(
        record.id, [&](const std::shared_ptr<PNVideo>& video, const std::optional<Error>& error) {
            EXPECT_FALSE(error);
            cachedDuringCompletion = PNVideoCache::shared().getCachedVideo(record.id);
            outcome.set(video);
        });
    std::shared_ptr<PNVideo> video = outcome.wait();
    ASSERT_TRUE(video);
    EXPECT_EQ(video->videoID(), record.id);
    EXPECT_EQ(cachedDuringCompletion, nullptr);
    EXPECT_TRUE(
        eventually([&] { return PNVideoCache::shared().getCachedVideo(record.id) == video; }));

    Outcome<std::int64_t> count;
    PNVideoAPI::shared().videosCountByTags(
        {}, {}, [&](std::int64_t total, const std::optional<Error>&) { count.set(total); });
    EXPECT_EQ(count.wait(), static_cast<std::int64_t>(emulator_.store().size()));
    const std::string lastID = emulator_.store().list({}).videos.back().id;
    EXPECT_TRUE(
        eventually([&] { return PNVideoCache::shared().getCachedVideo(lastID) != nullptr; }));
}

TEST_F(PNVideoAPITest, FailedAndUnmappableRepliesCompleteWithoutRecords) {
    emulator_.server().addJSONReply("GET", "/v1/videos", 500, {{"error", "boom"}}, {}, 1);
    Outcome<std::pair<std::int64_t, std::optional<Error>>> count;
    PNVideoAPI::shared().videosCountByTags(
        {}, {}, [&](std::int64_t total, const std::optional<Error>& error) {
            count.set({total, error});
        });
    EXPECT_EQ(count.wait().first, 0);
    ASSERT_TRUE(count.wait().second);
    EXPECT_EQ(count.wait().second->userInfo().at("statusCode"), Value(500));

    // A success status whose body yields no list fails the count as it fails the lists.
    emulator_.server().addReply("GET", "/v1/videos", emulator::Response::text(200, "<html/>"), 1);
    Outcome<std::pair<std::int64_t, std::optional<Error>>> unmappable;
    PNVideoAPI::shared().videosCountByTags(
        {}, {}, [&](std::int64_t total, const std::optional<Error>& error) {
            unmappable.set({total, error});
        });
    EXPECT_EQ(unmappable.wait().first, 0);
    ASSERT_TRUE(unmappable.wait().second);
    EXPECT_EQ(PNError::fromPlatformError(*unmappable.wait().second), PNError(PNError::unknown));

    // An accepted reply that yields no record fails a read as plainly; a write so answered
    // was still taken by the backend, so it reports no error.
    const std::string one = "/v1/videos/" + firstID_;
    struct Case {
        const char* label;
        const std::string& path;
        const char* method;
        std::function<void(std::function<void(bool gotRecord, std::optional<Error>)>)> call;
        bool fails;
    };
    const auto token = PNTokenObject::sharedInstance();
    const Case cases[] = {
        {"video", one, "GET",
         [&](auto done) {
             PNVideoAPI::shared().video(
                 firstID_, [done](const auto& video, const auto& error) { done(!!video, error); });
         },
         true},
        {"list", "/v1/videos", "GET",
         [&](auto done) {
             PNVideoAPI::shared().videosByIds(
                 {firstID_}, [done](const auto& list, const auto& error) { done(!!list, error); });
         },
         true},
        {"update", one, "PUT",
         [&](auto done) {
             PNVideoAPI::shared().updateVideo(
                 firstID_, std::vector<std::string>{"720p"}, token,
                 [done](const auto& video, const auto& error) { done(!!video, error); });
         },
         false},
    };
    const std::pair<const char*, emulator::Response> replies[] = {
        {"not JSON", emulator::Response::text(200, "<html/>")},
        {"JSON of another shape", emulator::Response::json(200, {{"id", 5}})},
    };
    for (const Case& c : cases) {
        for (const auto& [body, reply] : replies) {
            SCOPED_TRACE(std::string(c.label) + ", " + body);
            emulator_.server().addReply(c.method, c.path, reply, 1);
            Outcome<std::pair<bool, std::optional<Error>>> outcome;
            c.call([&](bool gotRecord, std::optional<Error> error) {
                outcome.set({gotRecord, std::move(error)});
            });
            EXPECT_FALSE(outcome.wait().first);
            if (c.fails) {
                ASSERT_TRUE(outcome.wait().second);
                EXPECT_EQ(PNError::fromPlatformError(*outcome.wait().second),
                          PNError(PNError::unknown));
            } else {
                EXPECT_FALSE(outcome.wait().second);
            }
        }
    }
    EXPECT_EQ(PNVideoCache::shared().getCachedVideo(firstID_), nullptr);
}

// A list is read while its reply arrives. In slices on a slow link it gives what it gives at
// once; cut short, or answered with an error page, it ends as a reply read whole would.
TEST_F(PNVideoAPITest, AListReadWhileItArrivesEndsAsTheWholeReplyWould) {
    using Listed = std::pair<std::shared_ptr<PNVideosResponse>, std::optional<Error>>;
    const auto list = [] {
        Outcome<Listed> outcome;
        PNVideoAPI::shared().videosByTags({}, {}, 1, 100, "desc",
                                          [&](const std::shared_ptr<PNVideosResponse>& response,
                                              const std::optional<Error>& error) {
                                              outcome.set({response, error});
                                          });
        return outcome.wait();
    };
    const auto records = [](const std::shared_ptr<PNVideosResponse>& response) {
        std::vector<platform::Dictionary> encoded;
        for (const auto& video : response->videos()) encoded.push_back(video->encode());
        return encoded;
    };
    const Listed atOnce = list();
    ASSERT_TRUE(atOnce.first) << (atOnce.second ? atOnce.second->description() : "");
    ASSERT_GE(atOnce.first->videos().size(), 3u);
    // A few slices, a tenth of a second apart: a record's reply is some 600 bytes or more.
    const std::size_t bytesPerSecond = atOnce.first->videos().size() * 600 * 2;
    emulator_.server().addFault("/v1/videos", emulator::Fault::throttle(bytesPerSecond).times(1));
    const Listed slowly = list();
    ASSERT_TRUE(slowly.first);
    EXPECT_EQ(records(slowly.first), records(atOnce.first));
    EXPECT_EQ(slowly.first->totalCount(), atOnce.first->totalCount());

    // Cut in the middle of a record: the connection dropped, or a whole reply that is damaged.
    emulator_.server().addFault("/v1/videos", emulator::Fault::dropAfter(300).times(1));
    const Listed dropped = list();
    EXPECT_FALSE(dropped.first);
    ASSERT_TRUE(dropped.second);
    EXPECT_EQ(dropped.second->code(), platform::URLError::networkConnectionLost);
    const std::string cut = R"([{"id":"a","createdAt":"2019-03-01T10:20:30.456Z",)"
                            R"("shotOn":"2019-02-28T08:00:00.000Z"},{"id":"b","creat)";
    emulator_.server().addReply("GET", "/v1/videos",
                                emulator::Response::text(200, cut, "application/json"), 1);
    const Listed damaged = list();
    EXPECT_FALSE(damaged.first);
    ASSERT_TRUE(damaged.second);
    EXPECT_EQ(PNError::fromPlatformError(*damaged.second), PNError(PNError::unknown));

    // An error page's first line, however long the page, and none of a list.
    const std::string longLine(5000, 'x');
    const std::pair<std::string, std::string> pages[] = {
        {"busy, try later\r\n" + longLine, "busy, try later"},
        {longLine + "\n", longLine.substr(0, 200)},
        {"[]", "[]"},
    };
    for (const auto& [page, firstLine] : pages) {
        emulator_.server().addReply("GET", "/v1/videos", emulator::Response::text(503, page), 1);
        const Listed refused = list();
        EXPECT_FALSE(refused.first);
        ASSERT_TRUE(refused.second);
        EXPECT_EQ(refused.second->userInfo().at("statusCode"), Value(503));
        EXPECT_EQ(refused.second->userInfo().at("body"), Value(firstLine));
        EXPECT_EQ(refused.second->userInfo().at("method"), Value("GET"));
    }
}

TEST_F(PNVideoAPITest, IdentifiersThatCannotStandInAPathAreRefusedWithoutARequest) {
    const std::thread::id caller = std::this_thread::get_id();
    for (const char* id : {"", ".", "..", "a/../b", "a?b", "a#b", "a%2F", "a b", "caf\xC3\xA9"}) {
        SCOPED_TRACE(id);
        Outcome<std::optional<Error>> outcome;
        PNVideoAPI::shared().deleteBy(
            id, [&](const Value&, const std::optional<Error>& error) { outcome.set(error); });
        ASSERT_TRUE(outcome.wait());
        EXPECT_EQ(outcome.wait()->code(), platform::URLError::badURL);
        EXPECT_NE(outcome.thread(), caller);
    }
    EXPECT_EQ(requestsBesidesAProbe(), 0u);
    EXPECT_EQ(emulator_.store().size(), 25u);
}

TEST_F(PNVideoAPITest, WritesSendTheirBodiesForTheTokenOnly) {
    PNVideoAPI& api = PNVideoAPI::shared();
    const auto token = PNTokenObject::sharedInstance();
    const platform::Date shot = *parseDate("2019-03-01T10:20:30.000Z");
    auto videoDone = [](std::function<void()> done) {
        return [done](const std::shared_ptr<PNVideo>&, const std::optional<Error>&) {
            done();
        };
    };
    auto resultDone = [](std::function<void()> done) {
        return [done](const Value&, const std::optional<Error>&) {
            done();
        };
    };

    emulator::Request create = sent([&](auto done) {
        api.createVideo("new-id", "Title", shot, platform::Location(52.5, 13.25), 720, 1280, {}, {},
                        token, videoDone(done));
    });
    EXPECT_EQ(create.method, "POST");
    EXPECT_EQ(create.target, "/v1/videos");
    EXPECT_EQ(platform::Json::parse(create.body),
              Value(platform::Dictionary{{"id", "new-id"},
                                         {"title", "Title"},
                                         {"shotOn", "2019-03-01T10:20:30.000Z"},
                                         {"lat", 52.5},
                                         {"lng", 13.25},
                                         {"width", 1280},
                                         {"height", 720},
                                         {"tags", platform::Array{}},
                                         {"metadata", platform::Dictionary{}}}));

    emulator::Request anonymous = sent([&](auto done) {
        api.createVideo("T", shot, platform::Location(0, 0), 1, 1, {"a"}, {{"k", "v"}}, token,
                        videoDone(done));
    });
    const auto anonymousBody = platform::Json::parse(anonymous.body);
    ASSERT_TRUE(anonymousBody);
    EXPECT_EQ(anonymousBody->find("id"), nullptr);

    emulator::Request convert = sent([&](auto done) {
        api.startConvertingVideo("new-id", "file.mov", token, resultDone(done));
    });
    EXPECT_EQ(convert.target, "/v1/videos/new-id/convert");
    EXPECT_EQ(platform::Json::parse(convert.body),
              Value(platform::Dictionary{{"filename", "file.mov"}, {"prefix", "true"}}));

    emulator::Request urls =
        sent([&](auto done) { api.uploadingURLs("new-id", false, token, resultDone(done)); });
    EXPECT_EQ(urls.method, "GET");
    EXPECT_EQ(urls.target, "/v1/videos/new-id/signedUrl?isImported=false");
    EXPECT_EQ(urls.body, "");

    emulator::Request resolutions = sent([&](auto done) {
        api.updateVideo("new-id", std::vector<std::string>{"720p"}, token, videoDone(done));
    });
    EXPECT_EQ(resolutions.method, "PUT");
    EXPECT_EQ(platform::Json::parse(resolutions.body),
              Value(platform::Dictionary{{"mp4", platform::Array{"720p"}}}));

    // Not the token: nothing is sent and the call completes once with PNError unknown.
    emulator_.server().requestLog().clear();
    Outcome<std::optional<Error>> refused;
    api.updateVideo("new-id", platform::Dictionary{{"tags", platform::Array{}}},
                    std::make_shared<platform::Object>(),
                    [&](const std::shared_ptr<PNVideo>& video, const std::optional<Error>& error) {
                        EXPECT_EQ(video, nullptr);
                        refused.set(error);
                    });
    ASSERT_TRUE(refused.wait());
    EXPECT_EQ(PNError::fromPlatformError(*refused.wait()), PNError(PNError::unknown));
    EXPECT_EQ(requestsBesidesAProbe(), 0u);
}

TEST_F(PNVideoAPITest, CallsWithoutTheNeededTokenSendNothing) {
    PNSession::current()->setSessionToken(std::nullopt);
    Outcome<std::optional<Error>> outcome;
    PNVideoAPI::shared().video(
        firstID_, [&](const std::shared_ptr<PNVideo>&, const std::optional<Error>& error) {
            outcome.set(error);
        });
    ASSERT_TRUE(outcome.wait());
    EXPECT_EQ(PNError::fromPlatformError(*outcome.wait()), PNError(PNError::sessionNotStarted));
    EXPECT_EQ(requestsBesidesAProbe(), 0u);
}

}  // namespace
}  // namespace pindle
