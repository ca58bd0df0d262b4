#include "PindleCore/api/PNRequester.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "EmulatorFixture.hpp"
#include "PindleCore/model/PNCancellable.hpp"
#include "platform/foundation/Json.hpp"

namespace pindle {
namespace {

using platform::Dictionary;
using platform::Error;
using platform::Value;
using testing::Outcome;

struct Reply {
    Value result;
    std::optional<Error> error;
};

class PNRequesterTest : public testing::EmulatorFixture {
  protected:
    platform::URL url(const std::string& path) {
        return *platform::URL::fromString(emulator_.baseURL() + path);
    }

    Reply request(const std::string& path, const std::string& method, Dictionary parameters = {},
                  platform::StringDictionary headers = {}, PNRequester::Mapper mapper = nullptr) {
        Outcome<Reply> outcome;
        PNRequester::instance().jsonRequest(
            url(path), method, parameters, headers, std::move(mapper),
            [&](const Value& result, const std::optional<Error>& error) {
                outcome.set({result, error});
            });
        Reply reply = outcome.wait();
        EXPECT_EQ(outcome.calls(), 1);
        return reply;
    }

    emulator::Request lastRequest() {
        auto requests = emulator_.server().requestLog().requests();
        EXPECT_FALSE(requests.empty());
        return requests.empty() ? emulator::Request{} : requests.back();
    }
};

TEST_F(PNRequesterTest, GetPutsSortedEscapedParametersInTheQuery) {
    struct Case {
        const char* name;
        Dictionary parameters;
        const char* target;
    };
    const Case cases[] = {
        {"no parameters", {}, "/q?"},
        {"sorted keys",
         {{"sortOrder", "asc"}, {"offset", 0}, {"limit", 10}},
         "/q?limit=10&offset=0&sortOrder=asc"},
        {"escaping", {{"v", "a &b/?c"}}, "/q?v=a%20%26b/?c"},
        {"booleans", {{"t", true}, {"f", false}}, "/q?f=0&t=1"},
        {"arrays and dictionaries",
         {{"k", platform::Array{"a", "b"}}, {"m", Dictionary{{"x", "1"}}}},
         "/q?k%5B%5D=a&k%5B%5D=b&m%5Bx%5D=1"},
        {"empty nested values", {{"k", platform::Array{}}, {"m", Dictionary{}}}, "/q?"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        emulator_.server().requestLog().clear();
        emulator_.server().addJSONReply("GET", "/q", 200, nlohmann::json::object(), {}, 1);
        Reply reply = request("/q", "GET", c.parameters, {{"Authorization", "Bearer t"}});
        EXPECT_FALSE(reply.error);
        emulator::Request sent = lastRequest();
        EXPECT_EQ(sent.method, "GET");
        EXPECT_EQ(sent.target, c.target);
        EXPECT_EQ(sent.body, "");
        EXPECT_EQ(sent.header("Authorization"), "Bearer t");
        EXPECT_EQ(sent.header("Content-Type"), "application/x-www-form-urlencoded; charset=utf-8");
    }
}

TEST_F(PNRequesterTest, OtherMethodsSendAJSONBodyAndTheirOwnContentType) {
    struct Case {
        const char* method;
        Dictionary parameters;
        Value body;
    };
    const Case cases[] = {
        {"POST", {}, Dictionary{}},
        {"PUT",
         {{"tags", platform::Array{"a"}}, {"n", 2}},
         Dictionary{{"tags", platform::Array{"a"}}, {"n", 2}}},
        // Method text is compared exactly: a lower-case "get" is a body method.
        {"get", {{"limit", 10}}, Dictionary{{"limit", 10}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.method);
        emulator_.server().addJSONReply(c.method, "/w", 200, nlohmann::json::object(), {}, 1);
        request("/w", c.method, c.parameters, {{"Content-Type", "text/plain"}});
        emulator::Request sent = lastRequest();
        EXPECT_EQ(sent.method, c.method);
        EXPECT_EQ(sent.target, "/w");
        EXPECT_EQ(platform::Json::parse(sent.body), c.body);
        EXPECT_EQ(sent.header("Content-Type"), "application/json");
        EXPECT_FALSE(sent.header("Expect"));
    }
}

TEST_F(PNRequesterTest, StatusOutsideTheSuccessRangeIsAnErrorWhateverTheBody) {
    struct Case {
        unsigned status;
        std::string body;
        bool isJSON;
        bool expectError;
        bool expectResult;
    };
    const Case cases[] = {
        {200, R"({"a":1})", true, false, true},         {299, R"({"a":1})", true, false, true},
        {300, R"({"a":1})", true, true, false},         {400, R"({"a":1})", true, true, false},
        {401, R"({"a":1})", true, true, false},         {404, R"({"a":1})", true, true, false},
        {500, "<html>oops</html>", false, true, false}, {204, "", false, false, false},
        {200, "not json", false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        emulator::Response response =
            emulator::Response::text(c.status, c.body, c.isJSON ? "application/json" : "text/html");
        if (c.body.empty())
            response = emulator::Response::empty(c.status);
        emulator_.server().addReply("GET", "/s", response, 1);
        Reply reply = request("/s", "GET");
        EXPECT_EQ(reply.error.has_value(), c.expectError);
        EXPECT_EQ(!reply.result.isNull(), c.expectResult);
        if (!reply.error)
            continue;
        EXPECT_EQ(reply.error->domain(), "com.p.pinlet");
        EXPECT_EQ(reply.error->code(), -1);
        EXPECT_EQ(reply.error->userInfo().at("statusCode"), Value(static_cast<int>(c.status)));
        const std::string* text = reply.error->userInfo().at("response").asString();
        ASSERT_TRUE(text);
        EXPECT_NE(text->find(std::to_string(c.status)), std::string::npos);
        EXPECT_EQ(reply.error->userInfo().count("error"), c.status == 400 ? 1u : 0u);
        if (c.status == 400) {
            EXPECT_EQ(reply.error->userInfo().at("error"), Value("Bad Request"));
        }
    }
    // A 1xx status is never final on the wire; judge it directly.
    auto informational = std::make_shared<platform::HTTPURLResponse>(
        platform::URL::fromString("http://h/x"), 199,
        std::vector<std::pair<std::string, std::string>>{});
    EXPECT_TRUE(PNRequester::instance().error(informational));
}

TEST_F(PNRequesterTest, MapperSeesTheBodyAndTheHeaders) {
    emulator::Headers headers;
    headers.set("video-total-count", "7");
    emulator_.server().addJSONReply("GET", "/m", 200, nlohmann::json::array({1, 2}), headers, 1);
    Reply reply =
        request("/m", "GET", {}, {}, [](const Value& json, const Dictionary* fields) -> Value {
            EXPECT_TRUE(json.isArray());
            if (!fields)
                return "no headers";
            for (const auto& [name, value] : *fields) {
                if (name == "video-total-count")
                    return value;
            }
            return "missing";
        });
    EXPECT_EQ(reply.result, Value("7"));
}

TEST_F(PNRequesterTest, TransportFailuresMapToTheirCodes) {
    emulator_.server().addFault("/drop", emulator::Fault::dropAfter(10));
    emulator::Response big = emulator::Response::text(200, std::string(100000, 'x'));
    emulator_.server().addReply("GET", "/drop", big);
    Reply dropped = request("/drop", "GET");
    ASSERT_TRUE(dropped.error);
    EXPECT_EQ(dropped.error->code(), platform::URLError::networkConnectionLost);

    const std::uint16_t port = emulator_.port();
    emulator_.stop();
    Outcome<Reply> refused;
    PNRequester::instance().jsonRequest(
        *platform::URL::fromString("http://127.0.0.1:" + std::to_string(port) + "/x"), "GET", {},
        {}, nullptr, [&](const Value& result, const std::optional<Error>& error) {
            refused.set({result, error});
        });
    ASSERT_TRUE(refused.wait().error);
    EXPECT_EQ(refused.wait().error->code(), platform::URLError::cannotConnectToHost);
}

TEST_F(PNRequesterTest, AStalledBodyTimesOut) {
    emulator_.server().addFault("/stall", emulator::Fault::stallAfter(10));
    emulator_.server().addReply("GET", "/stall",
                                emulator::Response::text(200, std::string(1000, 'x')));
    platform::URLRequest request(
        url("/stall"), platform::URLRequest::CachePolicy::reloadIgnoringLocalCacheData, 0.5);
    Outcome<std::pair<std::int64_t, std::optional<Error>>> end;
    PNRequester::instance().googleDataRequest(
        request, nullptr, [&](std::int64_t size, const std::optional<Error>& error) {
            end.set({size, error});
        });
    ASSERT_TRUE(end.wait().second);
    EXPECT_EQ(end.wait().second->code(), platform::URLError::timedOut);
}

TEST_F(PNRequesterTest, ParametersThatAreNotJSONSendNothing) {
    Reply reply = request("/w", "POST", {{"bad", std::nan("")}});
    ASSERT_TRUE(reply.error);
    EXPECT_EQ(reply.error->code(), platform::CocoaError::propertyListWriteInvalid);
    EXPECT_EQ(requestsBesidesAProbe(), 0u);
}

TEST_F(PNRequesterTest, CancellingEndsTheRequestOnceWithTheCancellationError) {
    emulator_.server().addFault("/slow", emulator::Fault::delayed(std::chrono::seconds(5)));
    Outcome<Reply> outcome;
    const std::thread::id caller = std::this_thread::get_id();
    PNCancellablePtr token = PNRequester::instance().jsonRequest(
        url("/slow"), "GET", {}, {}, nullptr,
        [&](const Value& result, const std::optional<Error>& error) {
            outcome.set({result, error});
        });
    token->cancelIt();
    token->cancelIt();
    const Reply& reply = outcome.wait();
    ASSERT_TRUE(reply.error);
    EXPECT_EQ(reply.error->code(), platform::URLError::cancelled);
    EXPECT_NE(outcome.thread(), caller);
    exchangeAProbe();
    EXPECT_EQ(outcome.calls(), 1);
}

TEST_F(PNRequesterTest, StreamedChunksCarryTheReplysSizeAndStatusButNeverAnErrorsBody) {
    struct Streamed {
        std::string bytes;
        std::vector<std::pair<std::int64_t, int>> sizesAndStatuses;
    };
    auto stream = [&](const std::string& path, Streamed& streamed) {
        Outcome<std::pair<std::int64_t, std::optional<Error>>> end;
        PNRequester::instance().googleDataRequest(
            platform::URLRequest(url(path)),
            [&](const platform::SharedData& chunk, std::int64_t totalSize, int statusCode) {
                streamed.bytes.append(chunk->begin(), chunk->end());
                streamed.sizesAndStatuses.emplace_back(totalSize, statusCode);
            },
            [&](std::int64_t totalSize, const std::optional<Error>& error) {
                end.set({totalSize, error});
            });
        return end.wait();
    };

    // Large enough to arrive in several chunks.
    const std::string part(300000, 'p');
    emulator_.server().addReply(
        "GET", "/part",
        emulator::Response::text(206, part).withHeader("Content-Range", "bytes 0-299999/900000"));
    Streamed partial;
    auto [size, error] = stream("/part", partial);
    EXPECT_FALSE(error);
    EXPECT_EQ(size, 900000);
    EXPECT_EQ(partial.bytes, part);
    ASSERT_FALSE(partial.sizesAndStatuses.empty());
    for (const auto& [chunkSize, status] : partial.sizesAndStatuses) {
        EXPECT_EQ(chunkSize, 900000);
        EXPECT_EQ(status, 206);
    }

    emulator_.server().addReply("GET", "/gone", emulator::Response::text(404, "no such file"));
    Streamed missing;
    auto [missingSize, missingError] = stream("/gone", missing);
    ASSERT_TRUE(missingError);
    EXPECT_EQ(missingError->domain(), PNRequester::statusErrorDomain);
    EXPECT_TRUE(missing.bytes.empty());
    EXPECT_TRUE(missing.sizesAndStatuses.empty());
    EXPECT_EQ(missingSize, 0) << "the error page's length is not the file's";
}

TEST_F(PNRequesterTest, SizeHeadersFollowTheirPrecedence) {
    auto response = [](std::vector<std::pair<std::string, std::string>> fields) {
        return std::make_shared<platform::HTTPURLResponse>(platform::URL::fromString("http://h/x"),
                                                           206, fields);
    };
    PNRequester& requester = PNRequester::instance();
    EXPECT_EQ(requester.getSize(response(
                  {{"x-goog-stored-content-length", "1000"}, {"Content-Range", "bytes 0-1/5000"}})),
              1000);
    EXPECT_EQ(
        requester.getSize(response({{"Content-Range", "bytes 0-1/5000"}, {"Content-Length", "2"}})),
        5000);
    EXPECT_EQ(requester.getSize(response({{"content-range", "bytes 0-1/5000"}})), 5000);
    EXPECT_EQ(
        requester.getSize(response({{"Content-Range", "bytes 0-1"}, {"Content-Length", "2"}})), 0);
    EXPECT_EQ(requester.getSize(response({{"Content-Range", "bytes */*"}})), 0);
    EXPECT_EQ(requester.getSize(response({{"Content-Length", "2"}})), 2);
    EXPECT_EQ(requester.getSize(response({{"Content-Length", "+2"}})), 2);
    EXPECT_EQ(requester.getSize(response({{"Content-Length", "+-2"}})), 0);
    EXPECT_EQ(requester.getSize(response({})), 0);
    EXPECT_EQ(requester.getSize(nullptr), 0);
}

// The requester's own error type: one value, equal to itself, hashed as its case, and as a
// platform error distinct from the status error callers actually get.
TEST(PNRequesterValidateStatusCodeErrorTest, IsOneCaseWithItsOwnDomain) {
    using ValidateStatusCodeError = PNRequester::ValidateStatusCodeError;
    const ValidateStatusCodeError error = ValidateStatusCodeError::failureStatusCode;
    EXPECT_EQ(error, ValidateStatusCodeError());
    EXPECT_EQ(error.errorCase(), ValidateStatusCodeError::failureStatusCode);
    EXPECT_EQ(std::hash<ValidateStatusCodeError>{}(error), 0u);
    const platform::Error asPlatformError = error;
    EXPECT_EQ(asPlatformError.domain(), "PindleCore.PNRequester.ValidateStatusCodeError");
    EXPECT_NE(asPlatformError.domain(), PNRequester::statusErrorDomain);
    EXPECT_EQ(asPlatformError.code(), 0);
    EXPECT_TRUE(asPlatformError.userInfo().empty());
}

}  // namespace
}  // namespace pindle
