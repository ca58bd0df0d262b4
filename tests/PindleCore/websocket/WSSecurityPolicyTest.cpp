#include "PindleCore/websocket/WSSecurityPolicy.hpp"

#include <gtest/gtest.h>

#include "PindleCore/websocket/WSPinningSecurityPolicy.hpp"
#include "PindleCore/websocket/WSWebSocket.hpp"
#include "PindleCore/websocket/private/WSUtilities.hpp"
#include "RawWebSocketPeer.hpp"
#include "RecordingSocketDelegate.hpp"

namespace pindle {
namespace {

using testing::RawWebSocketServer;
using testing::RecordingSocketDelegate;
using testing::TestIdentity;

constexpr std::int64_t invalidServerCertificate = -1205;

TEST(WSSecurityPolicyTest, ChainValidationFollowsThePolicy) {
    EXPECT_TRUE(WSSecurityPolicy::defaultPolicy()->securityOptions("h").validatesCertificateChain);
    EXPECT_FALSE(WSSecurityPolicy(false).securityOptions("h").validatesCertificateChain);
    auto pinning = WSSecurityPolicy::pinnningPolicyWithCertificates({platform::Data{1, 2}});
    ASSERT_TRUE(pinning);
    EXPECT_FALSE(pinning->securityOptions("h").validatesCertificateChain);
    EXPECT_EQ(pinning->securityOptions("h").peerName, "h");
    EXPECT_EQ(WSSecurityPolicy::pinnningPolicyWithCertificates({}), nullptr);
}

TEST(WSSecurityPolicyTest, BytesThatAreNoCertificateNeverMatchAPin) {
    WSPinningSecurityPolicy policy({platform::Data{9, 9}, platform::Data{1, 2, 3}});
    EXPECT_FALSE(policy.evaluateServerTrust({platform::Data{1, 2, 3}}, "x"));
    EXPECT_FALSE(policy.evaluateServerTrust({platform::Data{5}, platform::Data{1, 2, 3}}, "x"));
    EXPECT_FALSE(policy.evaluateServerTrust({}, "x"));
}

// A TLS server on loopback with a certificate made for the test, and a client with
// different security settings.
class WSTLSConnectionTest : public ::testing::Test {
  protected:
    struct Outcome {
        std::optional<RecordingSocketDelegate::Call> opened;
        std::optional<RecordingSocketDelegate::Call> failed;
    };

    Outcome connect(RawWebSocketServer& server, WSURLRequest request,
                    std::shared_ptr<WSSecurityPolicy> policy = nullptr,
                    bool allowsUntrusted = false) {
        auto delegate = std::make_shared<RecordingSocketDelegate>();
        auto socket = policy ? WSWebSocket::create(request, {}, policy)
                             : WSWebSocket::create(request, {}, allowsUntrusted);
        socket->setProxySettings(platform::ProxySettings::fromVariables(
            [](const std::string&) { return std::nullopt; }));
        socket->setDelegate(delegate);
        socket->setDelegateDispatchQueue(platform::DispatchQueue::create("ws.tls.delegate"));
        socket->open();
        auto peer = server.accept();
        if (peer)
            peer->acceptHandshake();
        Outcome outcome;
        auto first = delegate->waitForOneOf({"open", "fail"});
        EXPECT_TRUE(first);
        if (first && first->kind == "open")
            outcome.opened = first;
        if (first && first->kind == "fail")
            outcome.failed = first;
        if (outcome.opened) {
            peer->write(testing::RawPeer::frame(0x1, "over TLS"));
            auto message = delegate->waitFor("string");
            EXPECT_TRUE(message && message->text == "over TLS");
        }
        return outcome;
    }

    WSURLRequest request(const RawWebSocketServer& server) {
        return WSURLRequest(*platform::URL::fromString(server.url("/secure")));
    }

    using Kind = TestIdentity::Kind;
    TestIdentity authority_{"Pindle Test Authority", nullptr, Kind::authority};
    TestIdentity intermediate_{"Pindle Test Intermediate", &authority_, Kind::authority};
    TestIdentity leaf_{"127.0.0.1", &intermediate_};
    TestIdentity unrelated_{"127.0.0.1"};
    RawWebSocketServer server_{&leaf_, &intermediate_};
};

TEST_F(WSTLSConnectionTest, OnlyAChainThatReachesAPinForThisHostIsTrusted) {
    // Served by an attacker: its own key and certificate, followed by copies of the pinned
    // certificates, which it can fetch from the real server.
    TestIdentity attacker("127.0.0.1");
    TestIdentity expired("127.0.0.1", &intermediate_, Kind::leaf, -3600);
    TestIdentity otherHost("other.example.test", &intermediate_);
    struct Case {
        const char* name;
        const TestIdentity* identity;
        std::vector<const TestIdentity*> chain;
        std::vector<platform::Data> pins;
        bool opens;
    };
    const Case cases[] = {
        {"leaf pinned", &leaf_, {&intermediate_}, {leaf_.der()}, true},
        {"intermediate pinned",
         &leaf_,
         {&intermediate_},
         {unrelated_.der(), intermediate_.der()},
         true},
        {"root pinned", &leaf_, {&intermediate_}, {authority_.der()}, true},
        {"unrelated pinned", &leaf_, {&intermediate_}, {unrelated_.der()}, false},
        {"attacker leaf, copy of pinned leaf", &attacker, {&leaf_}, {leaf_.der()}, false},
        {"attacker leaf, copy of pinned intermediate",
         &attacker,
         {&intermediate_},
         {intermediate_.der()},
         false},
        {"expired leaf under pinned root", &expired, {&intermediate_}, {authority_.der()}, false},
        {"leaf for another host", &otherHost, {&intermediate_}, {authority_.der()}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RawWebSocketServer server(c.identity, c.chain);
        auto req = request(server);
        req.pinnedCertificates = c.pins;
        auto outcome = connect(server, req);
        EXPECT_EQ(outcome.opened.has_value(), c.opens);
        if (!c.opens) {
            ASSERT_TRUE(outcome.failed);
            EXPECT_EQ(outcome.failed->error.domain(), platform::URLError::domain);
            EXPECT_EQ(outcome.failed->error.code(), invalidServerCertificate);
            EXPECT_EQ(outcome.failed->error.localizedDescription(), "Invalid server certificate.");
        }
    }
}

TEST_F(WSTLSConnectionTest, AnUntrustedChainFailsUnlessAllowed) {
    auto refused = connect(server_, request(server_));
    ASSERT_TRUE(refused.failed);
    EXPECT_EQ(refused.failed->error.code(), platform::URLError::serverCertificateUntrusted);

    auto allowed = connect(server_, request(server_), nullptr, true);
    EXPECT_TRUE(allowed.opened);
}

}  // namespace
}  // namespace pindle
