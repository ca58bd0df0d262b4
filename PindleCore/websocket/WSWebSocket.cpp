#include "PindleCore/websocket/WSWebSocket.hpp"

#include <algorithm>
#include <cassert>
#include <cctype>
#include <new>
#include <string_view>

#include "PindleCore/websocket/WSPinningSecurityPolicy.hpp"
#include "PindleCore/websocket/private/WSFrameFormat.hpp"
#include "PindleCore/websocket/private/WSRunLoopThread.hpp"
#include "PindleCore/websocket/private/WSUtilities.hpp"
#include "platform/crypto/SecureRandom.hpp"
#include "platform/foundation/Boxed.hpp"
#include "platform/foundation/Weakly.hpp"

namespace pindle {

namespace {

using namespace ws_frame;

constexpr std::size_t handshakeKeyBytes = 16;
constexpr std::size_t maskKeyBytes = 4;
constexpr std::size_t frameHeaderReserve = 14;
constexpr std::size_t maximumControlPayload = 125;
// The URL-loading code the platform reports for a server whose certificate was refused.
constexpr std::int64_t invalidServerCertificateCode = -1205;

// Codes an endpoint may put in its own close frame.
bool sendableCloseCode(int code) {
    return code >= 1000 && code <= 4999 && code != 1004 && code != 1005 && code != 1006 &&
           code != 1015;
}

// Whether the comma-separated field value lists `token` (compared without regard to case).
bool listsToken(const std::string& value, const std::string& token) {
    std::size_t start = 0;
    while (start <= value.size()) {
        std::size_t end = value.find(',', start);
        if (end == std::string::npos)
            end = value.size();
        std::string item = value.substr(start, end - start);
        auto first = item.find_first_not_of(" \t");
        auto last = item.find_last_not_of(" \t");
        if (first != std::string::npos &&
            WSLowercased(item.substr(first, last - first + 1)) == token)
            return true;
        start = end + 1;
    }
    return false;
}

bool containsLineBreak(const std::string& text) {
    return text.find_first_of("\r\n") != std::string::npos;
}

bool sameFieldName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// The payload of a close frame: the code, then as much of the reason as a control frame
// holds, cut on a character boundary rather than sent in a frame the server must reject.
platform::Data closePayload(int code, const std::optional<std::string>& reason) {
    platform::Data payload{static_cast<std::uint8_t>(code >> 8), static_cast<std::uint8_t>(code)};
    if (reason) {
        std::size_t keep = std::min(maximumControlPayload - closeCodeBytes, reason->size());
        auto valid = WSValidUTF8Prefix(reinterpret_cast<const std::uint8_t*>(reason->data()), keep);
        payload.insert(payload.end(), reason->begin(),
                       reason->begin() + static_cast<long>(valid.value_or(0)));
    }
    return payload;
}

using BoxedData = platform::Boxed<platform::Data>;

}  // namespace

// --- Construction --------------------------------------------------------------------------

std::shared_ptr<WSWebSocket> WSWebSocket::create(WSURLRequest request,
                                                 std::vector<std::string> protocols,
                                                 std::shared_ptr<WSSecurityPolicy> securityPolicy) {
    assert(request.url.host() && "a WebSocket needs a URL with a host");
    if (!securityPolicy)
        securityPolicy = WSSecurityPolicy::defaultPolicy();
    return std::make_shared<WSWebSocket>(Private{}, std::move(request), std::move(protocols),
                                         std::move(securityPolicy));
}

std::shared_ptr<WSWebSocket> WSWebSocket::create(WSURLRequest request,
                                                 std::vector<std::string> protocols,
                                                 bool allowsUntrustedSSLCertificates) {
    std::shared_ptr<WSSecurityPolicy> policy;
    if (request.pinnedCertificates)
        policy = WSSecurityPolicy::pinnningPolicyWithCertificates(*request.pinnedCertificates);
    if (!policy)
        policy = std::make_shared<WSSecurityPolicy>(!allowsUntrustedSSLCertificates);
    return create(std::move(request), std::move(protocols), std::move(policy));
}

std::shared_ptr<WSWebSocket> WSWebSocket::create(const platform::URL& url,
                                                 std::vector<std::string> protocols) {
    return create(WSURLRequest(url), std::move(protocols), false);
}

WSWebSocket::WSWebSocket(Private, WSURLRequest request, std::vector<std::string> protocols,
                         std::shared_ptr<WSSecurityPolicy> securityPolicy)
    : request_(std::move(request)),
      requestedProtocols_(std::move(protocols)),
      securityPolicy_(std::move(securityPolicy)),
      requestRequiresSSL_(WSURLRequiresSSL(request_.url)),
      workQueue_(platform::DispatchQueue::create("com.quarry.websocket.work")) {}

WSWebSocket::~WSWebSocket() {
    if (stream_) {
        stream_->setDelegate(nullptr);
        stream_->close();
    }
}

void WSWebSocket::setProxySettings(platform::ProxySettings settings) {
    std::lock_guard lock(stateMutex_);
    proxySettings_ = std::move(settings);
}

void WSWebSocket::onWorkQueue(std::function<void(WSWebSocket&)> work) {
    auto self = shared_from_this();
    workQueue_->async([self, work = std::move(work)] { work(*self); });
}

// --- Ready state ---------------------------------------------------------------------------

WSReadyState WSWebSocket::readyState() const {
    return readyState_.get();
}

void WSWebSocket::setReadyState(WSReadyState state) {
    // Only forward, and announced only when it moves; the work queue is the only writer.
    if (static_cast<int>(state) > static_cast<int>(readyState_.get()))
        readyState_.set(state);
}

std::shared_ptr<platform::RunLoop> WSWebSocket::currentRunLoop() const {
    std::lock_guard lock(stateMutex_);
    return scheduledRunLoops_.empty() ? WSNetworkRunLoop() : scheduledRunLoops_.back().first;
}

void WSWebSocket::scheduleInRunLoop(std::shared_ptr<platform::RunLoop> runLoop,
                                    const std::string& mode) {
    if (!runLoop)
        return;
    {
        std::lock_guard lock(stateMutex_);
        scheduledRunLoops_.emplace_back(std::move(runLoop), mode);
    }
    onWorkQueue([](WSWebSocket& s) {
        if (s.stream_)
            s.stream_->schedule(s.currentRunLoop());
    });
}

void WSWebSocket::unscheduleFromRunLoop(const std::shared_ptr<platform::RunLoop>& runLoop,
                                        const std::string& mode) {
    {
        std::lock_guard lock(stateMutex_);
        auto found = std::find_if(
            scheduledRunLoops_.rbegin(), scheduledRunLoops_.rend(),
            [&](const auto& entry) { return entry.first == runLoop && entry.second == mode; });
        if (found == scheduledRunLoops_.rend())
            return;
        scheduledRunLoops_.erase(std::next(found).base());
    }
    onWorkQueue([](WSWebSocket& s) {
        if (s.stream_)
            s.stream_->schedule(s.currentRunLoop());
    });
}

std::optional<platform::HTTPResponseHead> WSWebSocket::receivedHTTPHeaders() const {
    std::lock_guard lock(stateMutex_);
    return receivedHTTPHeaders_;
}

std::optional<std::string> WSWebSocket::protocol() const {
    std::lock_guard lock(stateMutex_);
    return protocol_;
}

// --- Opening -------------------------------------------------------------------------------

void WSWebSocket::open() {
    std::optional<platform::ProxySettings> settings;
    {
        std::lock_guard lock(stateMutex_);
        if (opened_)
            return;
        opened_ = true;
        settings = proxySettings_;
    }
    onWorkQueue([settings](WSWebSocket& self) {
        // Closed before it was opened: it never connects.
        if (self.readyState() != WSReadyState::connecting)
            return;
        self.selfRetain_ = self.shared_from_this();
        std::weak_ptr<WSWebSocket> weak = self.selfRetain_;
        if (self.request_.timeoutInterval > 0) {
            platform::DispatchQueue::main()->asyncAfter(
                self.request_.timeoutInterval, platform::weakly(weak, [](WSWebSocket& socket) {
                    if (socket.readyState() != WSReadyState::connecting)
                        return;
                    socket.onWorkQueue([](WSWebSocket& s) {
                        if (s.readyState() == WSReadyState::connecting)
                            s.failWithError(platform::makeURLError(
                                platform::URLError::timedOut, "Timed out connecting to server."));
                    });
                }));
        }
        // A proxy that never answers is bounded by the same time-out, on the connector's own
        // queue, so it ends even where nobody runs the main queue.
        self.proxyConnect_ = WSProxyConnect::create(self.request_.url, settings, nullptr,
                                                    std::max(self.request_.timeoutInterval, 0.0));
        self.proxyConnect_->openNetworkStream([weak](const std::optional<platform::Error>& error,
                                                     std::shared_ptr<platform::SocketStream> stream,
                                                     platform::Data leftover) {
            // by hand: a stream that arrives once the socket has gone is closed
            auto socket = weak.lock();
            if (!socket) {
                if (stream)
                    stream->close();
                return;
            }
            socket->onWorkQueue([error, stream, leftover](WSWebSocket& s) {
                s.connectionDone(error, stream, leftover);
            });
        });
    });
}

void WSWebSocket::connectionDone(const std::optional<platform::Error>& error,
                                 std::shared_ptr<platform::SocketStream> stream,
                                 platform::Data leftover) {
    proxyConnect_.reset();
    if (error) {
        failWithError(*error);
        return;
    }
    if (readyState() != WSReadyState::connecting) {
        // Closed or failed while the connection was being made: it is not used.
        stream->close();
        setReadyState(WSReadyState::closed);
        reportClose();
        scheduleCleanup();
        return;
    }
    // Bytes a proxy's tunnel delivered together with its answer belong to the server.
    readBuffer_.assign(leftover.begin(), leftover.end());
    stream_ = std::move(stream);
    if (auto serviceType = WSStreamNetworkServiceTypeFromURLRequest(request_))
        stream_->setNetworkServiceType(*serviceType);
    stream_->schedule(currentRunLoop());
    stream_->setDelegate(platform::weakly(
        shared_from_this(), [](WSWebSocket& socket, platform::SocketStream::Event event) {
            socket.onWorkQueue([event](WSWebSocket& s) { s.handleStreamEvent(event); });
        }));
    if (requestRequiresSSL_)
        stream_->startTLS(securityPolicy_->securityOptions(WSURLConnectHost(request_.url)));
    else
        didConnect();
}

// --- The upgrade handshake -----------------------------------------------------------------

std::string WSWebSocket::handshakeRequest(const std::string& key) const {
    const auto& url = request_.url;
    std::vector<std::pair<std::string, std::string>> fields;
    std::string host = url.host().value_or("");
    if (url.port())
        host += ":" + std::to_string(*url.port());
    fields.emplace_back("Host", host);
    if (!request_.cookies.empty()) {
        std::string cookies;
        for (const auto& [name, value] : request_.cookies) {
            if (name.empty() || value.empty())
                continue;
            if (!cookies.empty())
                cookies += "; ";
            cookies += name + "=" + value;
        }
        if (!cookies.empty())
            fields.emplace_back("Cookie", cookies);
    }
    if (auto authorization = WSBasicAuthorizationHeaderFromURL(url))
        fields.emplace_back("Authorization", *authorization);
    fields.emplace_back("Upgrade", "websocket");
    fields.emplace_back("Connection", "Upgrade");
    fields.emplace_back("Sec-WebSocket-Key", key);
    fields.emplace_back("Sec-WebSocket-Version", std::to_string(protocolVersion));
    fields.emplace_back("Origin", WSURLOrigin(url));
    if (!requestedProtocols_.empty()) {
        std::string joined;
        for (const auto& name : requestedProtocols_) {
            if (!joined.empty())
                joined += ", ";
            joined += name;
        }
        fields.emplace_back("Sec-WebSocket-Protocol", joined);
    }
    for (const auto& [name, value] : request_.headerFields) {
        // A line break would let a field smuggle in others.
        if (name.empty() || containsLineBreak(name) || containsLineBreak(value))
            continue;
        auto same = std::find_if(fields.begin(), fields.end(), [&name = name](const auto& field) {
            return sameFieldName(field.first, name);
        });
        if (same != fields.end())
            same->second = value;
        else
            fields.emplace_back(name, value);
    }

    std::string target = url.encodedPath().empty() ? "/" : url.encodedPath();
    if (url.query())
        target += "?" + *url.query();
    std::string message = "GET " + target + " HTTP/1.1\r\n";
    for (const auto& [name, value] : fields) message += name + ": " + value + "\r\n";
    message += "\r\n";
    return message;
}

void WSWebSocket::didConnect() {
    if (handshakeSent_)
        return;
    handshakeSent_ = true;
    auto random = WSRandomData(handshakeKeyBytes);
    if (!random) {
        failWithError(WSErrorWithCodeDescription(WSErrorCode::randomSourceFailed,
                                                 "Failed to generate random bytes."));
        return;
    }
    secKey_ = WSBase64EncodedStringFromData(random->data(), random->size());
    std::string message = handshakeRequest(secKey_);
    writeData(reinterpret_cast<const std::uint8_t*>(message.data()), message.size());
    readHTTPHeader();
}

void WSWebSocket::readHTTPHeader() {
    headScanned_ = 0;
    addConsumer(
        [this](const std::uint8_t* bytes, std::size_t length) -> std::size_t {
            constexpr auto terminator = platform::HTTPResponseHead::terminator;
            std::size_t window = std::min(length, maximumHandshakeHeadSize);
            std::string_view unread(reinterpret_cast<const char*>(bytes), window);
            // Only the bytes that arrived since the last look, and the few before them that
            // may start the terminator, are searched again.
            std::size_t from =
                headScanned_ >= terminator.size() ? headScanned_ - (terminator.size() - 1) : 0;
            auto found = unread.find(terminator, from);
            if (found != std::string_view::npos)
                return found + terminator.size();
            headScanned_ = window;
            if (window == maximumHandshakeHeadSize)
                failWithError(
                    WSErrorWithCodeDescription(WSErrorCode::invalidHandshake,
                                               "The HTTP response head from server is too large."));
            return 0;
        },
        [this](const platform::Data& bytes) { httpHeadersDidFinish(bytes); });
}

void WSWebSocket::httpHeadersDidFinish(const platform::Data& bytes) {
    auto head = platform::HTTPResponseHead::parse(
        std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    auto refuse = [this](const std::string& text) {
        failWithError(WSErrorWithCodeDescription(WSErrorCode::invalidHandshake, text));
    };
    if (!head)
        return refuse("Invalid HTTP response from server.");
    {
        std::lock_guard lock(stateMutex_);
        receivedHTTPHeaders_ = head;
    }
    int status = head->statusCode();
    if (status != 101) {
        failWithError(WSHTTPErrorWithCodeDescription(
            status, WSErrorCode::badResponseCode,
            "Received bad response code from server: " + std::to_string(status) + "."));
        return;
    }
    if (WSLowercased(head->headerField("Upgrade").value_or("")) != "websocket")
        return refuse("Invalid Upgrade response.");
    if (!listsToken(head->headerField("Connection").value_or(""), "upgrade"))
        return refuse("Invalid Connection response.");
    auto digest = WSSHA1HashFromString(secKey_ + acceptGUID);
    std::string expected = WSBase64EncodedStringFromData(digest.data(), digest.size());
    if (head->headerField("Sec-WebSocket-Accept") != expected)
        return refuse("Invalid Sec-WebSocket-Accept response.");
    // No extension is ever offered, so none may be in force.
    if (!head->headerField("Sec-WebSocket-Extensions").value_or("").empty())
        return refuse("Server specified Sec-WebSocket-Extensions that weren't requested.");
    if (auto chosen = head->headerField("Sec-WebSocket-Protocol"); chosen && !chosen->empty()) {
        if (std::find(requestedProtocols_.begin(), requestedProtocols_.end(), *chosen) ==
            requestedProtocols_.end())
            return refuse("Server specified Sec-WebSocket-Protocol that wasn't requested.");
        std::lock_guard lock(stateMutex_);
        protocol_ = chosen;
    }
    setReadyState(WSReadyState::open);

    WSFrameReader::Callbacks callbacks;
    callbacks.text = [this](const std::string& message) {
        auto self = shared_from_this();
        delegates_.performDelegateBlock(
            [self, message](WSWebSocketDelegate& d, WSDelegateAvailableMethods methods) {
                if (methods.shouldConvertTextFrameToString &&
                    !d.webSocketShouldConvertTextFrameToString(*self)) {
                    auto bytes = BoxedData::make(platform::Data(message.begin(), message.end()));
                    if (methods.didReceiveMessage)
                        d.webSocketDidReceiveMessage(*self, platform::Value(bytes));
                    if (methods.didReceiveMessageWithData)
                        d.webSocketDidReceiveMessageWithData(*self, bytes->value());
                    return;
                }
                if (methods.didReceiveMessage)
                    d.webSocketDidReceiveMessage(*self, platform::Value(message));
                if (methods.didReceiveMessageWithString)
                    d.webSocketDidReceiveMessageWithString(*self, message);
            });
    };
    callbacks.binary = [this](const platform::Data& data) {
        auto self = shared_from_this();
        auto bytes = BoxedData::make(data);
        delegates_.performDelegateBlock(
            [self, bytes](WSWebSocketDelegate& d, WSDelegateAvailableMethods methods) {
                if (methods.didReceiveMessage)
                    d.webSocketDidReceiveMessage(*self, platform::Value(bytes));
                if (methods.didReceiveMessageWithData)
                    d.webSocketDidReceiveMessageWithData(*self, bytes->value());
            });
    };
    callbacks.ping = [this](const platform::Data& data) {
        didReceivePing(data);
    };
    callbacks.pong = [this](const platform::Data& data) {
        auto self = shared_from_this();
        delegates_.performDelegateBlock(
            [self, data](WSWebSocketDelegate& d, WSDelegateAvailableMethods methods) {
                if (methods.didReceivePong)
                    d.webSocketDidReceivePong(*self, data);
            });
    };
    callbacks.close = [this](int code, const std::optional<std::string>& reason) {
        didReceiveCloseFrame(code, reason);
    };
    callbacks.fail = [this](int code, const std::string& reason) {
        failConnection(code, reason);
    };
    callbacks.cannotHold = [this] {
        failForLackOfMemory();
    };
    frameReader_ = std::make_unique<WSFrameReader>(std::move(callbacks), maximumMessageSize_);
    readFrames();
    auto self = shared_from_this();
    delegates_.performDelegateBlock(
        [self](WSWebSocketDelegate& d, WSDelegateAvailableMethods methods) {
            if (methods.didOpen)
                d.webSocketDidOpen(*self);
        });
}

void WSWebSocket::readFrames() {
    addConsumer([](const std::uint8_t*, std::size_t length) { return length; },
                [this](const platform::Data& bytes) {
                    if (!frameReader_)
                        return;
                    frameReader_->consume(bytes.data(), bytes.size());
                    if (!frameReader_->stopped() && !inputStopped_)
                        readFrames();
                });
}

void WSWebSocket::didReceivePing(const platform::Data& data) {
    auto self = shared_from_this();
    delegates_.performDelegateBlock(
        [self, data](WSWebSocketDelegate& d, WSDelegateAvailableMethods methods) {
            if (methods.didReceivePing)
                d.webSocketDidReceivePing(*self, data);
        });
    if (readyState() == WSReadyState::open)
        sendFrame(pong, data);
}

void WSWebSocket::didReceiveCloseFrame(int code, const std::optional<std::string>& reason) {
    inputStopped_ = true;
    closeFrameReceived_ = true;
    closeCode_ = code;
    closeReason_ = reason;
    // Answered at once, before anything else is handled, so that a stream end that follows
    // closely cannot overtake the reply.
    startClosingHandshake(WSStatusCode::normal, std::nullopt);
    closeConnection();
}

// --- Sending -------------------------------------------------------------------------------

bool WSWebSocket::isOpenToSend(const char* operation, platform::Error* error) const {
    if (readyState() == WSReadyState::open)
        return true;
    if (error)
        *error = WSErrorWithCodeDescription(
            WSErrorCode::notOpen, std::string("Invalid State: Cannot call `") + operation +
                                      "` until connection is open.");
    return false;
}

bool WSWebSocket::sendString(const std::string& message, platform::Error* error) {
    if (!isOpenToSend("sendString:error:", error))
        return false;
    platform::Data bytes(message.begin(), message.end());
    onWorkQueue([bytes](WSWebSocket& s) { s.sendFrame(text, bytes); });
    return true;
}

bool WSWebSocket::sendData(const platform::Data& data, platform::Error* error) {
    // Checked before the copy, so that a refused message costs nothing.
    if (!isOpenToSend("sendDataNoCopy:error:", error))
        return false;
    return sendDataNoCopy(std::make_shared<const platform::Data>(data), error);
}

bool WSWebSocket::sendDataNoCopy(std::shared_ptr<const platform::Data> data,
                                 platform::Error* error) {
    if (!isOpenToSend("sendDataNoCopy:error:", error))
        return false;
    if (data)
        onWorkQueue([data = std::move(data)](WSWebSocket& s) { s.sendFrame(binary, *data); });
    return true;
}

void WSWebSocket::send(const platform::Value& message) {
    if (const std::string* text = message.asString())
        sendString(*text);
    else if (message.isNull())
        sendDataNoCopy(nullptr);
    else if (auto bytes = message.asObjectOf<BoxedData>())
        sendData(bytes->value());
}

bool WSWebSocket::sendPing(const platform::Data& data, platform::Error* error) {
    if (!isOpenToSend("sendPing:error:", error))
        return false;
    if (data.size() > maximumControlPayload) {
        if (error)
            *error = WSErrorWithCodeDescription(
                WSErrorCode::invalidFrame, "A ping carries at most 125 bytes of application data.");
        return false;
    }
    onWorkQueue([data](WSWebSocket& s) { s.sendFrame(ping, data); });
    return true;
}

void WSWebSocket::sendFrame(std::uint8_t opcode, const platform::Data& data) {
    // Nothing follows a close frame, and nothing goes out on a failed connection.
    if (closeFrameSent_ || failed_)
        return;
    std::uint8_t key[maskKeyBytes];
    if (!platform::SecureRandom::fill(key, maskKeyBytes)) {
        failWithError(WSErrorWithCodeDescription(WSErrorCode::randomSourceFailed,
                                                 "Failed to generate random bytes."));
        return;
    }
    if (opcode == connectionClose)
        closeFrameSent_ = true;
    const std::size_t length = data.size();
    std::vector<std::uint8_t> frame;
    try {
        frame.reserve(length + frameHeaderReserve);
    } catch (const std::bad_alloc&) {
        startClosingHandshake(WSStatusCode::messageTooBig, "Message too big");
        return;
    }
    frame.push_back(static_cast<std::uint8_t>(0x80 | opcode));
    if (length < 126) {
        frame.push_back(static_cast<std::uint8_t>(0x80 | length));
    } else if (length <= 0xFFFF) {
        frame.push_back(0x80 | 126);
        frame.push_back(static_cast<std::uint8_t>(length >> 8));
        frame.push_back(static_cast<std::uint8_t>(length));
    } else {
        frame.push_back(0x80 | 127);
        for (int shift = 56; shift >= 0; shift -= 8)
            frame.push_back(static_cast<std::uint8_t>(static_cast<std::uint64_t>(length) >> shift));
    }
    frame.insert(frame.end(), key, key + maskKeyBytes);
    std::size_t payloadStart = frame.size();
    frame.insert(frame.end(), data.begin(), data.end());
    WSMaskBytes(frame.data() + payloadStart, length, key);
    writeData(frame.data(), frame.size());
}

void WSWebSocket::writeData(const std::uint8_t* bytes, std::size_t length) {
    if (closeWhenFinishedWriting_)
        return;
    outputBuffer_.insert(outputBuffer_.end(), bytes, bytes + length);
    pumpWriting();
}

void WSWebSocket::pumpWriting() {
    if (!stream_)
        return;
    std::size_t remaining = outputBuffer_.size() - outputBufferOffset_;
    if (remaining > 0 && stream_->hasSpaceAvailable()) {
        long written = stream_->write(outputBuffer_.data() + outputBufferOffset_, remaining);
        if (written < 0) {
            auto streamError = stream_->error();
            failWithError(streamError ? WSErrorWithCodeDescriptionUnderlyingError(
                                            WSErrorCode::writeFailed, "Error writing to stream.",
                                            *streamError)
                                      : WSErrorWithCodeDescription(WSErrorCode::writeFailed,
                                                                   "Error writing to stream."));
            return;
        }
        outputBufferOffset_ += static_cast<std::size_t>(written);
        if (outputBufferOffset_ > WSDefaultBufferSize() &&
            outputBufferOffset_ > outputBuffer_.size() / 2) {
            outputBuffer_.erase(outputBuffer_.begin(),
                                outputBuffer_.begin() + static_cast<long>(outputBufferOffset_));
            outputBufferOffset_ = 0;
        }
    }
    auto status = stream_->status();
    if (closeWhenFinishedWriting_ && outputBuffer_.size() == outputBufferOffset_ &&
        status != platform::SocketStream::Status::notOpen &&
        status != platform::SocketStream::Status::closed && !closeReported_ && !failed_) {
        stream_->setDelegate(nullptr);
        stream_->close();
        setReadyState(WSReadyState::closed);
        reportClose();
        scheduleCleanup();
    }
}

// --- Closing and failing -------------------------------------------------------------------

void WSWebSocket::close() {
    closeWithCode(WSStatusCode::normal, std::nullopt);
}

bool WSWebSocket::closeWithCode(int code, std::optional<std::string> reason,
                                platform::Error* error) {
    if (!sendableCloseCode(code)) {
        if (error)
            *error = WSErrorWithCodeDescription(
                WSErrorCode::invalidFrame,
                "Close code " + std::to_string(code) + " may not be sent by an endpoint.");
        return false;
    }
    onWorkQueue([code, reason = std::move(reason)](WSWebSocket& s) {
        s.startClosingHandshake(code, reason);
    });
    return true;
}

void WSWebSocket::startClosingHandshake(int code, const std::optional<std::string>& reason) {
    auto state = readyState();
    if (state == WSReadyState::closing || state == WSReadyState::closed)
        return;
    setReadyState(WSReadyState::closing);
    if (state == WSReadyState::connecting) {
        inputStopped_ = true;
        if (stream_) {
            closeConnection();
            return;
        }
        // Still reaching the server (a PAC download, a proxy that has not answered): that
        // stops now, with its connection, rather than when it would have finished.
        if (proxyConnect_)
            proxyConnect_->cancel();
        proxyConnect_.reset();
        setReadyState(WSReadyState::closed);
        reportClose();
        scheduleCleanup();
        return;
    }
    platform::Data payload = closePayload(code, reason);
    // A server that never answers the close frame must not keep the socket closing for ever.
    // The wait starts before the frame goes out, so it is never longer than the bound.
    workQueue_->asyncAfter(closeHandshakeTimeout,
                           platform::weakly(shared_from_this(), [](WSWebSocket& socket) {
                               socket.closeHandshakeTimedOut();
                           }));
    sendFrame(connectionClose, payload);
}

void WSWebSocket::closeHandshakeTimedOut() {
    if (closeFrameReceived_ || closeReported_ || failed_ || readyState() == WSReadyState::closed)
        return;
    inputStopped_ = true;
    if (frameReader_)
        frameReader_->stop();
    if (stream_) {
        stream_->setDelegate(nullptr);
        stream_->close();
    }
    closeReason_ = "The server did not answer the close.";
    setReadyState(WSReadyState::closed);
    reportClose();
    scheduleCleanup();
}

void WSWebSocket::closeConnection() {
    closeWhenFinishedWriting_ = true;
    pumpWriting();
}

void WSWebSocket::failConnection(int code, const std::string& reason) {
    inputStopped_ = true;
    if (frameReader_)
        frameReader_->stop();
    if (!closeFrameReceived_)
        closeReason_ = reason;
    startClosingHandshake(code, reason);
    closeConnection();
}

void WSWebSocket::failForLackOfMemory() {
    static constexpr const char* text = "Unable to allocate memory to read from socket.";
    inputStopped_ = true;
    if (frameReader_)
        frameReader_->stop();
    if (failed_ || closeReported_ || readyState() == WSReadyState::closed)
        return;
    // The server learns why the connection ends, when a close frame can still go out.
    if (readyState() == WSReadyState::open)
        sendFrame(connectionClose, closePayload(WSStatusCode::messageTooBig, text));
    failWithError(WSErrorWithCodeDescription(WSErrorCode::readBufferUnavailable, text));
}

void WSWebSocket::reportClose() {
    if (closeReported_ || failed_)
        return;
    closeReported_ = true;
    auto self = shared_from_this();
    int code = closeFrameReceived_ ? closeCode_ : WSStatusCode::abnormal;
    auto reason = closeReason_;
    bool clean = closeFrameReceived_;
    delegates_.performDelegateBlock(
        [self, code, reason, clean](WSWebSocketDelegate& d, WSDelegateAvailableMethods methods) {
            if (methods.didCloseWithCode)
                d.webSocketDidCloseWithCode(*self, code, reason, clean);
        });
}

void WSWebSocket::failWithError(const platform::Error& error) {
    inputStopped_ = true;
    if (frameReader_)
        frameReader_->stop();
    if (readyState() == WSReadyState::closed || failed_ || closeReported_)
        return;
    failed_ = true;
    auto self = shared_from_this();
    delegates_.performDelegateBlock(
        [self, error](WSWebSocketDelegate& d, WSDelegateAvailableMethods methods) {
            if (methods.didFailWithError)
                d.webSocketDidFailWithError(*self, error);
        });
    setReadyState(WSReadyState::closed);
    closeConnection();
    scheduleCleanup();
}

void WSWebSocket::scheduleCleanup() {
    if (cleanupScheduled_)
        return;
    cleanupScheduled_ = true;
    onWorkQueue([](WSWebSocket& s) {
        if (s.stream_) {
            s.stream_->setDelegate(nullptr);
            s.stream_->close();
        }
        // A connection still being made (a PAC download, a proxy's handshake) stops with it.
        if (s.proxyConnect_)
            s.proxyConnect_->cancel();
        s.proxyConnect_.reset();
        s.consumers_.clear();
        s.frameReader_.reset();
        s.selfRetain_.reset();
    });
}

// --- Stream events -------------------------------------------------------------------------

void WSWebSocket::handleStreamEvent(platform::SocketStream::Event event) {
    using Event = platform::SocketStream::Event;
    if (!stream_ || failed_ || closeReported_)
        return;
    if (requestRequiresSSL_ && !streamSecurityValidated_ &&
        (event == Event::hasBytesAvailable || event == Event::hasSpaceAvailable)) {
        auto certificates = stream_->peerCertificates();
        if (!certificates.empty())
            streamSecurityValidated_ =
                securityPolicy_->evaluateServerTrust(certificates, WSURLConnectHost(request_.url));
        if (!streamSecurityValidated_) {
            failWithError(platform::makeURLError(invalidServerCertificateCode,
                                                 "Invalid server certificate."));
            return;
        }
        didConnect();
    }
    switch (event) {
        case Event::openCompleted:
            if (readyState() == WSReadyState::connecting || readyState() == WSReadyState::open) {
                pumpWriting();
                pumpScanner();
            }
            break;
        case Event::hasBytesAvailable:
            readAvailableBytes();
            break;
        case Event::hasSpaceAvailable:
            pumpWriting();
            break;
        case Event::errorOccurred: {
            auto error = stream_->error();
            failWithError(error ? *error
                                : platform::makeURLError(platform::URLError::networkConnectionLost,
                                                         "The connection was lost."));
            readBuffer_.clear();
            readBufferOffset_ = 0;
            break;
        }
        case Event::endEncountered:
            streamEnded();
            break;
    }
}

void WSWebSocket::streamEnded() {
    pumpScanner();
    if (stream_->status() == platform::SocketStream::Status::error) {
        if (auto error = stream_->error())
            failWithError(*error);
        return;
    }
    if (failed_ || closeReported_)
        return;
    // After the server's close frame the end of its stream completes the closing handshake;
    // the reply is flushed first, a peer that half-closed may still read it.
    pumpWriting();
    if (!closeFrameReceived_ && !closeReason_)
        closeReason_ = "Stream end encountered";
    inputStopped_ = true;
    setReadyState(WSReadyState::closed);
    reportClose();
    scheduleCleanup();
}

void WSWebSocket::readAvailableBytes() {
    // A peer that never stops sending must not hold the work queue: after this many pieces
    // the rest is read in a later block, behind whatever else is waiting (a close, a send).
    constexpr int piecesPerTurn = 64;
    try {
        readPieces(piecesPerTurn);
    } catch (const std::bad_alloc&) {
        failForLackOfMemory();
    }
}

void WSWebSocket::readPieces(int piecesPerTurn) {
    std::vector<std::uint8_t> buffer(WSDefaultBufferSize());
    for (int piece = 0; stream_ && !inputStopped_; ++piece) {
        if (piece == piecesPerTurn) {
            onWorkQueue([](WSWebSocket& s) {
                if (!s.failed_ && !s.closeReported_)
                    s.readAvailableBytes();
            });
            return;
        }
        long count = stream_->read(buffer.data(), buffer.size());
        if (count == platform::SocketStream::wouldBlock || count == 0)
            return;
        if (count < 0) {
            auto error = stream_->error();
            failWithError(error ? *error
                                : platform::makeURLError(platform::URLError::networkConnectionLost,
                                                         "The connection was lost."));
            return;
        }
        readBuffer_.insert(readBuffer_.end(), buffer.begin(), buffer.begin() + count);
        // Each piece is handled before the next is read, so what is buffered stays bounded
        // by the limits of the reader, not by how fast the peer writes.
        pumpScanner();
    }
}

// --- The consumer queue --------------------------------------------------------------------

void WSWebSocket::addConsumer(WSIOConsumer::Scanner scanner, WSIOConsumer::Handler handler) {
    consumers_.push_back(
        consumerPool_.consumer(std::move(scanner), std::move(handler), 0, false, false));
    pumpScanner();
}

void WSWebSocket::pumpScanner() {
    if (isPumping_)
        return;
    isPumping_ = true;
    bool heldEverything = true;
    try {
        while (innerPumpScanner()) {
        }
    } catch (const std::bad_alloc&) {
        heldEverything = false;
    }
    isPumping_ = false;
    if (!heldEverything)
        failForLackOfMemory();
}

bool WSWebSocket::innerPumpScanner() {
    if (inputStopped_ || readyState() == WSReadyState::closed || consumers_.empty())
        return false;
    std::size_t available = readBuffer_.size() - readBufferOffset_;
    if (available == 0)
        return false;

    auto consumer = consumers_.front();
    const std::uint8_t* bytes = readBuffer_.data() + readBufferOffset_;
    std::size_t found = consumer->scanner()(bytes, available);
    if (found == 0 || inputStopped_)
        return false;

    platform::Data slice(bytes, bytes + found);
    readBufferOffset_ += found;
    if (readBufferOffset_ == readBuffer_.size()) {
        readBuffer_.clear();
        readBufferOffset_ = 0;
    } else if (readBufferOffset_ > WSDefaultBufferSize() &&
               readBufferOffset_ > readBuffer_.size() / 2) {
        readBuffer_.erase(readBuffer_.begin(),
                          readBuffer_.begin() + static_cast<long>(readBufferOffset_));
        readBufferOffset_ = 0;
    }
    consumers_.pop_front();
    consumer->handler()(slice);
    consumerPool_.returnConsumer(consumer);
    return true;
}

}  // namespace pindle
