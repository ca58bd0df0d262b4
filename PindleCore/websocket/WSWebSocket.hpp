// WSWebSocket: the client side of one WebSocket connection (RFC 6455).
//
// open() reaches the server (through the system's proxy, see WSProxyConnect), sends the
// upgrade request, checks the answer (status below 400, the Sec-WebSocket-Accept value, a
// requested sub-protocol), then exchanges frames until one side closes. Outgoing messages
// are single masked frames; incoming messages are reassembled from fragments, text is
// checked as UTF-8, pings are answered, and protocol violations by the server end the
// connection with close code 1002 (1007 for invalid text). A socket serves one connection
// and is never reopened; it keeps itself alive from open() until its connection is over.
//
// Ready state only moves forward: connecting, open, closing, closed. Failures (connecting,
// proxy, handshake, time-out, an untrusted certificate, a stream error) reach the delegate
// once as webSocketDidFailWithError and no close report follows; a closing handshake or a
// stream end is reported as webSocketDidCloseWithCode.
//
// Thread-safety: every public operation may be called from any thread. Stream events
// arrive on the shared WebSocket network thread and are moved to the socket's own serial
// work queue, where all frame, buffer and state work runs. Delegate calls run on the
// delegate queue (the main queue by default), in order. The open time-out is checked on
// the main queue.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "PindleCore/websocket/WSDelegateController.hpp"
#include "PindleCore/websocket/WSIOConsumerPool.hpp"
#include "PindleCore/websocket/WSProxyConnect.hpp"
#include "PindleCore/websocket/WSSecurityPolicy.hpp"
#include "PindleCore/websocket/WSURLRequest.hpp"
#include "PindleCore/websocket/WSWebSocketDelegate.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/foundation/Data.hpp"
#include "platform/foundation/Error.hpp"
#include "platform/net/stream/HTTPResponseHead.hpp"
#include "platform/net/stream/SocketStream.hpp"

namespace pindle {

enum class WSReadyState : int { connecting = 0, open = 1, closing = 2, closed = 3 };

// Close status codes.
namespace WSStatusCode {
inline constexpr int normal = 1000;
inline constexpr int goingAway = 1001;
inline constexpr int protocolError = 1002;
inline constexpr int noStatusReceived = 1005;
inline constexpr int invalidUTF8 = 1007;
inline constexpr int messageTooBig = 1009;
}  // namespace WSStatusCode

class WSWebSocket : public std::enable_shared_from_this<WSWebSocket> {
  public:
    static constexpr const char* acceptGUID = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";
    static constexpr int protocolVersion = 13;

    // The designated factory. REQUIRES: request.url has a host.
    static std::shared_ptr<WSWebSocket> create(WSURLRequest request,
                                               std::vector<std::string> protocols,
                                               std::shared_ptr<WSSecurityPolicy> securityPolicy);
    // A pinning policy when the request pins certificates, else a plain policy that validates
    // the chain unless untrusted certificates are allowed.
    static std::shared_ptr<WSWebSocket> create(WSURLRequest request,
                                               std::vector<std::string> protocols = {},
                                               bool allowsUntrustedSSLCertificates = false);
    static std::shared_ptr<WSWebSocket> create(const platform::URL& url,
                                               std::vector<std::string> protocols = {});

    ~WSWebSocket();
    WSWebSocket(const WSWebSocket&) = delete;
    WSWebSocket& operator=(const WSWebSocket&) = delete;

    // Proxy settings to use instead of the system's; set before open(). For tests and hosts
    // that keep them elsewhere.
    void setProxySettings(platform::ProxySettings settings);

    // Starts connecting. Only the first call counts.
    void open();
    // closeWithCode(1000, nothing).
    void close();
    // Sends a close frame (after the handshake) and waits for the server's; before the
    // handshake has finished, just drops the connection. Nothing once closing or closed.
    // REQUIRES: code != 0.
    void closeWithCode(int code, std::optional<std::string> reason);

    // Each queues one message and returns true; false with code 2134 in `error` unless open.
    bool sendString(const std::string& message, platform::Error* error = nullptr);
    bool sendData(const platform::Data& data, platform::Error* error = nullptr);
    bool sendPing(const platform::Data& data, platform::Error* error = nullptr);

    WSReadyState readyState() const;
    const platform::URL& url() const { return request_.url; }
    const std::shared_ptr<WSSecurityPolicy>& securityPolicy() const { return securityPolicy_; }
    // The server's answer to the upgrade request, once it has arrived.
    std::optional<platform::HTTPResponseHead> receivedHTTPHeaders() const;
    // The sub-protocol the server chose, if any.
    std::optional<std::string> protocol() const;

    std::shared_ptr<WSWebSocketDelegate> delegate() const { return delegates_.delegate(); }
    void setDelegate(std::weak_ptr<WSWebSocketDelegate> delegate) {
        delegates_.setDelegate(std::move(delegate));
    }
    std::shared_ptr<platform::DispatchQueue> delegateDispatchQueue() const {
        return delegates_.dispatchQueue();
    }
    void setDelegateDispatchQueue(std::shared_ptr<platform::DispatchQueue> queue) {
        delegates_.setDispatchQueue(std::move(queue));
    }
    std::shared_ptr<platform::OperationQueue> delegateOperationQueue() const {
        return delegates_.operationQueue();
    }
    void setDelegateOperationQueue(std::shared_ptr<platform::OperationQueue> queue) {
        delegates_.setOperationQueue(std::move(queue));
    }

    // The upgrade request as sent on the wire for `key` (exposed for its tests).
    std::string handshakeRequest(const std::string& key) const;

  private:
    struct Private {
        explicit Private() = default;
    };

  public:
    WSWebSocket(Private, WSURLRequest request, std::vector<std::string> protocols,
                std::shared_ptr<WSSecurityPolicy> securityPolicy);

  private:
    enum Opcode : std::uint8_t {
        continuation = 0x0,
        text = 0x1,
        binary = 0x2,
        connectionClose = 0x8,
        ping = 0x9,
        pong = 0xA,
    };
    static bool isControl(std::uint8_t opcode) { return opcode >= connectionClose; }

    struct FrameHeader {
        std::uint8_t opcode = 0;
        bool fin = false;
        bool masked = false;
        std::uint64_t payloadLength = 0;
    };

    // Everything below runs on the work queue.
    void setReadyState(WSReadyState state);
    void connectionDone(const std::optional<platform::Error>& error,
                        std::shared_ptr<platform::SocketStream> stream);
    void handleStreamEvent(platform::SocketStream::Event event);
    void didConnect();
    void readHTTPHeader();
    void httpHeadersDidFinish();
    void failWithError(const platform::Error& error);
    void closeWithProtocolError(const std::string& message);
    void scheduleCleanup();

    void sendFrame(std::uint8_t opcode, const platform::Data* data);
    void writeData(const std::uint8_t* bytes, std::size_t length);
    void pumpWriting();
    void closeConnection();
    void readAvailableBytes();

    void readFrameNew();
    void readFrameContinue();
    void handleFrameHeader(FrameHeader header);
    void handleFrameWithData(platform::Data data, std::uint8_t opcode);
    void handleCloseWithData(const platform::Data& data);
    void handlePingWithData(const platform::Data& data);
    void handlePong(const platform::Data& data);

    void addConsumer(WSIOConsumer::Scanner scanner, WSIOConsumer::Handler handler);
    void addConsumer(std::size_t length, WSIOConsumer::Handler handler, bool readToCurrentFrame,
                     bool unmaskBytes);
    void readUntilBytes(const std::string& pattern, WSIOConsumer::Handler handler);
    void pumpScanner();
    bool innerPumpScanner();

    void onWorkQueue(std::function<void(WSWebSocket&)> work);

    const WSURLRequest request_;
    const std::vector<std::string> requestedProtocols_;
    const std::shared_ptr<WSSecurityPolicy> securityPolicy_;
    const bool requestRequiresSSL_;
    const std::shared_ptr<platform::DispatchQueue> workQueue_;
    WSDelegateController delegates_;

    mutable std::mutex stateMutex_;
    WSReadyState readyState_ = WSReadyState::connecting;             // guarded by stateMutex_
    bool opened_ = false;                                            // guarded by stateMutex_
    std::optional<platform::HTTPResponseHead> receivedHTTPHeaders_;  // guarded by stateMutex_
    std::optional<std::string> protocol_;                            // guarded by stateMutex_
    std::optional<platform::ProxySettings> proxySettings_;           // guarded by stateMutex_

    // Work-queue state: touched only by blocks on workQueue_.
    std::shared_ptr<WSWebSocket> selfRetain_;
    std::shared_ptr<WSProxyConnect> proxyConnect_;
    std::shared_ptr<platform::SocketStream> stream_;
    std::vector<std::uint8_t> readBuffer_;
    std::size_t readBufferOffset_ = 0;
    std::vector<std::uint8_t> outputBuffer_;
    std::size_t outputBufferOffset_ = 0;
    std::deque<std::shared_ptr<WSIOConsumer>> consumers_;
    WSIOConsumerPool consumerPool_;
    platform::Data currentFrameData_;
    std::uint8_t currentFrameOpcode_ = 0;
    std::size_t currentFrameCount_ = 0;
    std::size_t readOpCount_ = 0;
    std::size_t currentStringScanPosition_ = 0;
    std::uint8_t currentReadMaskKey_[4] = {0, 0, 0, 0};
    std::size_t currentReadMaskOffset_ = 0;
    std::string responseBytes_;
    std::string secKey_;
    bool streamSecurityValidated_ = false;
    bool handshakeSent_ = false;
    bool closeWhenFinishedWriting_ = false;
    bool failed_ = false;
    bool sentClose_ = false;
    bool cleanupScheduled_ = false;
    bool isPumping_ = false;
    int closeCode_ = 0;
    std::optional<std::string> closeReason_;
};

}  // namespace pindle
