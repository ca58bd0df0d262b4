#include "tools/emulator/VideosResource.hpp"

#include <regex>

#include "BackendTestFixture.hpp"

namespace pindle::emulator {
namespace {

using nlohmann::json;
using test::BackendTestFixture;

class VideosResourceTest : public BackendTestFixture {
  protected:
    void SetUp() override {
        BackendTestFixture::SetUp();
        putVideo("v1", {"a"}, {{"k", "v"}}, "alice", "Beach day");
        putVideo("v2", {"a", "b"}, {{"k", "w"}}, "bob", "City walk");
        putVideo("v3", {"b"}, {{"k", "v"}, {"x", "y"}}, "alice", "beach night");
        putVideo("v4", {}, {}, "carol", "Plain");
    }
};

TEST_F(VideosResourceTest, EveryCallNeedsAValidBearerToken) {
    const std::pair<const char*, const char*> endpoints[] = {
        {"GET", "/v1/videos?"},
        {"POST", "/v1/videos"},
        {"GET", "/v1/videos/sync?date=2024-01-01T00:00:00.000Z"},
        {"GET", "/v1/videos/v1?"},
        {"PUT", "/v1/videos/v1"},
        {"DELETE", "/v1/videos/v1"},
        {"GET", "/v1/videos/v1/signedUrl?isImported=false"},
        {"POST", "/v1/videos/v1/convert"},
    };
    auto expired = emulator->openSession("old");
    emulator->sessions().expire(expired);
    const std::pair<const char*, std::optional<std::string>> badHeaders[] = {
        {"no header", std::nullopt},
        {"unknown token", "Bearer nope"},
        {"expired session", "Bearer " + expired},
        {"other scheme", std::string("Token ") + apiToken},
        {"bare token", std::string(apiToken)},
    };
    for (const auto& [method, target] : endpoints) {
        for (const auto& [name, header] : badHeaders) {
            SCOPED_TRACE(std::string(method) + " " + target + ": " + name);
            Headers headers;
            if (header) {
                headers.add("Authorization", *header);
            }
            auto reply = client->request(method, target, headers, "{}");
            EXPECT_EQ(reply.status, 401);
        }
    }
    ASSERT_EQ(emulator->store().size(), 4u) << "a refused call changes nothing";

    auto session = emulator->openSession("alice");
    for (const auto& token : {std::string(apiToken), session}) {
        EXPECT_EQ(call("GET", "/v1/videos/v1?", std::nullopt, token).status, 200);
        EXPECT_EQ(call("GET", "/v1/videos?", std::nullopt, token).status, 200);
    }
}

TEST_F(VideosResourceTest, ListsByTheQueryFormsClientsSend) {
    struct Case {
        const char* name;
        std::string query;
        std::vector<std::string> ids;
        std::string totalCount;
    };
    const std::vector<Case> cases = {
        {"bare question mark", "", {"v1", "v2", "v3", "v4"}, "4"},
        {"count call with empty criteria",
         "limit=100&metadata=" + encoded(json::object()) +
             "&offset=0&tags=" + encoded(json::array()),
         {"v1", "v2", "v3", "v4"},
         "4"},
        {"one tag", "tags=" + encoded({"a"}), {"v1", "v2"}, "2"},
        {"every tag must match", "tags=" + encoded({"a", "b"}), {"v2"}, "1"},
        {"metadata entry", "metadata=" + encoded({{"k", "v"}}), {"v1", "v3"}, "2"},
        {"tags and metadata",
         "metadata=" + encoded({{"k", "v"}}) + "&tags=" + encoded({"b"}),
         {"v3"},
         "1"},
        {"title ignores case", "title=BEACH", {"v1", "v3"}, "2"},
        {"title with a space", "title=city%20walk", {"v2"}, "1"},
        {"identity", "identity=alice", {"v1", "v3"}, "2"},
        {"empty title and identity select nothing out",
         "identity=&limit=10&offset=0&sortOrder=asc&title=",
         {"v1", "v2", "v3", "v4"},
         "4"},
        {"identifiers", "ids=" + encoded({"v4", "v2", "missing"}), {"v2", "v4"}, "2"},
        {"descending", "sortOrder=desc", {"v4", "v3", "v2", "v1"}, "4"},
        {"page 2 of 2 per page", "limit=2&offset=2&sortOrder=asc", {"v3", "v4"}, "4"},
        {"page beyond the end", "limit=2&offset=10", {}, "4"},
        {"limit 0", "limit=0", {}, "4"},
        {"paged descending", "limit=1&offset=1&sortOrder=desc&tags=" + encoded({"a"}), {"v1"}, "2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name + std::string(": ") + c.query);
        auto reply = call("GET", "/v1/videos?" + c.query);
        ASSERT_EQ(reply.status, 200) << reply.body;
        EXPECT_EQ(ids(parse(reply)), c.ids);
        EXPECT_EQ(reply.headers.get("video-total-count"), c.totalCount);
    }
}

TEST_F(VideosResourceTest, RejectsMalformedListQueries) {
    const std::string cases[] = {
        "tags=not%20base64",
        "tags=" + encoded({{"k", "v"}}),  // an object where an array belongs
        "tags=" + encoded({1, 2}),
        "metadata=" + encoded({{"k", 1}}),
        "ids=" + encoded("v1"),
        "offset=-1",
        "offset=x",
        "limit=-5",
        "sortOrder=ASC",
    };
    for (const auto& query : cases) {
        SCOPED_TRACE(query);
        auto reply = call("GET", "/v1/videos?" + query);
        EXPECT_EQ(reply.status, 400);
        EXPECT_TRUE(parse(reply).contains("error"));
    }
}

TEST_F(VideosResourceTest, WritesVideosInTheBackendJSONForm) {
    auto reply = call("GET", "/v1/videos/v3?");
    ASSERT_EQ(reply.status, 200);
    auto video = parse(reply);
    EXPECT_EQ(video["id"], "v3");
    EXPECT_EQ(video["title"], "beach night");
    EXPECT_EQ(video["state"], "processed");
    EXPECT_TRUE(video["lat"].is_number());
    EXPECT_TRUE(video["lng"].is_number());
    EXPECT_TRUE(video["width"].is_number_integer());
    EXPECT_TRUE(video["height"].is_number_integer());
    EXPECT_EQ(video["tags"], json({"b"}));
    EXPECT_EQ(video["metadata"], json({{"k", "v"}, {"x", "y"}}));
    std::regex backendDate(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)");
    EXPECT_TRUE(std::regex_match(video["createdAt"].get<std::string>(), backendDate));
    EXPECT_TRUE(std::regex_match(video["shotOn"].get<std::string>(), backendDate));
    EXPECT_FALSE(video.contains("transcription")) << "absent rather than null";
    auto base = emulator->baseURL();
    EXPECT_EQ(video["thumbUrl"], base + "/media/v3/thumb.png");
    EXPECT_EQ(video["mp4Url"], json({{"720p", base + "/media/v3/720p.mp4"},
                                     {"540p", base + "/media/v3/540p.mp4"},
                                     {"360p", base + "/media/v3/360p.mp4"}}));

    // The media addresses are served by the emulator itself, with ranges.
    auto head = client->request("HEAD", "/media/v3/540p.mp4");
    ASSERT_EQ(head.status, 200);
    auto size = head.headers.get("Content-Length").value_or("");
    auto ranged = client->request("GET", "/media/v3/540p.mp4", {{"Range", "bytes=0-1"}});
    EXPECT_EQ(ranged.status, 206);
    EXPECT_EQ(ranged.headers.get("Content-Range"), "bytes 0-1/" + size);
    auto again = client->request("GET", "/media/v3/540p.mp4", {{"Range", "bytes=0-1"}});
    EXPECT_EQ(again.body, ranged.body) << "generated media is stable";
    auto thumbnail = client->request("GET", "/media/v3/thumb.png");
    EXPECT_EQ(thumbnail.headers.get("Content-Type"), "image/png");
    EXPECT_EQ(thumbnail.body.substr(1, 3), "PNG");
    EXPECT_EQ(client->request("GET", "/media/v3/1080p.mp4").status, 404);
    EXPECT_EQ(client->request("GET", "/media/nope/720p.mp4").status, 404);

    // Real movies replace the stand-in bytes of the resolutions they are given for.
    const std::string movie = std::string(3, '\0') + "\x18" + "ftypisom-a-real-movie";
    emulator->videos().setRenditions({{"540p", movie}});
    EXPECT_EQ(client->request("GET", "/media/v3/540p.mp4").body, movie);
    EXPECT_EQ(client->request("GET", "/media/v3/540p.mp4", {{"Range", "bytes=4-7"}}).body, "ftyp");
    EXPECT_NE(client->request("GET", "/media/v3/720p.mp4").body, movie);
}

TEST_F(VideosResourceTest, GetsUpdatesAndDeletesOneVideo) {
    EXPECT_EQ(call("GET", "/v1/videos/missing?").status, 404);

    now += 5000;
    auto updated =
        call("PUT", "/v1/videos/v1", json{{"tags", {"z", "a", "z"}}, {"metadata", {{"n", "1"}}}});
    ASSERT_EQ(updated.status, 200) << updated.body;
    EXPECT_EQ(parse(updated)["tags"], json({"a", "z"}));
    EXPECT_EQ(parse(updated)["metadata"], json({{"n", "1"}}));
    EXPECT_EQ(parse(updated)["title"], "Beach day") << "fields not sent stay";
    EXPECT_EQ(parse(updated)["updatedAt"], BackendDate::format(now));
    EXPECT_EQ(parse(call("GET", "/v1/videos/v1?"))["metadata"], json({{"n", "1"}}));

    const json badBodies[] = {
        {{"tags", "a"}},      {{"tags", {"a", 1}}},      {{"metadata", {{"n", 1}}}},
        {{"title", 3}},       {{"shotOn", "yesterday"}}, {{"lat", "1.0"}},
        {{"mp4", {"1080p"}}}, {{"state", "ready"}},      json::array(),
    };
    for (const auto& body : badBodies) {
        SCOPED_TRACE(body.dump());
        EXPECT_EQ(call("PUT", "/v1/videos/v1", body).status, 400);
    }
    EXPECT_EQ(parse(call("GET", "/v1/videos/v1?"))["tags"], json({"a", "z"}));
    EXPECT_EQ(call("PUT", "/v1/videos/missing", json::object()).status, 404);

    auto deleted = call("DELETE", "/v1/videos/v1", json::object());
    EXPECT_EQ(deleted.status, 204);
    EXPECT_TRUE(deleted.body.empty());
    EXPECT_EQ(call("GET", "/v1/videos/v1?").status, 404);
    EXPECT_EQ(call("DELETE", "/v1/videos/v1", json::object()).status, 404);
    EXPECT_EQ(client->request("GET", "/media/v1/720p.mp4").status, 404);
}

TEST_F(VideosResourceTest, CreatesVideosFromTheClientBody) {
    const json body = {
        {"id", "new-1"},  {"title", "Fresh"},      {"shotOn", "2024-05-31T10:20:30.000Z"},
        {"lat", 48.5},    {"lng", -2.25},          {"width", 720},
        {"height", 1280}, {"tags", json::array()}, {"metadata", json::object()}};
    auto token = emulator->openSession("erin");
    auto reply = call("POST", "/v1/videos", body, token);
    ASSERT_EQ(reply.status, 201) << reply.body;
    auto video = parse(reply);
    EXPECT_EQ(video["id"], "new-1");
    EXPECT_EQ(video["identity"], "erin");
    EXPECT_EQ(video["shotOn"], "2024-05-31T10:20:30.000Z");
    EXPECT_EQ(video["createdAt"], "2024-06-01T12:00:00.000Z");
    EXPECT_EQ(video["lat"], 48.5);
    EXPECT_EQ(video["lng"], -2.25);
    EXPECT_EQ(video["width"], 720);
    EXPECT_EQ(video["state"], "processing");
    EXPECT_EQ(video["mp4Url"], json::object()) << "no media before upload or conversion";
    EXPECT_EQ(call("GET", "/v1/videos/new-1?").status, 200);

    EXPECT_EQ(call("POST", "/v1/videos", body).status, 409) << "the id is taken";

    auto withoutID = body;
    withoutID.erase("id");
    auto generated = parse(call("POST", "/v1/videos", withoutID));
    EXPECT_TRUE(std::regex_match(
        generated["id"].get<std::string>(),
        std::regex("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}")));

    auto badDate = body;
    badDate["id"] = "new-2";
    badDate["shotOn"] = "2024-02-30T00:00:00.000Z";
    EXPECT_EQ(call("POST", "/v1/videos", badDate).status, 400);
    EXPECT_EQ(call("GET", "/v1/videos/new-2?").status, 404);
}

TEST_F(VideosResourceTest, HandsOutUploadURLsAndConverts) {
    auto created = call("POST", "/v1/videos", json{{"id", "up-1"}, {"title", "Upload"}});
    ASSERT_EQ(created.status, 201);

    auto reply = call("GET", "/v1/videos/up-1/signedUrl?isImported=false");
    ASSERT_EQ(reply.status, 200) << reply.body;
    auto description = parse(reply);
    EXPECT_TRUE(description["filename"].is_string());
    EXPECT_TRUE(description["sessionUrl"].is_string());
    EXPECT_TRUE(description["prefixUrl"].is_string());
    ASSERT_EQ(description["converted_video_urls"].size(), 3u);
    EXPECT_EQ(description["converted_video_urls"][0]["filename"], "720p.mp4");
    EXPECT_EQ(call("GET", "/v1/videos/up-1/signedUrl?isImported=maybe").status, 400);
    EXPECT_EQ(call("GET", "/v1/videos/none/signedUrl?isImported=true").status, 404);

    now += 1000;
    auto converted = call("POST", "/v1/videos/up-1/convert",
                          json{{"filename", "source.mp4"}, {"prefix", "true"}});
    ASSERT_EQ(converted.status, 200) << converted.body;
    auto video = parse(call("GET", "/v1/videos/up-1?"));
    EXPECT_EQ(video["state"], "processed");
    EXPECT_EQ(video["mp4Url"].size(), 3u);
    EXPECT_EQ(client->request("GET", "/media/up-1/360p.mp4", {{"Range", "bytes=0-0"}}).status, 206);
    EXPECT_EQ(call("POST", "/v1/videos/none/convert", json::object()).status, 404);

    // A client that uploaded a rendition itself reports it in place.
    call("POST", "/v1/videos", json{{"id", "up-2"}});
    auto reported = parse(call("PUT", "/v1/videos/up-2", json{{"mp4", {"720p"}}}));
    EXPECT_EQ(reported["state"], "processed");
    EXPECT_EQ(reported["mp4Url"].size(), 1u);
    EXPECT_TRUE(reported["mp4Url"].contains("720p"));
}

TEST_F(VideosResourceTest, SyncReportsChangesSinceADate) {
    const auto since = now.load();
    now += 1000;
    call("POST", "/v1/videos", json{{"id", "c1"}, {"tags", {"a"}}, {"metadata", {{"k", "v"}}}});
    call("POST", "/v1/videos", json{{"id", "c2"}, {"tags", {"b"}}});
    call("PUT", "/v1/videos/v1", json{{"title", "renamed"}});
    call("PUT", "/v1/videos/v2", json{{"title", "renamed"}});
    call("DELETE", "/v1/videos/v3", json::object());
    call("DELETE", "/v1/videos/v4", json::object());

    auto date = escape(BackendDate::format(since));
    struct Case {
        const char* name;
        std::string query;
        json expected;
    };
    auto entries = [](std::initializer_list<const char*> list) {
        json result = json::array();
        for (const char* id : list) {
            result.push_back({{"id", id}});
        }
        return result;
    };
    const Case cases[] = {
        {"everything",
         "date=" + date,
         {{"created", entries({"c1", "c2"})},
          {"updated", entries({"v1", "v2"})},
          {"deleted", entries({"v3", "v4"})}}},
        {"by tag, bracket form",
         "date=" + date + "&tags%5B%5D=a",
         {{"created", entries({"c1"})},
          {"updated", entries({"v1", "v2"})},
          {"deleted", entries({})}}},
        {"by two tags",
         "date=" + date + "&tags%5B%5D=a&tags%5B%5D=b",
         {{"created", entries({})}, {"updated", entries({"v2"})}, {"deleted", entries({})}}},
        {"by metadata, bracket form",
         "date=" + date + "&metadata%5Bk%5D=v",
         {{"created", entries({"c1"})},
          {"updated", entries({"v1"})},
          {"deleted", entries({"v3"})}}},
        {"nothing after now",
         "date=" + escape(BackendDate::format(now + 1)),
         {{"created", entries({})}, {"updated", entries({})}, {"deleted", entries({})}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto reply = call("GET", "/v1/videos/sync?" + c.query);
        ASSERT_EQ(reply.status, 200) << reply.body;
        EXPECT_EQ(parse(reply), c.expected);
    }
    EXPECT_EQ(call("GET", "/v1/videos/sync?").status, 400);
    EXPECT_EQ(call("GET", "/v1/videos/sync?date=2024-06-01").status, 400);
}

TEST_F(VideosResourceTest, SeedsStableSampleVideos) {
    auto options = this->options();
    options.seed = true;
    startEmulator(options);
    auto first = call("GET", "/v1/videos?limit=100");
    EXPECT_EQ(first.headers.get("video-total-count"), "25");
    auto videos = parse(first);
    std::set<std::string> identities;
    std::set<std::string> tags;
    for (const auto& video : videos) {
        identities.insert(video["identity"].get<std::string>());
        for (const auto& tag : video["tags"]) {
            tags.insert(tag.get<std::string>());
        }
        EXPECT_EQ(video["mp4Url"].size(), 3u);
    }
    EXPECT_GE(identities.size(), 3u);
    EXPECT_GE(tags.size(), 5u);

    startEmulator(options);
    EXPECT_EQ(ids(parse(call("GET", "/v1/videos?limit=100"))), ids(videos))
        << "the same identifiers every time";
}

}  // namespace
}  // namespace pindle::emulator
