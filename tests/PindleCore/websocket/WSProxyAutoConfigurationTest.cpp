#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "PindleCore/websocket/WSProxyConnect.hpp"
#include "PindleCore/websocket/WSWebSocket.hpp"
#include "RawWebSocketPeer.hpp"
#include "RecordingSocketDelegate.hpp"
#include "platform/dispatch/Clock.hpp"
#include "platform/dispatch/MainThread.hpp"
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

// PAC servers that misbehave, played by raw servers in the test.
class WSProxyAutoConfigurationBoundsTest : public ::testing::Test {
  protected:
    std::shared_ptr<WSWebSocket> startWithPAC(const std::string& url) {
        return startWithPAC(WSURLRequest(*platform::URL::fromString(url)));
    }
    std::shared_ptr<WSWebSocket> startWithPAC(WSURLRequest request) {
        const std::string pacURL = "http://127.0.0.1:" + std::to_string(pac_.port()) + "/proxy.pac";
        auto socket = WSWebSocket::create(std::move(request));
        socket->setProxySettings(platform::ProxySettings::fromVariables(
            [pacURL](const std::string& name) -> std::optional<std::string> {
                if (name == "PINDLE_PROXY_PAC_URL")
                    return pacURL;
                return std::nullopt;
            }));
        socket->setDelegate(delegate_);
        socket->setDelegateDispatchQueue(platform::DispatchQueue::create("ws.pac.delegate"));
        socket->open();
        return socket;
    }

    // The connection that went around the PAC to the server itself, opened.
    void expectDirectConnection() {
        auto peer = server_.accept();
        ASSERT_TRUE(peer) << "the connection never went direct";
        EXPECT_EQ(peer->acceptHandshake().substr(0, 12), "GET /direct ");
        EXPECT_TRUE(delegate_->waitFor("open"));
    }

    RawWebSocketServer pac_;
    RawWebSocketServer server_;
    std::shared_ptr<RecordingSocketDelegate> delegate_ =
        std::make_shared<RecordingSocketDelegate>();
};

TEST_F(WSProxyAutoConfigurationBoundsTest, AnEndlessScriptIsCutOffAndTheConnectionGoesDirect) {
    std::atomic<bool> stop{false};
    std::atomic<bool> clientLeft{false};
    std::atomic<std::size_t> sent{0};
    std::thread feeder([&] {
        auto peer = pac_.accept();
        if (!peer)
            return;
        peer->readUntil("\r\n\r\n");
        peer->write("HTTP/1.1 200 OK\r\nContent-Type: application/x-ns-proxy-autoconfig\r\n\r\n");
        const std::string comment = "// " + std::string(64 * 1024 - 4, 'x') + "\n";
        while (!stop) {
            if (!peer->write(comment)) {
                clientLeft = true;
                return;
            }
            sent += comment.size();
        }
    });
    auto socket = startWithPAC(server_.url("/direct"));
    expectDirectConnection();
    // The download stopped at its cap: the PAC server's writes fail soon after.
    EXPECT_TRUE(platform::MainThread::runUntil([&] { return clientLeft.load(); }, 10));
    stop = true;
    feeder.join();
    EXPECT_LT(sent.load(), std::size_t{64} << 20);
}

TEST_F(WSProxyAutoConfigurationBoundsTest, ADownloadThatNeverEndsIsBoundedAndEndsWithTheSocket) {
    // Time moves only when the test says: nothing but the case's own end stops the download.
    auto clock = std::make_shared<platform::VirtualClock>();
    platform::Clock::setCurrent(clock);
    struct Restore {
        ~Restore() { platform::Clock::setCurrent(nullptr); }
    } restore;
    enum class End { downloadBound, openTimeOut, close };
    struct Case {
        const char* name;
        double openTimeout;  // the socket's own, shorter than the download's bound or not
        End end;
    };
    const Case cases[] = {
        {"the download's bound passes: direct", 60.0, End::downloadBound},
        {"the socket times out first: the download ends with it", 1.0, End::openTimeOut},
        {"the socket is closed: the download ends at once", 60.0, End::close},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        delegate_ = std::make_shared<RecordingSocketDelegate>();
        std::promise<void> asked;
        std::atomic<bool> clientLeft{false};
        std::thread silent([&] {
            auto peer = pac_.accept();
            if (!peer)
                return;
            peer->readUntil("\r\n\r\n");
            asked.set_value();
            clientLeft = peer->waitForEnd();
        });
        WSURLRequest request(*platform::URL::fromString(server_.url("/direct")));
        request.timeoutInterval = c.openTimeout;
        auto socket = startWithPAC(request);
        const bool wasAsked =
            asked.get_future().wait_for(std::chrono::seconds(10)) == std::future_status::ready;
        if (wasAsked && c.end == End::close) {
            socket->close();
            auto closed = delegate_->waitFor("close");
            EXPECT_TRUE(closed);
            EXPECT_EQ(closed ? closed->code : 0, 1006);
            // Reported before the download ended and the connection went direct.
            EXPECT_FALSE(server_.hasWaitingConnection());
        } else if (wasAsked) {
            clock->advance(
                std::min(c.openTimeout, WSProxyConnect::autoConfigurationDownloadTimeout) + 0.5);
            if (c.end == End::downloadBound)
                expectDirectConnection();
            else
                EXPECT_TRUE(delegate_->waitFor("fail"));
        }
        silent.join();
        ASSERT_TRUE(wasAsked) << "the PAC was never asked for";
        EXPECT_TRUE(clientLeft) << "the download outlived its bound or its socket";
    }
}

}  // namespace
}  // namespace pindle
