#include <gtest/gtest.h>

#include "PindleCore/websocket/WSWebSocket.hpp"
#include "RawWebSocketPeer.hpp"
#include "RecordingSocketDelegate.hpp"
#include "tools/emulator/HttpServer.hpp"

namespace pindle {
namespace {

using testing::RawPeer;
using testing::RawWebSocketServer;
using testing::RecordingSocketDelegate;

std::string readBytes(RawPeer& peer, std::size_t count) {
    std::string bytes(count, '\0');
    EXPECT_TRUE(peer.readExactly(bytes.data(), count));
    return bytes;
}

constexpr double answeringScriptTimeout = 60;

// PAC files served by the emulator; the WebSocket server, and the proxies a script names,
// are raw servers in the test, so each case sees where the client went first.
class WSProxyAutoConfigurationTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(pacServer_.start()); }

    // `timeout` bounds the script's run: short where the script is meant not to answer, long
    // where it answers, so that a loaded machine starting the evaluator slowly is not taken
    // for a script that never answers.
    std::shared_ptr<WSWebSocket> start(const std::string& url, const std::string& script,
                                       double timeout = 1.0) {
        pacServer_.script().clear();
        pacServer_.addReply(
            "GET", "/proxy.pac",
            emulator::Response::text(200, script, "application/x-ns-proxy-autoconfig"));
        auto settings = platform::ProxySettings::fromVariables(
            [this](const std::string& name) -> std::optional<std::string> {
                if (name == "PINDLE_PROXY_PAC_URL")
                    return pacServer_.baseURL() + "/proxy.pac";
                return std::nullopt;
            });
        settings.setAutoConfigurationTimeout(timeout);
        auto socket = WSWebSocket::create(*platform::URL::fromString(url));
        socket->setProxySettings(settings);
        socket->setDelegate(delegate_);
        socket->setDelegateDispatchQueue(platform::DispatchQueue::create("ws.pac.delegate"));
        socket->open();
        return socket;
    }

    std::string proxyAt(const RawWebSocketServer& server) {
        return "127.0.0.1:" + std::to_string(server.port());
    }

    emulator::HttpServer pacServer_;
    RawWebSocketServer server_;
    std::shared_ptr<RecordingSocketDelegate> delegate_ =
        std::make_shared<RecordingSocketDelegate>();
};

TEST_F(WSProxyAutoConfigurationTest, ConnectsDirectlyWhenTheScriptSaysSoOrCannotAnswer) {
    const std::string cases[] = {
        "function FindProxyForURL(url, host) { return 'DIRECT'; }",
        "function FindProxyForURL(url, host) { throw new Error('broken'); }",
        "function FindProxyForURL(url, host) { for (;;) {} }",
        "function FindProxyForURL(url, host) { var a = []; for (;;) a.push(new Array(1e6)); }",
        "not a script (",
    };
    for (const auto& script : cases) {
        SCOPED_TRACE(script);
        delegate_ = std::make_shared<RecordingSocketDelegate>();
        auto socket = start(server_.url("/direct"), script);
        auto peer = server_.accept();
        ASSERT_TRUE(peer);
        std::string request = peer->acceptHandshake();
        EXPECT_EQ(request.substr(0, 12), "GET /direct ");
        EXPECT_TRUE(delegate_->waitFor("open"));
    }
}

TEST_F(WSProxyAutoConfigurationTest, UsesTheFirstProxyTheScriptNames) {
    RawWebSocketServer httpProxy;
    RawWebSocketServer socksProxy;
    struct Case {
        const char* name;
        std::string answer;
        RawWebSocketServer* expected;
    };
    const Case cases[] = {
        {"HTTP proxy", "PROXY " + proxyAt(httpProxy), &httpProxy},
        {"SOCKS proxy", "SOCKS " + proxyAt(socksProxy), &socksProxy},
        {"a list with fallbacks",
         "SOCKS5 " + proxyAt(socksProxy) + "; PROXY " + proxyAt(httpProxy) + "; DIRECT",
         &socksProxy},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        delegate_ = std::make_shared<RecordingSocketDelegate>();
        // The script sees the scheme's lookup URL and the host, and may use the helpers.
        auto socket = start("ws://videos.example.test:8080/feed",
                            "function FindProxyForURL(url, host) {\n"
                            "  if (url !== 'http://videos.example.test' || "
                            "      !dnsDomainIs(host, '.example.test') ||\n"
                            "      !shExpMatch(host, 'videos.*')) return 'DIRECT';\n"
                            "  return '" +
                                c.answer + "';\n}",
                            answeringScriptTimeout);
        auto peer = c.expected->accept();
        ASSERT_TRUE(peer);
        if (c.expected == &httpProxy)
            EXPECT_EQ(peer->readUntil("\r\n").substr(0, 33), "CONNECT videos.example.test:8080 ");
        else
            EXPECT_EQ(readBytes(*peer, 3), std::string("\x05\x01\x00", 3));
    }
}

TEST_F(WSProxyAutoConfigurationTest, APACThatCannotBeDownloadedMeansDirect) {
    pacServer_.addReply("GET", "/proxy.pac", emulator::Response::text(404, "gone"));
    auto settings = platform::ProxySettings::fromVariables(
        [this](const std::string& name) -> std::optional<std::string> {
            if (name == "PINDLE_PROXY_PAC_URL")
                return pacServer_.baseURL() + "/proxy.pac";
            return std::nullopt;
        });
    auto socket = WSWebSocket::create(*platform::URL::fromString(server_.url("/direct")));
    socket->setProxySettings(settings);
    socket->setDelegate(delegate_);
    socket->setDelegateDispatchQueue(platform::DispatchQueue::create("ws.pac.delegate"));
    socket->open();
    auto peer = server_.accept();
    ASSERT_TRUE(peer);
    peer->acceptHandshake();
    EXPECT_TRUE(delegate_->waitFor("open"));
    EXPECT_EQ(pacServer_.requestLog().count(), 1u);
}

}  // namespace
}  // namespace pindle
