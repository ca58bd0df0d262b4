// WSWebSocket: the client side of one WebSocket connection (RFC 6455).
//
// open() reaches the server (through the system's proxy, see WSProxyConnect), sends the
// upgrade request, checks the answer (status 101, Upgrade "websocket", Connection naming
// "upgrade", the Sec-WebSocket-Accept value, no extension and no sub-protocol it did not
// ask for; a head of at most 64 KiB), then exchanges frames until one side closes.
// Outgoing messages are single masked frames; incoming ones are read by WSFrameReader
// (reassembly, UTF-8 checks, size limits); pings are answered. A protocol violation by the
// server stops all reading at once, sends a close frame with its code (1002, 1007 for
// invalid text, 1009 for a message over the limit) and ends the connection. A socket serves
// one connection and is never reopened; it keeps itself alive from open() until its
// connection is over.
//
// Ready state only moves forward: connecting, open, closing, closed. Failures (connecting,
// proxy, handshake, time-out, an untrusted certificate, a stream error, a failed random
// source, bytes that cannot be held in memory) reach the delegate once as
// webSocketDidFailWithError and no close report follows. The open time-out also bounds a
// proxy's answer. Otherwise the end is reported once as webSocketDidCloseWithCode: with the
// server's close code and reason and clean = true when its close frame arrived (also when
// the stream ends right after it), else with 1006 and clean = false (a violation by the
// server, a close while connecting, a stream that just ended, a close of ours the server
// left unanswered for closeHandshakeTimeout). A close while connecting ends the connection
// at once, at whatever stage it is (a PAC download, a proxy's answer, the handshake).
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
#include "PindleCore/websocket/WSFrameReader.hpp"
#include "PindleCore/websocket/WSIOConsumerPool.hpp"
#include "PindleCore/websocket/WSProxyConnect.hpp"
#include "PindleCore/websocket/WSSecurityPolicy.hpp"
#include "PindleCore/websocket/WSURLRequest.hpp"
#include "PindleCore/websocket/WSWebSocketDelegate.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/foundation/Data.hpp"
#include "platform/foundation/Error.hpp"
#include "platform/foundation/KeyValueObserving.hpp"
#include "platform/foundation/Value.hpp"
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
inline constexpr int abnormal = 1006;
inline constexpr int invalidUTF8 = 1007;
inline constexpr int messageTooBig = 1009;
}  // namespace WSStatusCode

class WSWebSocket : public platform::KeyValueObservable {
  public:
    static constexpr const char* acceptGUID = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";
    static constexpr int protocolVersion = 13;
    // The longest upgrade answer head accepted; a longer one fails the handshake.
    static constexpr std::size_t maximumHandshakeHeadSize = 64u << 10;
    // How long a close this socket started waits for the server's close frame before the
    // connection is ended anyway (reported as 1006, not clean).
    static constexpr double closeHandshakeTimeout = 5.0;

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

    // The largest message accepted, over all of its fragments; a larger one fails the
    // connection with 1009. Set before open().
    void setMaximumMessageSize(std::size_t bytes) { maximumMessageSize_ = bytes; }
    std::size_t maximumMessageSize() const { return maximumMessageSize_; }

    // Carries the socket's stream events on `runLoop` instead of the shared network thread
    // (the last loop scheduled wins; unscheduling it returns the stream to the previous one,
    // else to the network thread). `mode` is recorded: a platform run loop has one mode.
    void scheduleInRunLoop(std::shared_ptr<platform::RunLoop> runLoop,
                           const std::string& mode = "default");
    void unscheduleFromRunLoop(const std::shared_ptr<platform::RunLoop>& runLoop,
                               const std::string& mode = "default");

    // Starts connecting. Only the first call counts.
    void open();
    // closeWithCode(1000, nothing).
    void close();
    // Sends a close frame (after the handshake) and waits for the server's; before the
    // handshake has finished, just drops the connection. Nothing once closing or closed.
    // A code an endpoint may not send (outside 1000-4999, or 1004, 1005, 1006, 1015) is
    // refused: false with code 2135 in `error`, and nothing changes. A reason longer than
    // a control frame holds is cut on a character boundary.
    bool closeWithCode(int code, std::optional<std::string> reason,
                       platform::Error* error = nullptr);

    // Each queues one message and returns true; false with code 2134 in `error` unless
    // open, and with 2135 for a ping over 125 bytes.
    bool sendString(const std::string& message, platform::Error* error = nullptr);
    // Copies the bytes; see sendDataNoCopy.
    bool sendData(const platform::Data& data, platform::Error* error = nullptr);
    // Sends the bytes as they are, shared rather than copied: the caller must not change
    // them afterwards. No data (nullptr) is accepted like a message and sends nothing.
    bool sendDataNoCopy(std::shared_ptr<const platform::Data> data,
                        platform::Error* error = nullptr);
    bool sendPing(const platform::Data& data, platform::Error* error = nullptr);
    // A string Value goes to sendString, a platform::Boxed<platform::Data> object to
    // sendData, null to sendDataNoCopy(nullptr); any other value is ignored, as is a refusal.
    void send(const platform::Value& message);

    // Observable by key-value observing under "readyState" (the state's number); announced
    // on the work queue, once per change.
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
    // The delegate, the methods it implements and its queue, as the socket delivers to them.
    WSDelegateController& delegateController() { return delegates_; }

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
    std::shared_ptr<WSWebSocket> shared_from_this() {
        return std::static_pointer_cast<WSWebSocket>(platform::Object::shared_from_this());
    }
    // The loop the stream belongs on now: the last one scheduled, else the network thread's.
    std::shared_ptr<platform::RunLoop> currentRunLoop() const;

    // Everything below runs on the work queue.
    void setReadyState(WSReadyState state);
    void connectionDone(const std::optional<platform::Error>& error,
                        std::shared_ptr<platform::SocketStream> stream, platform::Data leftover);
    void handleStreamEvent(platform::SocketStream::Event event);
    void streamEnded();
    void didConnect();
    void readHTTPHeader();
    void httpHeadersDidFinish(const platform::Data& bytes);
    void readFrames();
    void failWithError(const platform::Error& error);
    // Ends the connection for a fault of the server: no further byte is read, a close
    // frame with `code` goes out when the connection is open, then the connection ends.
    void failConnection(int code, const std::string& reason);
    void startClosingHandshake(int code, const std::optional<std::string>& reason);
    // The server left our close frame unanswered: end the connection (1006, not clean).
    void closeHandshakeTimedOut();
    void reportClose();
    void scheduleCleanup();

    void sendFrame(std::uint8_t opcode, const platform::Data& data);
    void writeData(const std::uint8_t* bytes, std::size_t length);
    void pumpWriting();
    void closeConnection();
    void readAvailableBytes();
    // The reading of readAvailableBytes(), which turns a failed allocation into 1009.
    void readPieces(int piecesPerTurn);
    // Whether the socket is open, else false with code 2134 for `operation` in `error`.
    bool isOpenToSend(const char* operation, platform::Error* error) const;

    // The bytes read cannot be held in memory: a close frame with 1009 goes out when it can,
    // and the connection fails with code 1009.
    void failForLackOfMemory();

    void didReceiveCloseFrame(int code, const std::optional<std::string>& reason);
    void didReceivePing(const platform::Data& data);

    void addConsumer(WSIOConsumer::Scanner scanner, WSIOConsumer::Handler handler);
    void pumpScanner();
    bool innerPumpScanner();

    void onWorkQueue(std::function<void(WSWebSocket&)> work);

    const WSURLRequest request_;
    const std::vector<std::string> requestedProtocols_;
    const std::shared_ptr<WSSecurityPolicy> securityPolicy_;
    const bool requestRequiresSSL_;
    const std::shared_ptr<platform::DispatchQueue> workQueue_;
    WSDelegateController delegates_;
    std::atomic<std::size_t> maximumMessageSize_{WSFrameReader::defaultMaximumMessageSize};

    // Written only on the work queue.
    platform::ObservableProperty<WSReadyState> readyState_{*this, "readyState",
                                                           WSReadyState::connecting};
    mutable std::mutex stateMutex_;
    bool opened_ = false;  // guarded by stateMutex_
    // (run loop, mode) pairs in the order scheduled.
    std::vector<std::pair<std::shared_ptr<platform::RunLoop>, std::string>>
        scheduledRunLoops_;                                          // guarded by stateMutex_
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
    std::unique_ptr<WSFrameReader> frameReader_;
    std::size_t headScanned_ = 0;
    std::string secKey_;
    bool streamSecurityValidated_ = false;
    bool handshakeSent_ = false;
    bool closeWhenFinishedWriting_ = false;
    // Set the moment the connection fails or a close frame arrives: no further input is
    // interpreted, whatever is already buffered.
    bool inputStopped_ = false;
    bool failed_ = false;
    bool closeFrameSent_ = false;
    bool closeFrameReceived_ = false;
    bool closeReported_ = false;
    bool cleanupScheduled_ = false;
    bool isPumping_ = false;
    // What the close report will say: the server's close frame when one came, else an
    // abnormal end with the local reason.
    int closeCode_ = WSStatusCode::abnormal;
    std::optional<std::string> closeReason_;
};

}  // namespace pindle
