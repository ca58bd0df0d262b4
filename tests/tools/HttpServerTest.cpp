#include "tools/emulator/HttpServer.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "TestHttpClient.hpp"
#include "tests/support/TestFolders.hpp"

namespace pindle::emulator {
namespace {

using namespace std::chrono_literals;
using test::TestHttpClient;

constexpr std::size_t mediaSize = 1000;

std::string numberedBytes(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>('a' + i % 26);
    }
    return bytes;
}

class HttpServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(server.start(0, &error)) << error;
        media = numberedBytes(mediaSize);
        server.media().add("/media/clip.mp4", media);
    }

    HttpServer server;
    std::string media;
};

TEST_F(HttpServerTest, StartsOnAFreeLoopbackPortAndStops) {
    EXPECT_NE(server.port(), 0);
    EXPECT_EQ(server.baseURL(), "http://127.0.0.1:" + std::to_string(server.port()));

    HttpServer second;
    std::string error;
    EXPECT_FALSE(second.start(server.port(), &error)) << "the port is taken";
    EXPECT_FALSE(error.empty());

    server.stop();
    EXPECT_FALSE(server.isRunning());
    EXPECT_EQ(server.port(), 0);
    server.stop();  // a second stop is harmless
}

struct RangeCase {
    const char* range;  // nullptr: no Range header
    unsigned status;
    const char* contentRange;  // nullptr: header must be absent
    std::size_t first;
    std::size_t length;
};

TEST_F(HttpServerTest, ServesSingleByteRanges) {
    const RangeCase cases[] = {
        {nullptr, 200, nullptr, 0, mediaSize},
        {"bytes=0-1", 206, "bytes 0-1/1000", 0, 2},
        {"bytes=100-149", 206, "bytes 100-149/1000", 100, 50},
        {"bytes=0-0", 206, "bytes 0-0/1000", 0, 1},
        {"bytes=990-", 206, "bytes 990-999/1000", 990, 10},
        {"bytes=500-5000", 206, "bytes 500-999/1000", 500, 500},
        {"bytes=-10", 206, "bytes 990-999/1000", 990, 10},
        {"bytes=-5000", 206, "bytes 0-999/1000", 0, mediaSize},
        {"bytes=1000-", 416, "bytes */1000", 0, 0},
        {"bytes=1000-1001", 416, "bytes */1000", 0, 0},
        {"bytes=-0", 416, "bytes */1000", 0, 0},
        // Malformed or multiple ranges are ignored: the whole file.
        {"bytes=5-2", 200, nullptr, 0, mediaSize},
        {"bytes=0-1,5-6", 200, nullptr, 0, mediaSize},
        {"items=0-1", 200, nullptr, 0, mediaSize},
        {"bytes=x-", 200, nullptr, 0, mediaSize},
    };
    TestHttpClient client(server.port());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.range ? c.range : "no Range");
        Headers headers;
        if (c.range) {
            headers.add("Range", c.range);
        }
        auto reply = client.request("GET", "/media/clip.mp4", headers);
        ASSERT_TRUE(reply.complete()) << reply.error.message();
        EXPECT_EQ(reply.status, c.status);
        EXPECT_EQ(reply.headers.get("Content-Range"),
                  c.contentRange ? std::optional<std::string>(c.contentRange) : std::nullopt);
        EXPECT_EQ(reply.headers.get("Content-Length"), std::to_string(c.length));
        EXPECT_EQ(reply.body, media.substr(c.first, c.length));
        if (c.status != 416) {
            EXPECT_EQ(reply.headers.get("Accept-Ranges"), "bytes");
            EXPECT_EQ(reply.headers.get("Content-Type"), "video/mp4");
        }
    }
}

TEST_F(HttpServerTest, HeadAnnouncesTheLengthWithoutABody) {
    TestHttpClient client(server.port());
    auto whole = client.request("HEAD", "/media/clip.mp4");
    ASSERT_TRUE(whole.complete());
    EXPECT_EQ(whole.status, 200);
    EXPECT_EQ(whole.headers.get("Content-Length"), "1000");
    EXPECT_TRUE(whole.body.empty());

    auto ranged = client.request("HEAD", "/media/clip.mp4", {{"Range", "bytes=0-1"}});
    ASSERT_TRUE(ranged.complete());
    EXPECT_EQ(ranged.status, 206);
    EXPECT_EQ(ranged.headers.get("Content-Range"), "bytes 0-1/1000");
    EXPECT_EQ(ranged.headers.get("Content-Length"), "2");

    // The connection is still usable: no body bytes were left on it.
    auto after = client.request("GET", "/media/clip.mp4", {{"Range", "bytes=-1"}});
    EXPECT_EQ(after.body, "l");
}

TEST_F(HttpServerTest, ServesAFolderWithoutLeavingIt) {
    // The secret sits beside the served folder, where a climbing path would reach it.
    const std::filesystem::path parent = pindle::testing::makeScratchFolder("emulator-folder-");
    const std::filesystem::path folder = parent / "served";
    std::filesystem::create_directories(folder / "sub");
    std::ofstream(folder / "sub" / "a.mp4", std::ios::binary) << "0123456789";
    std::ofstream(folder.parent_path() / "secret.txt") << "secret";
    server.media().addFolder("/files/", folder);

    TestHttpClient client(server.port());
    auto reply = client.request("GET", "/files/sub/a.mp4", {{"Range", "bytes=2-4"}});
    EXPECT_EQ(reply.status, 206);
    EXPECT_EQ(reply.body, "234");
    EXPECT_EQ(client.request("GET", "/files/../secret.txt").status, 404);
    EXPECT_EQ(client.request("GET", "/files/%2e%2e/secret.txt").status, 404);
    EXPECT_EQ(client.request("GET", "/files/missing.mp4").status, 404);
    std::filesystem::remove_all(parent);
}

TEST_F(HttpServerTest, StreamsFolderFilesWholeByRangeAndUnderFaults) {
    // Larger than the slices a file goes out in, so ranges cross slice boundaries.
    const std::string bytes = numberedBytes(700 * 1024 + 13);
    const std::filesystem::path folder = pindle::testing::makeScratchFolder("emulator-stream-");
    std::ofstream(folder / "big.mp4", std::ios::binary) << bytes;
    server.media().addFolder("/files/", folder);
    server.addFault("/files/cut.mp4", Fault::dropAfter(300 * 1024).times(1));
    std::filesystem::copy_file(folder / "big.mp4", folder / "cut.mp4");

    TestHttpClient client(server.port());
    auto whole = client.request("GET", "/files/big.mp4");
    EXPECT_EQ(whole.status, 200);
    EXPECT_TRUE(whole.body == bytes) << "whole body differs, " << whole.body.size() << " bytes";
    const std::size_t first = 200 * 1024 + 7, last = 600 * 1024 + 3;
    auto part =
        client.request("GET", "/files/big.mp4",
                       {{"Range", "bytes=" + std::to_string(first) + "-" + std::to_string(last)}});
    EXPECT_EQ(part.status, 206);
    EXPECT_TRUE(part.body == bytes.substr(first, last - first + 1)) << part.body.size();
    auto head = client.request("HEAD", "/files/big.mp4");
    EXPECT_EQ(head.headers.get("Content-Length"), std::to_string(bytes.size()));
    EXPECT_TRUE(head.body.empty());

    TestHttpClient cutClient(server.port());
    auto cut = cutClient.request("GET", "/files/cut.mp4");
    EXPECT_FALSE(cut.complete());
    EXPECT_TRUE(cut.body == bytes.substr(0, 300 * 1024)) << cut.body.size();
    std::filesystem::remove_all(folder);
}

TEST_F(HttpServerTest, KeepsConnectionsAliveUntilTheClientAsksToClose) {
    TestHttpClient client(server.port());
    for (int i = 0; i < 3; ++i) {
        auto reply = client.request("GET", "/media/clip.mp4", {{"Range", "bytes=0-0"}});
        ASSERT_TRUE(reply.complete()) << "request " << i;
        EXPECT_FALSE(reply.headers.contains("Connection"));
    }
    auto last = client.request("GET", "/media/clip.mp4", {{"Connection", "close"}});
    EXPECT_EQ(last.headers.get("Connection"), "close");
    auto refused = client.request("GET", "/media/clip.mp4");
    EXPECT_FALSE(refused.complete());
}

TEST_F(HttpServerTest, AnswersExpectContinueBeforeReadingTheBody) {
    server.router().add("PUT", "/upload", [](const Request& request, const Router::Params&) {
        return Response::text(200, std::to_string(request.body.size()));
    });
    TestHttpClient client(server.port());
    auto interim = client.raw(
        "PUT /upload HTTP/1.1\r\nHost: x\r\nExpect: 100-continue\r\nContent-Length: 5\r\n\r\n");
    ASSERT_TRUE(interim.complete());
    EXPECT_EQ(interim.status, 100);
    auto final = client.raw("hello");
    EXPECT_EQ(final.status, 200);
    EXPECT_EQ(final.body, "5");
}

TEST_F(HttpServerTest, AnswersAHeadOverTheLimitInsteadOfDroppingTheConnection) {
    const std::string huge(100 * 1024, 'a');
    struct Case {
        const char* name;
        std::string request;
        unsigned status;
    };
    const Case cases[] = {
        {"request line", "GET /media/" + huge + " HTTP/1.1\r\nHost: x\r\n\r\n", 414},
        {"header field", "GET /media/clip.mp4 HTTP/1.1\r\nHost: x\r\nX-Big: " + huge + "\r\n\r\n",
         431},
        {"many fields",
         [] {
             std::string request = "GET /media/clip.mp4 HTTP/1.1\r\nHost: x\r\n";
             for (int i = 0; i < 4000; ++i)
                 request += "X-Field-" + std::to_string(i) + ": value\r\n";
             return request + "\r\n";
         }(),
         431},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestHttpClient client(server.port());
        auto reply = client.raw(c.request);
        ASSERT_TRUE(reply.complete());
        EXPECT_EQ(reply.status, c.status);
    }
    // The server itself carries on.
    TestHttpClient client(server.port());
    EXPECT_EQ(client.request("GET", "/media/clip.mp4").status, 200);
}

TEST_F(HttpServerTest, RoutesWithPlaceholdersAndRejectsOtherMethods) {
    server.router().add("GET", "/v1/things/special", [](const Request&, const Router::Params&) {
        return Response::text(200, "special");
    });
    server.router().add("GET", "/v1/things/{id}", [](const Request&, const Router::Params& p) {
        return Response::text(200, "thing " + p.at("id"));
    });
    TestHttpClient client(server.port());
    EXPECT_EQ(client.request("GET", "/v1/things/special").body, "special");
    EXPECT_EQ(client.request("GET", "/v1/things/a%20b?x=1").body, "thing a b");
    auto wrongMethod = client.request("DELETE", "/v1/things/a");
    EXPECT_EQ(wrongMethod.status, 405);
    EXPECT_EQ(wrongMethod.headers.get("Allow"), "GET");
    EXPECT_EQ(client.request("GET", "/v1/things/a/b").status, 404);
}

TEST_F(HttpServerTest, ScriptedRepliesAreUsedUpInOrder) {
    server.addJSONReply("GET", "/v1/status", 503, {{"error", "maintenance"}},
                        {{"Retry-After", "1"}}, 2);
    server.addJSONReply("GET", "/v1/status", 200, {{"ok", true}});
    server.addReply("GET", "/v1/status?exact=1", Response::text(202, "exact target"));

    TestHttpClient client(server.port());
    for (int i = 0; i < 2; ++i) {
        auto reply = client.request("GET", "/v1/status?x=1");
        EXPECT_EQ(reply.status, 503);
        EXPECT_EQ(reply.headers.get("retry-after"), "1");
        EXPECT_EQ(nlohmann::json::parse(reply.body)["error"], "maintenance");
    }
    EXPECT_EQ(client.request("GET", "/v1/status").status, 200);
    EXPECT_EQ(client.request("GET", "/v1/status").status, 200) << "unlimited uses";
    EXPECT_EQ(client.request("GET", "/v1/status?exact=1").status, 202);
    EXPECT_EQ(client.request("POST", "/v1/status").status, 404) << "other methods unscripted";

    server.script().clear();
    EXPECT_EQ(client.request("GET", "/v1/status").status, 404);
}

TEST_F(HttpServerTest, RecordsRequestsExactlyAsReceived) {
    TestHttpClient client(server.port());
    client.request("POST", "/v1/videos?tags=WyJhIl0%3D&title=a%20b&empty=",
                   {{"Authorization", "Bearer token"}, {"X-Custom", "1"}}, R"({"k":"v"})");
    client.request("GET", "/media/clip.mp4?", {{"Range", "bytes=0-1"}});
    ASSERT_TRUE(server.requestLog().waitForCount(2, 10s));

    auto requests = server.requestLog().requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].target, "/v1/videos?tags=WyJhIl0%3D&title=a%20b&empty=");
    EXPECT_EQ(requests[0].path(), "/v1/videos");
    EXPECT_EQ(requests[0].rawQuery(), "tags=WyJhIl0%3D&title=a%20b&empty=");
    EXPECT_EQ(requests[0].header("authorization"), "Bearer token");
    EXPECT_EQ(requests[0].header("x-custom"), "1");
    EXPECT_EQ(requests[0].body, R"({"k":"v"})");
    EXPECT_TRUE(requests[1].hasQuery());
    EXPECT_EQ(requests[1].rawQuery(), "");
    EXPECT_EQ(server.requestLog().requestsFor("GET", "/media/clip.mp4").size(), 1u);

    server.requestLog().clear();
    EXPECT_FALSE(server.requestLog().waitForCount(1, 1ms));
}

TEST_F(HttpServerTest, DropsTheConnectionMidBody) {
    server.addFault("/media/clip.mp4", Fault::dropAfter(100).times(1));
    TestHttpClient client(server.port());
    auto cut = client.request("GET", "/media/clip.mp4");
    EXPECT_EQ(cut.status, 200);
    EXPECT_EQ(cut.headers.get("Content-Length"), "1000");
    EXPECT_EQ(cut.body, media.substr(0, 100));
    EXPECT_TRUE(cut.error) << "a short read";
    EXPECT_FALSE(cut.timedOut);

    TestHttpClient again(server.port());
    EXPECT_EQ(again.request("GET", "/media/clip.mp4").body, media) << "the fault was used up";
}

TEST_F(HttpServerTest, DelaysTheReply) {
    constexpr auto delay = 200ms;
    server.addFault("/media/clip.mp4", Fault::delayed(delay).onlyFor("GET"));
    TestHttpClient client(server.port());
    auto started = std::chrono::steady_clock::now();
    auto reply = client.request("GET", "/media/clip.mp4");
    EXPECT_GE(std::chrono::steady_clock::now() - started, delay);
    EXPECT_EQ(reply.body, media);
    // The request is logged before the delay, so a waiter need not wait for the reply.
    EXPECT_EQ(server.requestLog().count(), 1u);
}

TEST_F(HttpServerTest, ThrottlesTheBodyToItsRate) {
    // 1000 bytes at 2500 bytes a second: four slices of 250, three pauses between them.
    server.addFault("/media/clip.mp4", Fault::throttle(2500));
    TestHttpClient client(server.port());
    auto started = std::chrono::steady_clock::now();
    auto slow = client.request("GET", "/media/clip.mp4");
    EXPECT_GE(std::chrono::steady_clock::now() - started, 300ms);
    EXPECT_EQ(slow.status, 200);
    EXPECT_EQ(slow.body, media);
    EXPECT_FALSE(slow.error);
    // The connection stays usable after a throttled reply.
    EXPECT_EQ(client.request("HEAD", "/media/clip.mp4").status, 200);
}

TEST_F(HttpServerTest, StallsTheBodyUntilTheServerStops) {
    server.addFault("/media/clip.mp4", Fault::stallAfter(10));
    TestHttpClient client(server.port());
    auto head = client.startRequest("GET", "/media/clip.mp4", 10);
    ASSERT_FALSE(head.error) << head.error.message();
    EXPECT_EQ(head.status, 200);
    EXPECT_EQ(head.body, media.substr(0, 10));

    server.stop();
    auto rest = client.finish();
    EXPECT_TRUE(rest.error);
    EXPECT_FALSE(rest.timedOut) << "the stop closed the connection";
    EXPECT_EQ(rest.body, media.substr(0, 10));
}

TEST_F(HttpServerTest, ClosesWithoutReplyOrRefusesConnections) {
    server.addFault("/media/clip.mp4", Fault::closeImmediately().times(1));
    {
        TestHttpClient client(server.port());
        auto reply = client.request("GET", "/media/clip.mp4");
        EXPECT_EQ(reply.status, 0);
        EXPECT_TRUE(reply.error);
        EXPECT_FALSE(reply.timedOut);
    }
    server.setRefuseConnections(true);
    {
        TestHttpClient client(server.port());
        auto reply = client.request("GET", "/media/clip.mp4");
        EXPECT_EQ(reply.status, 0);
        EXPECT_TRUE(reply.error);
    }
    server.setRefuseConnections(false);
    TestHttpClient client(server.port());
    EXPECT_EQ(client.request("GET", "/media/clip.mp4").status, 200);
}

TEST_F(HttpServerTest, RestartsAfterStop) {
    server.stop();
    ASSERT_TRUE(server.start());
    TestHttpClient client(server.port());
    EXPECT_EQ(client.request("GET", "/media/clip.mp4").status, 200);
}

}  // namespace
}  // namespace pindle::emulator
