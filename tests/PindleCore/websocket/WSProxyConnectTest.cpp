#include "PindleCore/websocket/WSProxyConnect.hpp"

#include <gtest/gtest.h>

#include "PindleCore/websocket/WSUtilities.hpp"
#include "PindleCore/websocket/WSWebSocket.hpp"
#include "RawWebSocketPeer.hpp"
#include "RecordingSocketDelegate.hpp"

namespace pindle {
namespace {

using testing::RawPeer;
using testing::RawWebSocketServer;
using testing::RecordingSocketDelegate;

// A socket to `url` whose system settings name `proxy` as HTTP proxy for ws URLs.
std::shared_ptr<WSWebSocket> startThroughProxy(
    const std::string& url, const std::string& proxy,
    const std::shared_ptr<RecordingSocketDelegate>& delegate,
    const std::string& variable = "http_proxy") {
    auto socket = WSWebSocket::create(*platform::URL::fromString(url));
    socket->setProxySettings(platform::ProxySettings::fromVariables(
        [proxy, variable](const std::string& name) -> std::optional<std::string> {
            if (name == variable)
                return proxy;
            return std::nullopt;
        }));
    socket->setDelegate(delegate);
    socket->setDelegateDispatchQueue(platform::DispatchQueue::create("ws.proxy.delegate"));
    socket->open();
    return socket;
}

TEST(WSProxyConnectTest, TunnelsThroughAnHTTPProxyWithCONNECT) {
    // The test server plays the proxy and, once the tunnel is up, the WebSocket server.
    RawWebSocketServer proxy;
    auto delegate = std::make_shared<RecordingSocketDelegate>();
    auto socket = startThroughProxy("ws://videos.example.test:8080/feed",
                                    "127.0.0.1:" + std::to_string(proxy.port()), delegate);
    auto peer = proxy.accept();
    ASSERT_TRUE(peer);
    EXPECT_EQ(peer->readUntil("\r\n\r\n"),
              "CONNECT videos.example.test:8080 HTTP/1.1\r\n"
              "Host: videos.example.test\r\n"
              "Connection: keep-alive\r\n"
              "Proxy-Connection: keep-alive\r\n\r\n");
    peer->write("HTTP/1.1 200 Connection established\r\n\r\n");
    std::string upgrade = peer->acceptHandshake();
    EXPECT_EQ(RawPeer::headerValue(upgrade, "Host"), "videos.example.test:8080");
    ASSERT_TRUE(delegate->waitFor("open"));
}

TEST(WSProxyConnectTest, TheTunnelGoesToTheSchemesPortWhenTheURLNamesNone) {
    RawWebSocketServer proxy;
    auto delegate = std::make_shared<RecordingSocketDelegate>();
    auto socket = startThroughProxy("wss://videos.example.test/feed",
                                    "http://127.0.0.1:" + std::to_string(proxy.port()), delegate,
                                    "https_proxy");
    auto peer = proxy.accept();
    ASSERT_TRUE(peer);
    EXPECT_EQ(peer->readUntil("\r\n").substr(0, 39), "CONNECT videos.example.test:443 HTTP/1.");
}

TEST(WSProxyConnectTest, ARefusedTunnelFailsWithTheProxysStatus) {
    RawWebSocketServer proxy;
    auto delegate = std::make_shared<RecordingSocketDelegate>();
    auto socket = startThroughProxy("ws://videos.example.test/feed",
                                    "127.0.0.1:" + std::to_string(proxy.port()), delegate);
    auto peer = proxy.accept();
    ASSERT_TRUE(peer);
    peer->readUntil("\r\n\r\n");
    peer->write("HTTP/1.1 407 Proxy Authentication Required\r\nContent-Length: 0\r\n\r\n");
    auto failure = delegate->waitFor("fail");
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->error.domain(), WSWebSocketErrorDomain);
    EXPECT_EQ(failure->error.code(), WSErrorCode::badResponseCode);
    EXPECT_EQ(failure->error.localizedDescription(),
              "Received bad response code from proxy server: 407.");
    EXPECT_EQ(failure->error.userInfo().at(WSHTTPResponseErrorKey).asWholeNumber(), 407);
}

TEST(WSProxyConnectTest, ASOCKSProxyIsRefusedRatherThanBypassed) {
    auto delegate = std::make_shared<RecordingSocketDelegate>();
    auto socket = startThroughProxy("ws://videos.example.test/feed", "socks5://127.0.0.1:1080",
                                    delegate, "all_proxy");
    auto failure = delegate->waitFor("fail");
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->error.code(), WSErrorCode::badResponseCode);
    EXPECT_NE(failure->error.localizedDescription().find("SOCKS"), std::string::npos);
}

}  // namespace
}  // namespace pindle
