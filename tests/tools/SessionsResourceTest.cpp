#include "tools/emulator/SessionsResource.hpp"

#include "BackendTestFixture.hpp"

namespace pindle::emulator {
namespace {

using test::BackendTestFixture;

class SessionsResourceTest : public BackendTestFixture {};

TEST_F(SessionsResourceTest, OpensASessionForTheAPITokenAndIdentity) {
    auto reply = call("POST", "/v1/sessions", nlohmann::json{{"identity", "alice"}});
    ASSERT_EQ(reply.status, 200) << reply.body;
    auto session = parse(reply);
    EXPECT_EQ(session["id"], BackendEmulator::defaultAppID);
    EXPECT_EQ(session["identity"], "alice");
    EXPECT_EQ(session["createdAt"], "2024-06-01T12:00:00.000Z");
    EXPECT_EQ(session["expiresAt"], "2024-06-02T12:00:00.000Z");
    ASSERT_TRUE(session["sessionToken"].is_string());
    std::string token = session["sessionToken"];
    EXPECT_NE(token, apiToken);

    // The session token authorizes video calls, and videos created with it are the user's.
    auto created = call("POST", "/v1/videos", nlohmann::json{{"title", "mine"}}, token);
    ASSERT_EQ(created.status, 201) << created.body;
    EXPECT_EQ(parse(created)["identity"], "alice");

    auto other = parse(call("POST", "/v1/sessions", nlohmann::json{{"identity", "bob"}}));
    EXPECT_NE(other["sessionToken"], token) << "every session has its own token";
}

TEST_F(SessionsResourceTest, RejectsBadTokensAndBodies) {
    struct Case {
        const char* name;
        std::optional<std::string> authorization;
        std::string body;
        unsigned status;
    };
    const Case cases[] = {
        {"unknown token", "Bearer nope", R"({"identity":"a"})", 401},
        {"no token at all", std::nullopt, R"({"identity":"a"})", 401},
        {"other scheme", std::string("Basic ") + apiToken, R"({"identity":"a"})", 401},
        {"session token instead of API token", "Bearer <session>", R"({"identity":"a"})", 401},
        {"identity missing", std::string("Bearer ") + apiToken, R"({})", 400},
        {"identity not a string", std::string("Bearer ") + apiToken, R"({"identity":3})", 400},
        {"body not JSON", std::string("Bearer ") + apiToken, "identity=a", 400},
        {"empty identity is taken", std::string("Bearer ") + apiToken, R"({"identity":""})", 200},
        {"API token in the body", std::nullopt,
         std::string(R"({"identity":"a","apiToken":")") + apiToken + "\"}", 200},
        {"header wins over body", "Bearer nope",
         std::string(R"({"identity":"a","apiToken":")") + apiToken + "\"}", 401},
    };
    auto sessionToken = emulator->openSession("someone");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Headers headers{{"Content-Type", "application/json"}};
        if (c.authorization) {
            auto value = *c.authorization;
            if (value == "Bearer <session>") {
                value = "Bearer " + sessionToken;
            }
            headers.add("Authorization", value);
        }
        auto reply = client->request("POST", "/v1/sessions", headers, c.body);
        EXPECT_EQ(reply.status, c.status) << reply.body;
        if (c.status != 200) {
            EXPECT_TRUE(parse(reply).contains("error")) << "failures carry a JSON body";
        }
    }
}

TEST_F(SessionsResourceTest, SessionsExpireAfterTheirLifetime) {
    auto token =
        parse(call("POST", "/v1/sessions", nlohmann::json{{"identity", "a"}}))["sessionToken"]
            .get<std::string>();
    EXPECT_EQ(call("GET", "/v1/videos", std::nullopt, token).status, 200);
    now += std::chrono::milliseconds(BackendEmulator::defaultSessionLifetime).count() - 1;
    EXPECT_EQ(call("GET", "/v1/videos", std::nullopt, token).status, 200);
    now += 1;
    EXPECT_EQ(call("GET", "/v1/videos", std::nullopt, token).status, 401);
    EXPECT_EQ(call("GET", "/v1/videos").status, 200) << "the API token does not expire";
}

TEST_F(SessionsResourceTest, KnowsEveryConfiguredApplication) {
    auto options = this->options();
    options.applications = {{"app-one", "token-one"}, {"app-two", "token-two"}};
    startEmulator(options);
    EXPECT_EQ(call("POST", "/v1/sessions", nlohmann::json{{"identity", "a"}}).status, 401)
        << "the default application is replaced";
    auto reply = call("POST", "/v1/sessions", nlohmann::json{{"identity", "a"}}, "token-two");
    ASSERT_EQ(reply.status, 200);
    EXPECT_EQ(parse(reply)["id"], "app-two");
}

}  // namespace
}  // namespace pindle::emulator
