#include "PindleCore/websocket/WSWebSocket.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <limits>
#include <mutex>
#include <set>
#include <thread>

#include "PindleCore/websocket/private/WSUtilities.hpp"
#include "RawWebSocketPeer.hpp"
#include "RecordingSocketDelegate.hpp"
#include "platform/crypto/SecureRandom.hpp"
#include "platform/dispatch/Clock.hpp"
#include "platform/dispatch/MainThread.hpp"
#include "platform/foundation/Boxed.hpp"
#include "platform/net/stream/RunLoop.hpp"

namespace pindle {
namespace {

using testing::RawPeer;
using testing::RawWebSocketServer;
using testing::RecordingSocketDelegate;

constexpr std::uint8_t kText = 0x1, kBinary = 0x2, kClose = 0x8, kPing = 0x9, kPong = 0xA;

// Proxy settings that name no proxy, so the machine's environment cannot redirect a test.
platform::ProxySettings direct() {
    return platform::ProxySettings::fromVariables([](const std::string&) { return std::nullopt; });
}

class WSWebSocketTest : public ::testing::Test {
  protected:
    // Opens a socket to the server with its delegate on a queue of its own; the server
    // side is left to the test.
    std::shared_ptr<WSWebSocket> start(WSURLRequest request,
                                       std::vector<std::string> protocols = {},
                                       std::shared_ptr<WSSecurityPolicy> policy = nullptr) {
        auto socket = policy ? WSWebSocket::create(std::move(request), std::move(protocols), policy)
                             : WSWebSocket::create(std::move(request), std::move(protocols), false);
        socket->setProxySettings(direct());
        socket->setDelegate(delegate_);
        socket->setDelegateDispatchQueue(platform::DispatchQueue::create("ws.test.delegate"));
        socket->open();
        return socket;
    }
    std::shared_ptr<WSWebSocket> start(const std::string& url) {
        return start(WSURLRequest(*platform::URL::fromString(url)));
    }

    // A socket that has completed its handshake with the server's next connection.
    std::shared_ptr<WSWebSocket> openSocket(std::unique_ptr<RawPeer>& peer) {
        auto socket = start(server_.url("/"));
        peer = server_.accept();
        EXPECT_TRUE(peer);
        if (!peer)
            return socket;
        peer->acceptHandshake();
        EXPECT_TRUE(delegate_->waitFor("open"));
        return socket;
    }

    RawWebSocketServer server_;
    std::shared_ptr<RecordingSocketDelegate> delegate_ =
        std::make_shared<RecordingSocketDelegate>();
};

TEST_F(WSWebSocketTest, SendsTheUpgradeRequestAndOpensOnTheRightAcceptValue) {
    WSURLRequest request(*platform::URL::fromString(server_.url("/chat/room?token=a%20b")));
    request.headerFields = {
        {"X-Client", "pindle"}, {"origin", "http://example.test"}, {"X-Bad", "a\r\nInjected: yes"}};
    auto socket = start(request, {"chat", "superchat"});
    auto peer = server_.accept();
    ASSERT_TRUE(peer);
    std::string sent = peer->acceptHandshake(101, std::nullopt, "Sec-WebSocket-Protocol: chat\r\n");

    std::string key = RawPeer::headerValue(sent, "Sec-WebSocket-Key");
    EXPECT_EQ(key.size(), 24u);
    std::string host = "127.0.0.1:" + std::to_string(server_.port());
    EXPECT_EQ(sent,
              "GET /chat/room?token=a%20b HTTP/1.1\r\n"
              "Host: " +
                  host +
                  "\r\n"
                  "Upgrade: websocket\r\n"
                  "Connection: Upgrade\r\n"
                  "Sec-WebSocket-Key: " +
                  key +
                  "\r\n"
                  "Sec-WebSocket-Version: 13\r\n"
                  "Origin: http://example.test\r\n"
                  "Sec-WebSocket-Protocol: chat, superchat\r\n"
                  "X-Client: pindle\r\n"
                  "\r\n");
    ASSERT_TRUE(delegate_->waitFor("open"));
    EXPECT_EQ(socket->readyState(), WSReadyState::open);
    EXPECT_EQ(socket->protocol(), "chat");
    ASSERT_TRUE(socket->receivedHTTPHeaders());
    EXPECT_EQ(socket->receivedHTTPHeaders()->statusCode(), 101);
}

TEST_F(WSWebSocketTest, RefusesABadHandshakeAnswer) {
    // Each answer is written with "ACCEPT" replaced by the right Sec-WebSocket-Accept value.
    const std::string good =
        "Upgrade: websocket\r\nConnection: Upgrade\r\n"
        "Sec-WebSocket-Accept: ACCEPT\r\n";
    struct Case {
        const char* name;
        std::string answer;
        std::int64_t code;
        std::optional<int> httpStatus;
    };
    const Case cases[] = {
        {"status 400", "HTTP/1.1 400 Bad Request\r\n" + good + "\r\n", WSErrorCode::badResponseCode,
         400},
        {"status 503", "HTTP/1.1 503 Unavailable\r\n" + good + "\r\n", WSErrorCode::badResponseCode,
         503},
        {"status 200", "HTTP/1.1 200 OK\r\n" + good + "\r\n", WSErrorCode::badResponseCode, 200},
        {"status 302", "HTTP/1.1 302 Found\r\n" + good + "\r\n", WSErrorCode::badResponseCode, 302},
        {"wrong accept",
         "HTTP/1.1 101 OK\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
         "Sec-WebSocket-Accept: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n",
         WSErrorCode::invalidHandshake, std::nullopt},
        {"no accept", "HTTP/1.1 101 OK\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n\r\n",
         WSErrorCode::invalidHandshake, std::nullopt},
        {"no upgrade field",
         "HTTP/1.1 101 OK\r\nConnection: Upgrade\r\nSec-WebSocket-Accept: ACCEPT\r\n\r\n",
         WSErrorCode::invalidHandshake, std::nullopt},
        {"upgrade to something else",
         "HTTP/1.1 101 OK\r\nUpgrade: h2c\r\nConnection: Upgrade\r\n"
         "Sec-WebSocket-Accept: ACCEPT\r\n\r\n",
         WSErrorCode::invalidHandshake, std::nullopt},
        {"connection not upgrade",
         "HTTP/1.1 101 OK\r\nUpgrade: websocket\r\nConnection: keep-alive\r\n"
         "Sec-WebSocket-Accept: ACCEPT\r\n\r\n",
         WSErrorCode::invalidHandshake, std::nullopt},
        {"unrequested protocol",
         "HTTP/1.1 101 OK\r\n" + good + "Sec-WebSocket-Protocol: other\r\n\r\n",
         WSErrorCode::invalidHandshake, std::nullopt},
        {"unrequested extension",
         "HTTP/1.1 101 OK\r\n" + good + "Sec-WebSocket-Extensions: permessage-deflate\r\n\r\n",
         WSErrorCode::invalidHandshake, std::nullopt},
        {"bare carriage return before the end",
         "HTTP/1.1 101 OK\r\n" + good + "X-Odd: yes\r\r\n\r\n", WSErrorCode::invalidHandshake,
         std::nullopt},
        {"head over 64 KiB", "HTTP/1.1 101 OK\r\n" + good + "X-Pad: " + std::string(70000, 'a'),
         WSErrorCode::invalidHandshake, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        delegate_ = std::make_shared<RecordingSocketDelegate>();
        auto socket = start(server_.url("/"));
        auto peer = server_.accept();
        ASSERT_TRUE(peer);
        std::string request = peer->readUntil("\r\n\r\n");
        std::string answer = c.answer;
        if (auto at = answer.find("ACCEPT"); at != std::string::npos)
            answer.replace(at, 6,
                           RawPeer::acceptFor(RawPeer::headerValue(request, "Sec-WebSocket-Key")));
        // A frame right behind the head must never be read as a message.
        peer->write(answer + RawPeer::frame(kText, "not a message"));
        auto failure = delegate_->waitFor("fail");
        ASSERT_TRUE(failure);
        EXPECT_EQ(failure->error.domain(), WSWebSocketErrorDomain);
        EXPECT_EQ(failure->error.code(), c.code);
        auto status = failure->error.userInfo().find(WSHTTPResponseErrorKey);
        if (c.httpStatus) {
            ASSERT_NE(status, failure->error.userInfo().end());
            EXPECT_EQ(status->second.asWholeNumber(), *c.httpStatus);
        }
        EXPECT_TRUE(peer->waitForEnd());
        EXPECT_EQ(socket->readyState(), WSReadyState::closed);
        EXPECT_EQ(delegate_->kinds(), std::vector<std::string>{"fail"});
    }
}

TEST_F(WSWebSocketTest, TheOpenTimeOutFiresWhileTheServerKeepsSendingAHead) {
    WSURLRequest request(*platform::URL::fromString(server_.url("/")));
    request.timeoutInterval = 0.3;
    auto socket = start(request);
    auto peer = server_.accept();
    ASSERT_TRUE(peer);
    peer->readUntil("\r\n\r\n");
    peer->write("HTTP/1.1 101 Switching Protocols\r\n");
    std::atomic<bool> stop{false};
    std::thread trickle([&] {
        for (int i = 0; i < 400 && !stop; ++i) {
            peer->write("X: y\r\n");
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    bool closed = platform::MainThread::runUntil(
        [&] { return socket->readyState() == WSReadyState::closed; }, 10);
    stop = true;
    trickle.join();
    ASSERT_TRUE(closed);
    auto failure = delegate_->waitFor("fail");
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->error.code(), platform::URLError::timedOut);
}

TEST_F(WSWebSocketTest, WritesEveryMessageAsOneMaskedFrameWithTheShortestLength) {
    std::unique_ptr<RawPeer> peer;
    auto socket = openSocket(peer);
    ASSERT_TRUE(peer);
    struct Case {
        std::size_t size;
        std::uint8_t lengthCode;
    };
    for (auto c : {Case{0, 0}, Case{125, 125}, Case{126, 126}, Case{65535, 126}, Case{65536, 127},
                   Case{200000, 127}}) {
        SCOPED_TRACE(c.size);
        std::string payload(c.size, '\0');
        for (std::size_t i = 0; i < c.size; ++i) payload[i] = static_cast<char>(i * 7);
        ASSERT_TRUE(socket->sendData(platform::Data(payload.begin(), payload.end())));
        auto frame = peer->readFrame();
        ASSERT_TRUE(frame);
        EXPECT_TRUE(frame->fin);
        EXPECT_TRUE(frame->masked);
        EXPECT_EQ(frame->opcode, kBinary);
        EXPECT_EQ(frame->lengthCode, c.lengthCode);
        EXPECT_EQ(frame->payload, payload);
    }
    ASSERT_TRUE(socket->sendString("héllo"));
    auto text = peer->readFrame();
    ASSERT_TRUE(text);
    EXPECT_EQ(text->opcode, kText);
    EXPECT_EQ(text->payload, "héllo");
    ASSERT_TRUE(socket->sendPing(platform::Data{1, 2, 3}));
    auto ping = peer->readFrame();
    ASSERT_TRUE(ping);
    EXPECT_EQ(ping->opcode, kPing);
    EXPECT_EQ(ping->payload, std::string("\1\2\3"));
}

TEST_F(WSWebSocketTest, ReassemblesFragmentsAndAnswersPingsInBetween) {
    std::unique_ptr<RawPeer> peer;
    auto socket = openSocket(peer);
    ASSERT_TRUE(peer);
    // "né" split inside the two-byte "é", with an empty ping between the fragments, then a
    // long binary message in one frame, all in one write.
    std::string text = "n\xC3\xA9!";
    std::string large(70000, 'x');
    peer->write(RawPeer::frame(kText, text.substr(0, 2), false) + RawPeer::frame(kPing, "") +
                RawPeer::frame(0x0, text.substr(2, 1), false) +
                RawPeer::frame(0x0, text.substr(3), true) + RawPeer::frame(kBinary, large) +
                RawPeer::frame(kPing, "abc"));
    auto pong = peer->readFrame();
    ASSERT_TRUE(pong);
    EXPECT_EQ(pong->opcode, kPong);
    EXPECT_EQ(pong->payload, "");
    pong = peer->readFrame();
    ASSERT_TRUE(pong);
    EXPECT_EQ(pong->opcode, kPong);
    EXPECT_EQ(pong->payload, "abc");
    // The pong can leave before the last ping is told to the delegate.
    ASSERT_TRUE(delegate_->waitForCount(5));
    auto calls = delegate_->calls();
    std::vector<std::string> messages;
    for (const auto& call : calls)
        if (call.kind == "string" || call.kind == "data")
            messages.push_back(call.text);
    EXPECT_EQ(messages, (std::vector<std::string>{text, large}));
    EXPECT_EQ(delegate_->kinds(),
              (std::vector<std::string>{"open", "ping", "string", "data", "ping"}));
}

TEST_F(WSWebSocketTest, TextGoesToTheDataCallbackWhenTheDelegateAsks) {
    delegate_ = std::make_shared<RecordingSocketDelegate>(false);
    std::unique_ptr<RawPeer> peer;
    auto socket = openSocket(peer);
    ASSERT_TRUE(peer);
    peer->write(RawPeer::frame(kText, "{\"a\":1}"));
    auto data = delegate_->waitFor("data");
    ASSERT_TRUE(data);
    EXPECT_EQ(data->text, "{\"a\":1}");
}

// The first eight bytes of a 64-bit payload length, most significant first.
std::string longLength(std::uint8_t opcode, std::uint64_t length, bool fin = true) {
    std::string bytes;
    bytes += static_cast<char>((fin ? 0x80 : 0) | opcode);
    bytes += static_cast<char>(127);
    for (int shift = 56; shift >= 0; shift -= 8)
        bytes += static_cast<char>((length >> shift) & 0xFF);
    return bytes;
}

TEST_F(WSWebSocketTest, AViolationStopsReadingSendsItsCodeAndEndsTheConnection) {
    // Every case is followed on the wire by a ping and a text message: neither may be
    // answered or delivered once the violation is known.
    const std::string after = RawPeer::frame(kPing, "late") + RawPeer::frame(kText, "late");
    struct Case {
        const char* name;
        std::string bytes;
        int code;
        std::string reason;
        std::size_t maximumMessageSize = WSFrameReader::defaultMaximumMessageSize;
    };
    const Case cases[] = {
        {"reserved bits", RawPeer::frame(kText, "x", true, 0x40), 1002, "Server used RSV bits"},
        {"masked frame", RawPeer::frame(kText, "x", true, 0, true), 1002,
         "Client must receive unmasked data"},
        {"ping of 126 bytes", RawPeer::frame(kPing, std::string(126, 'p')), 1002,
         "Control frames cannot have payloads larger than 126 bytes"},
        {"fragmented ping", RawPeer::frame(kPing, "p", false), 1002,
         "Fragmented control frames not allowed"},
        {"continuation first", RawPeer::frame(0x0, "x"), 1002, "cannot continue a message"},
        {"new message inside another",
         RawPeer::frame(kText, "a", false) + RawPeer::frame(kText, "b"), 1002,
         "all data frames after the initial data frame must have opcode 0"},
        {"unknown opcode, payload never read", longLength(0x3, 1ull << 40), 1002,
         "Unknown opcode 3"},
        {"length with the top bit set", longLength(kBinary, 1ull << 63), 1002,
         "Frame length has its most significant bit set"},
        {"frame announcing 2^40 bytes", longLength(kBinary, 1ull << 40), 1009, "Message too big"},
        {"fragments over the limit",
         RawPeer::frame(kBinary, std::string(600, 'a'), false) +
             RawPeer::frame(0x0, std::string(600, 'b'), false),
         1009, "Message too big", 1000},
        {"close code 1004", RawPeer::frame(kClose, RawPeer::closePayload(1004)), 1002,
         "Cannot have close code of 1004"},
        {"close code 1006", RawPeer::frame(kClose, RawPeer::closePayload(1006)), 1002,
         "Cannot have close code of 1006"},
        {"close code 1012", RawPeer::frame(kClose, RawPeer::closePayload(1012)), 1002,
         "Cannot have close code of 1012"},
        {"close code 2999", RawPeer::frame(kClose, RawPeer::closePayload(2999)), 1002,
         "Cannot have close code of 2999"},
        {"one-byte close", RawPeer::frame(kClose, "\x03"), 1002,
         "Payload for close must be larger than 2 bytes"},
        {"close reason not UTF-8", RawPeer::frame(kClose, RawPeer::closePayload(1000, "\xFF")),
         1002, "Close reason MUST be valid UTF-8"},
        {"invalid text", RawPeer::frame(kText, "ok\xC3\x28"), 1007,
         "Text frames must be valid UTF-8"},
        // Each is cut after two bytes that no continuation can make valid.
        {"above U+10FFFF, cut", RawPeer::frame(kText, "\xF4\x90", false), 1007,
         "Text frames must be valid UTF-8"},
        {"overlong, cut", RawPeer::frame(kText, "\xE0\x80", false), 1007,
         "Text frames must be valid UTF-8"},
        {"surrogate, cut", RawPeer::frame(kText, "\xED\xA0", false), 1007,
         "Text frames must be valid UTF-8"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        delegate_ = std::make_shared<RecordingSocketDelegate>();
        auto socket = start(server_.url("/"));
        socket->setMaximumMessageSize(c.maximumMessageSize);
        auto peer = server_.accept();
        ASSERT_TRUE(peer);
        peer->acceptHandshake();
        ASSERT_TRUE(delegate_->waitFor("open"));
        peer->write(c.bytes + after);
        auto frame = peer->readFrame();
        ASSERT_TRUE(frame);
        EXPECT_EQ(frame->opcode, kClose);
        ASSERT_GE(frame->payload.size(), 2u);
        EXPECT_EQ(((frame->payload[0] & 0xFF) << 8) | (frame->payload[1] & 0xFF), c.code);
        EXPECT_EQ(frame->payload.substr(0, 2 + c.reason.size()).substr(2), c.reason);
        // The client does not wait for the server's close: it fails the connection.
        EXPECT_FALSE(peer->readFrame());
        auto closed = delegate_->waitFor("close");
        ASSERT_TRUE(closed);
        EXPECT_EQ(closed->code, 1006);
        EXPECT_FALSE(closed->clean);
        EXPECT_EQ(delegate_->kinds(), (std::vector<std::string>{"open", "close"}));
    }
}

TEST_F(WSWebSocketTest, NothingAfterTheServersCloseFrameIsRead) {
    std::unique_ptr<RawPeer> peer;
    auto socket = openSocket(peer);
    ASSERT_TRUE(peer);
    peer->write(RawPeer::frame(kClose, RawPeer::closePayload(1000)) +
                RawPeer::frame(kText, "late") + RawPeer::frame(kPing, "late"));
    auto reply = peer->readFrame();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->opcode, kClose);
    EXPECT_FALSE(peer->readFrame());  // no pong
    auto closed = delegate_->waitFor("close");
    ASSERT_TRUE(closed);
    EXPECT_TRUE(closed->clean);
    EXPECT_EQ(delegate_->kinds(), (std::vector<std::string>{"open", "close"}));
}

TEST_F(WSWebSocketTest, AStreamEndRightAfterTheServersCloseFrameStillClosesCleanly) {
    // The end of the stream often arrives in the same read as the close frame; whichever
    // the client handles first, the close frame decides the outcome.
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        delegate_ = std::make_shared<RecordingSocketDelegate>();
        std::unique_ptr<RawPeer> peer;
        auto socket = openSocket(peer);
        ASSERT_TRUE(peer);
        peer->write(RawPeer::frame(kText, "bye") +
                    RawPeer::frame(kClose, RawPeer::closePayload(4000, "done")));
        peer->shutdownWrite();
        auto reply = peer->readFrame();
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->opcode, kClose);
        auto closed = delegate_->waitFor("close");
        ASSERT_TRUE(closed);
        EXPECT_EQ(closed->code, 4000);
        EXPECT_EQ(closed->text, "done");
        EXPECT_TRUE(closed->clean);
    }
}

TEST_F(WSWebSocketTest, AnswersTheServersCloseAndReportsItsCodeAndReason) {
    struct Case {
        std::string payload;
        int reportedCode;
        std::string reason;
    };
    for (const auto& c : {Case{RawPeer::closePayload(4999, "bye"), 4999, "bye"},
                          Case{RawPeer::closePayload(1000), 1000, ""}, Case{"", 1005, ""}}) {
        SCOPED_TRACE(c.reportedCode);
        delegate_ = std::make_shared<RecordingSocketDelegate>();
        std::unique_ptr<RawPeer> peer;
        auto socket = openSocket(peer);
        ASSERT_TRUE(peer);
        peer->write(RawPeer::frame(kClose, c.payload));
        auto reply = peer->readFrame();
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->opcode, kClose);
        EXPECT_EQ(reply->payload, RawPeer::closePayload(1000));
        EXPECT_TRUE(peer->waitForEnd());
        auto closed = delegate_->waitFor("close");
        ASSERT_TRUE(closed);
        EXPECT_EQ(closed->code, c.reportedCode);
        EXPECT_EQ(closed->text, c.reason);
        EXPECT_TRUE(closed->clean);
        EXPECT_EQ(socket->readyState(), WSReadyState::closed);
    }
}

TEST_F(WSWebSocketTest, ClientCloseWaitsForTheServersCloseFrame) {
    std::unique_ptr<RawPeer> peer;
    auto socket = openSocket(peer);
    ASSERT_TRUE(peer);
    socket->closeWithCode(4001, std::string(200, 'r'));  // a reason too long for one frame
    socket->closeWithCode(1000, std::nullopt);           // no effect while closing
    auto frame = peer->readFrame();
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->opcode, kClose);
    EXPECT_EQ(frame->payload, RawPeer::closePayload(4001, std::string(123, 'r')));
    EXPECT_EQ(socket->readyState(), WSReadyState::closing);
    platform::Error error;
    EXPECT_FALSE(socket->sendString("late", &error));
    EXPECT_EQ(error.code(), WSErrorCode::notOpen);

    peer->write(RawPeer::frame(kClose, RawPeer::closePayload(1000)));
    EXPECT_TRUE(peer->waitForEnd());
    auto closed = delegate_->waitFor("close");
    ASSERT_TRUE(closed);
    EXPECT_EQ(closed->code, 1000);
    EXPECT_TRUE(closed->clean);
}

TEST_F(WSWebSocketTest, AServerThatDropsTheConnectionEndsItUncleanly) {
    std::unique_ptr<RawPeer> peer;
    auto socket = openSocket(peer);
    ASSERT_TRUE(peer);
    peer->write(RawPeer::frame(kText, "last words"));
    peer->drop();
    auto closed = delegate_->waitFor("close");
    ASSERT_TRUE(closed);
    EXPECT_EQ(closed->code, 1006);
    EXPECT_EQ(closed->text, "Stream end encountered");
    EXPECT_FALSE(closed->clean);
    EXPECT_EQ(delegate_->kinds(), (std::vector<std::string>{"open", "string", "close"}));
    EXPECT_EQ(socket->readyState(), WSReadyState::closed);
}

TEST_F(WSWebSocketTest, InvalidControlFramesAreRefusedAndNothingIsSent) {
    std::unique_ptr<RawPeer> peer;
    auto socket = openSocket(peer);
    ASSERT_TRUE(peer);
    platform::Error error;
    EXPECT_FALSE(socket->sendPing(platform::Data(126, 0x70), &error));
    EXPECT_EQ(error.code(), WSErrorCode::invalidFrame);
    for (int code : {0, 999, 1004, 1005, 1006, 1015, 5000}) {
        SCOPED_TRACE(code);
        error = {};
        EXPECT_FALSE(socket->closeWithCode(code, std::nullopt, &error));
        EXPECT_EQ(error.code(), WSErrorCode::invalidFrame);
    }
    EXPECT_EQ(socket->readyState(), WSReadyState::open);
    // The first frame the server sees is the next valid one.
    ASSERT_TRUE(socket->sendPing(platform::Data(125, 0x70)));
    auto frame = peer->readFrame();
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->opcode, kPing);
    EXPECT_EQ(frame->payload.size(), 125u);
}

TEST_F(WSWebSocketTest, AFailingRandomSourceFailsTheConnectionInsteadOfUsingZeros) {
    struct Restore {
        ~Restore() { platform::SecureRandom::setSimulatesFailure(false); }
    } restore;
    // The handshake key.
    platform::SecureRandom::setSimulatesFailure(true);
    auto socket = start(server_.url("/"));
    auto peer = server_.accept();
    ASSERT_TRUE(peer);
    auto failure = delegate_->waitFor("fail");
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->error.code(), WSErrorCode::randomSourceFailed);
    EXPECT_EQ(peer->readUntil("\r\n\r\n"), "");

    // A masking key.
    platform::SecureRandom::setSimulatesFailure(false);
    delegate_ = std::make_shared<RecordingSocketDelegate>();
    socket = openSocket(peer);
    ASSERT_TRUE(peer);
    platform::SecureRandom::setSimulatesFailure(true);
    ASSERT_TRUE(socket->sendString("secret"));
    failure = delegate_->waitFor("fail");
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->error.code(), WSErrorCode::randomSourceFailed);
    EXPECT_FALSE(peer->readFrame());
}

TEST_F(WSWebSocketTest, ReachesAnIPv6LiteralAndKeepsItsBracketsInTheHeaders) {
    RawWebSocketServer server(nullptr, {}, true);
    auto socket = start(server.url("/v6"));
    auto peer = server.accept();
    ASSERT_TRUE(peer);
    std::string request = peer->acceptHandshake();
    EXPECT_EQ(RawPeer::headerValue(request, "Host"), "[::1]:" + std::to_string(server.port()));
    EXPECT_EQ(RawPeer::headerValue(request, "Origin"),
              "http://[::1]:" + std::to_string(server.port()));
    EXPECT_TRUE(delegate_->waitFor("open"));

    // Over TLS: no server name is sent for an address, and the pinned leaf names ::1.
    testing::TestIdentity leaf("::1");
    RawWebSocketServer secure(&leaf, {}, true);
    delegate_ = std::make_shared<RecordingSocketDelegate>();
    WSURLRequest pinned(*platform::URL::fromString(secure.url("/v6")));
    pinned.pinnedCertificates = std::vector<platform::Data>{leaf.der()};
    socket = start(pinned);
    peer = secure.accept();
    ASSERT_TRUE(peer);
    peer->acceptHandshake();
    EXPECT_TRUE(delegate_->waitFor("open"));
}

TEST_F(WSWebSocketTest, ReadyStateIsObservableAndAnnouncedOncePerChange) {
    auto socket = WSWebSocket::create(*platform::URL::fromString(server_.url("/")));
    std::mutex mutex;
    std::vector<long long> seen;  // guarded by mutex
    auto observation =
        socket->observe("readyState", platform::KVOOption::newValue | platform::KVOOption::initial,
                        [&](const platform::KVOChange& change) {
                            std::lock_guard lock(mutex);
                            seen.push_back(change.newValue.asWholeNumber().value_or(-1));
                        });
    socket->setProxySettings(direct());
    socket->setDelegate(delegate_);
    socket->setDelegateDispatchQueue(platform::DispatchQueue::create("ws.test.delegate"));
    socket->open();
    auto peer = server_.accept();
    ASSERT_TRUE(peer);
    peer->acceptHandshake();
    ASSERT_TRUE(delegate_->waitFor("open"));
    socket->close();
    socket->close();
    ASSERT_TRUE(peer->readFrame());
    peer->write(RawPeer::frame(kClose, RawPeer::closePayload(1000)));
    ASSERT_TRUE(delegate_->waitFor("close"));
    std::lock_guard lock(mutex);
    EXPECT_EQ(seen, (std::vector<long long>{0, 1, 2, 3}));
}

TEST_F(WSWebSocketTest, AScheduledRunLoopCarriesTheStreamEvents) {
    std::unique_ptr<RawPeer> peer;
    auto socket = openSocket(peer);
    ASSERT_TRUE(peer);
    // A loop nobody runs yet: the server's message waits until it does.
    auto loop = std::make_shared<platform::RunLoop>();
    socket->scheduleInRunLoop(loop);
    ASSERT_TRUE(socket->sendString("sync"));  // behind the move on the work queue
    ASSERT_TRUE(peer->readFrame());
    peer->write(RawPeer::frame(kText, "held"));
    EXPECT_FALSE(delegate_->waitFor("string", std::chrono::seconds(1)));
    std::thread runner([&] { loop->run(); });
    EXPECT_TRUE(delegate_->waitFor("string"));
    // Unscheduled, the stream goes back to the network thread.
    socket->unscheduleFromRunLoop(loop);
    loop->stop();
    runner.join();
    peer->write(RawPeer::frame(kText, "again"));
    ASSERT_TRUE(platform::MainThread::runUntil(
        [&] {
            auto kinds = delegate_->kinds();
            return std::count(kinds.begin(), kinds.end(), "string") == 2;
        },
        10));
}

TEST_F(WSWebSocketTest, SendingBeforeOpenIsRefused) {
    auto socket = WSWebSocket::create(*platform::URL::fromString(server_.url("/")));
    platform::Error error;
    EXPECT_FALSE(socket->sendString("early", &error));
    EXPECT_EQ(error.domain(), WSWebSocketErrorDomain);
    EXPECT_EQ(error.code(), WSErrorCode::notOpen);
    EXPECT_EQ(error.localizedDescription(),
              "Invalid State: Cannot call `sendString:error:` until connection is open.");
    EXPECT_FALSE(socket->sendPing({}, &error));
    EXPECT_FALSE(socket->sendData({}, &error));
    error = {};
    EXPECT_FALSE(socket->sendDataNoCopy(nullptr, &error));
    EXPECT_EQ(error.code(), WSErrorCode::notOpen);
    EXPECT_EQ(error.localizedDescription(),
              "Invalid State: Cannot call `sendDataNoCopy:error:` until connection is open.");
}

TEST_F(WSWebSocketTest, SendTakesAStringOrBytesAndIgnoresAnythingElse) {
    std::unique_ptr<RawPeer> peer;
    auto socket = openSocket(peer);
    ASSERT_TRUE(peer);
    socket->send(platform::Value("text"));
    socket->send(platform::Value(platform::Boxed<platform::Data>::make(platform::Data{1, 2, 3})));
    socket->send(platform::Value(42));
    socket->send(platform::Value());
    EXPECT_TRUE(
        socket->sendDataNoCopy(std::make_shared<const platform::Data>(platform::Data{4, 5})));
    EXPECT_TRUE(socket->sendDataNoCopy(nullptr));
    ASSERT_TRUE(socket->sendString("end"));
    // The number and no data put nothing on the wire.
    const std::pair<std::uint8_t, std::string> expected[] = {
        {kText, "text"}, {kBinary, "\1\2\3"}, {kBinary, "\4\5"}, {kText, "end"}};
    for (const auto& [opcode, payload] : expected) {
        auto frame = peer->readFrame();
        ASSERT_TRUE(frame);
        EXPECT_EQ(frame->opcode, opcode);
        EXPECT_EQ(frame->payload, payload);
    }
}

TEST_F(WSWebSocketTest, EachCallbackGoesOnlyToADelegateThatImplementsIt) {
    using M = WSWebSocketDelegate::Method;
    using Calls = std::vector<std::pair<std::string, std::string>>;
    struct Case {
        const char* name;
        std::set<M> implemented;
        bool convertText;
        std::optional<std::uint16_t> replacedMethods;  // set after the delegate
        std::uint16_t methods;
        Calls expected;
    };
    const Case cases[] = {
        {"text only",
         {M::didReceiveMessageWithString},
         true,
         std::nullopt,
         2,
         {{"string", "a"}, {"string", "z"}}},
        {"every message twice",
         {M::didReceiveMessage, M::didReceiveMessageWithString, M::didReceiveMessageWithData},
         true,
         std::nullopt,
         7,
         {{"message-string", "a"},
          {"string", "a"},
          {"message-data", "b"},
          {"data", "b"},
          {"message-string", "z"},
          {"string", "z"}}},
        {"text wanted as bytes",
         {M::didReceiveMessage, M::didReceiveMessageWithData, M::shouldConvertTextFrameToString},
         false,
         std::nullopt,
         261,
         {{"message-data", "a"},
          {"data", "a"},
          {"message-data", "b"},
          {"data", "b"},
          {"message-data", "z"},
          {"data", "z"}}},
        // Not asked, so its answer does not count.
        {"conversion not implemented",
         {M::didReceiveMessageWithString, M::didReceiveMessageWithData},
         false,
         std::nullopt,
         6,
         {{"string", "a"}, {"data", "b"}, {"string", "z"}}},
        {"open and ping",
         {M::didOpen, M::didReceivePing},
         true,
         std::nullopt,
         72,
         {{"open", ""}, {"ping", "p"}}},
        {"methods replaced after the delegate",
         {M::didReceiveMessageWithString},
         true,
         4 | 64,
         68,
         {{"data", "b"}, {"ping", "p"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        delegate_ = std::make_shared<RecordingSocketDelegate>(c.convertText, c.implemented);
        auto socket = WSWebSocket::create(*platform::URL::fromString(server_.url("/")));
        socket->setProxySettings(direct());
        socket->setDelegate(delegate_);
        if (c.replacedMethods)
            socket->delegateController().setAvailableDelegateMethods(
                WSDelegateAvailableMethods::fromMask(*c.replacedMethods));
        EXPECT_EQ(socket->delegateController().availableDelegateMethods().mask(), c.methods);
        socket->setDelegateDispatchQueue(platform::DispatchQueue::create("ws.test.delegate"));
        socket->open();
        auto peer = server_.accept();
        ASSERT_TRUE(peer);
        peer->acceptHandshake();
        peer->write(RawPeer::frame(kText, "a") + RawPeer::frame(kBinary, "b") +
                    RawPeer::frame(kPing, "p") + RawPeer::frame(kText, "z"));
        ASSERT_TRUE(delegate_->waitForCount(c.expected.size()));
        Calls calls;
        for (const auto& call : delegate_->calls()) calls.emplace_back(call.kind, call.text);
        EXPECT_EQ(calls, c.expected);
    }
}

TEST_F(WSWebSocketTest, AMessageNoBufferCanHoldFailsTheConnectionWith1009) {
    const std::string text = "Unable to allocate memory to read from socket.";
    auto socket = start(server_.url("/"));
    // Without a limit of the host's, the fragments still cannot add up past what a buffer can
    // address.
    socket->setMaximumMessageSize(std::numeric_limits<std::size_t>::max());
    auto peer = server_.accept();
    ASSERT_TRUE(peer);
    peer->acceptHandshake();
    ASSERT_TRUE(delegate_->waitFor("open"));
    peer->write(RawPeer::frame(kBinary, "a", false) +
                longLength(0x0, std::numeric_limits<std::int64_t>::max()) +
                RawPeer::frame(kText, "late"));
    auto frame = peer->readFrame();
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->opcode, kClose);
    EXPECT_EQ(frame->payload, RawPeer::closePayload(1009, text));
    auto failure = delegate_->waitFor("fail");
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->error.domain(), WSWebSocketErrorDomain);
    EXPECT_EQ(failure->error.code(), 1009);
    EXPECT_EQ(failure->error.localizedDescription(), text);
    EXPECT_TRUE(peer->waitForEnd());
    EXPECT_EQ(delegate_->kinds(), (std::vector<std::string>{"open", "fail"}));
}

TEST_F(WSWebSocketTest, CloseWhileConnectingDropsTheConnectionWithoutACloseFrame) {
    auto socket = start(server_.url("/"));
    auto peer = server_.accept();
    ASSERT_TRUE(peer);
    std::string request = peer->readUntil("\r\n\r\n");
    ASSERT_FALSE(request.empty());
    socket->close();
    EXPECT_TRUE(peer->waitForEnd());
    auto closed = delegate_->waitFor("close");
    ASSERT_TRUE(closed);
    EXPECT_EQ(closed->code, 1006);
    EXPECT_FALSE(closed->clean);
    for (const auto& call : delegate_->calls()) EXPECT_NE(call.kind, "open");
}

TEST_F(WSWebSocketTest, ACloseTheServerNeverAnswersEndsUncleanAfterTheBound) {
    auto clock = std::make_shared<platform::VirtualClock>();
    platform::Clock::setCurrent(clock);
    struct Restore {
        ~Restore() { platform::Clock::setCurrent(nullptr); }
    } restore;
    std::unique_ptr<RawPeer> peer;
    auto socket = openSocket(peer);
    ASSERT_TRUE(peer);
    socket->close();
    auto frame = peer->readFrame();
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->opcode, kClose);
    // The server reads the close frame and says nothing.
    clock->advance(WSWebSocket::closeHandshakeTimeout - 0.5);
    EXPECT_FALSE(delegate_->waitFor("close", std::chrono::seconds(0)));
    EXPECT_EQ(socket->readyState(), WSReadyState::closing);
    clock->advance(1.0);
    auto closed = delegate_->waitFor("close");
    ASSERT_TRUE(closed);
    EXPECT_EQ(closed->code, 1006);
    EXPECT_FALSE(closed->clean);
    EXPECT_EQ(socket->readyState(), WSReadyState::closed);
    EXPECT_TRUE(peer->waitForEnd());
}

TEST_F(WSWebSocketTest, ARefusedConnectionFails) {
    // Nothing listens on the port of a server that has gone.
    auto gone = std::make_unique<RawWebSocketServer>();
    std::string url = gone->url("/");
    gone.reset();
    auto socket = start(url);
    auto failure = delegate_->waitFor("fail");
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->error.code(), platform::URLError::cannotConnectToHost);
}

TEST_F(WSWebSocketTest, TimesOutWhenTheServerNeverAnswers) {
    WSURLRequest request(*platform::URL::fromString(server_.url("/")));
    request.timeoutInterval = 0.2;
    auto socket = start(request);
    auto peer = server_.accept();
    ASSERT_TRUE(peer);
    // The time-out is checked on the main queue.
    ASSERT_TRUE(platform::MainThread::runUntil(
        [&] { return socket->readyState() == WSReadyState::closed; }, 20));
    auto failure = delegate_->waitFor("fail");
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->error.code(), platform::URLError::timedOut);
    EXPECT_EQ(failure->error.localizedDescription(), "Timed out connecting to server.");
}

TEST_F(WSWebSocketTest, DelegateCallsGoToTheMainQueueByDefaultOrToAnOperationQueue) {
    auto socket = WSWebSocket::create(*platform::URL::fromString(server_.url("/")));
    EXPECT_TRUE(socket->delegateDispatchQueue()->isMain());
    auto operations = platform::OperationQueue::create();
    socket->setDelegateOperationQueue(operations);
    EXPECT_EQ(socket->delegateDispatchQueue(), nullptr);
    EXPECT_EQ(socket->delegateOperationQueue(), operations);
    socket->setDelegateDispatchQueue(nullptr);
    EXPECT_TRUE(socket->delegateDispatchQueue()->isMain());
    EXPECT_EQ(socket->delegateOperationQueue(), nullptr);

    // Delivered on the main thread: nothing arrives until the main queue is pumped.
    socket->setProxySettings(direct());
    socket->setDelegate(delegate_);
    socket->open();
    auto peer = server_.accept();
    ASSERT_TRUE(peer);
    peer->acceptHandshake();
    ASSERT_TRUE(platform::MainThread::runUntil([&] { return !delegate_->calls().empty(); }, 20));
    EXPECT_EQ(delegate_->kinds(), std::vector<std::string>{"open"});
}

}  // namespace
}  // namespace pindle
