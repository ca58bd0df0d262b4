#include "PindleCore/websocket/WSWebSocket.hpp"

#include <algorithm>
#include <cassert>
#include <climits>
#include <new>

#include "PindleCore/websocket/WSPinningSecurityPolicy.hpp"
#include "PindleCore/websocket/WSRunLoopThread.hpp"
#include "PindleCore/websocket/WSUtilities.hpp"
#include "platform/crypto/SecureRandom.hpp"

namespace pindle {

namespace {

constexpr std::size_t handshakeKeyBytes = 16;
constexpr std::size_t maskKeyBytes = 4;
constexpr std::size_t frameHeaderReserve = 32;
constexpr std::size_t maximumControlPayload = 125;
constexpr std::size_t closeCodeBytes = 2;
// The URL-loading code the platform reports for a server whose certificate was refused.
constexpr std::int64_t invalidServerCertificateCode = -1205;

bool acceptedCloseCode(int code) {
    return (code >= 1000 && code <= 1003) || (code >= 1007 && code <= 1011) ||
           (code >= 3000 && code <= 4999);
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

std::string notOpenText(const char* operation) {
    return std::string("Invalid State: Cannot call `") + operation + "` until connection is open.";
}

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
    std::lock_guard lock(stateMutex_);
    return readyState_;
}

void WSWebSocket::setReadyState(WSReadyState state) {
    std::lock_guard lock(stateMutex_);
    if (static_cast<int>(state) > static_cast<int>(readyState_))
        readyState_ = state;
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
        self.selfRetain_ = self.shared_from_this();
        std::weak_ptr<WSWebSocket> weak = self.selfRetain_;
        if (self.request_.timeoutInterval > 0) {
            platform::DispatchQueue::main()->asyncAfter(self.request_.timeoutInterval, [weak] {
                auto socket = weak.lock();
                if (!socket || socket->readyState() != WSReadyState::connecting)
                    return;
                socket->onWorkQueue([](WSWebSocket& s) {
                    if (s.readyState() == WSReadyState::connecting)
                        s.failWithError(platform::makeURLError(platform::URLError::timedOut,
                                                               "Timed out connecting to server."));
                });
            });
        }
        self.proxyConnect_ = WSProxyConnect::create(self.request_.url, settings);
        self.proxyConnect_->openNetworkStream(
            [weak](const std::optional<platform::Error>& error,
                   std::shared_ptr<platform::SocketStream> stream) {
                auto socket = weak.lock();
                if (!socket) {
                    if (stream)
                        stream->close();
                    return;
                }
                socket->onWorkQueue(
                    [error, stream](WSWebSocket& s) { s.connectionDone(error, stream); });
            });
    });
}

void WSWebSocket::connectionDone(const std::optional<platform::Error>& error,
                                 std::shared_ptr<platform::SocketStream> stream) {
    proxyConnect_.reset();
    if (error) {
        failWithError(*error);
        return;
    }
    if (readyState() != WSReadyState::connecting) {
        // Closed or failed while the connection was being made: it is not used.
        stream->close();
        if (!sentClose_ && !failed_) {
            sentClose_ = true;
            auto self = shared_from_this();
            int code = closeCode_;
            auto reason = closeReason_;
            delegates_.performDelegateBlock([self, code, reason](WSWebSocketDelegate& d) {
                d.webSocketDidCloseWithCode(*self, code, reason, true);
            });
        }
        setReadyState(WSReadyState::closed);
        scheduleCleanup();
        return;
    }
    stream_ = std::move(stream);
    std::weak_ptr<WSWebSocket> weak = shared_from_this();
    stream_->setDelegate([weak](platform::SocketStream::Event event) {
        if (auto socket = weak.lock())
            socket->onWorkQueue([event](WSWebSocket& s) { s.handleStreamEvent(event); });
    });
    if (requestRequiresSSL_)
        stream_->startTLS(securityPolicy_->securityOptions(request_.url.host().value_or("")));
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
        auto same = std::find_if(fields.begin(), fields.end(), [&](const auto& field) {
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
    secKey_ = WSBase64EncodedStringFromData(random.data(), random.size());
    std::string message = handshakeRequest(secKey_);
    writeData(reinterpret_cast<const std::uint8_t*>(message.data()), message.size());
    readHTTPHeader();
}

void WSWebSocket::readHTTPHeader() {
    readUntilBytes(std::string(platform::HTTPResponseHead::terminator),
                   [this](const platform::Data& bytes) {
                       responseBytes_.append(bytes.begin(), bytes.end());
                       if (platform::HTTPResponseHead::completeLength(responseBytes_))
                           httpHeadersDidFinish();
                       else
                           readHTTPHeader();
                   });
}

void WSWebSocket::httpHeadersDidFinish() {
    auto head = platform::HTTPResponseHead::parse(responseBytes_);
    responseBytes_.clear();
    if (!head) {
        failWithError(WSErrorWithCodeDescription(WSErrorCode::invalidHandshake,
                                                 "Invalid HTTP response from server."));
        return;
    }
    {
        std::lock_guard lock(stateMutex_);
        receivedHTTPHeaders_ = head;
    }
    int status = head->statusCode();
    if (status >= 400) {
        failWithError(WSHTTPErrorWithCodeDescription(
            status, WSErrorCode::badResponseCode,
            "Received bad response code from server: " + std::to_string(status) + "."));
        return;
    }
    auto digest = WSSHA1HashFromString(secKey_ + acceptGUID);
    std::string expected = WSBase64EncodedStringFromData(digest.data(), digest.size());
    if (head->headerField("Sec-WebSocket-Accept") != expected) {
        failWithError(WSErrorWithCodeDescription(WSErrorCode::invalidHandshake,
                                                 "Invalid Sec-WebSocket-Accept response."));
        return;
    }
    if (auto chosen = head->headerField("Sec-WebSocket-Protocol"); chosen && !chosen->empty()) {
        if (std::find(requestedProtocols_.begin(), requestedProtocols_.end(), *chosen) ==
            requestedProtocols_.end()) {
            failWithError(WSErrorWithCodeDescription(
                WSErrorCode::invalidHandshake,
                "Server specified Sec-WebSocket-Protocol that wasn't requested."));
            return;
        }
        std::lock_guard lock(stateMutex_);
        protocol_ = chosen;
    }
    setReadyState(WSReadyState::open);
    readFrameNew();
    auto self = shared_from_this();
    delegates_.performDelegateBlock([self](WSWebSocketDelegate& d) { d.webSocketDidOpen(*self); });
}

// --- Sending -------------------------------------------------------------------------------

bool WSWebSocket::sendString(const std::string& message, platform::Error* error) {
    if (readyState() != WSReadyState::open) {
        if (error)
            *error =
                WSErrorWithCodeDescription(WSErrorCode::notOpen, notOpenText("sendString:error:"));
        return false;
    }
    platform::Data bytes(message.begin(), message.end());
    onWorkQueue([bytes](WSWebSocket& s) { s.sendFrame(text, &bytes); });
    return true;
}

bool WSWebSocket::sendData(const platform::Data& data, platform::Error* error) {
    if (readyState() != WSReadyState::open) {
        if (error)
            *error = WSErrorWithCodeDescription(WSErrorCode::notOpen,
                                                notOpenText("sendDataNoCopy:error:"));
        return false;
    }
    onWorkQueue([data](WSWebSocket& s) { s.sendFrame(binary, &data); });
    return true;
}

bool WSWebSocket::sendPing(const platform::Data& data, platform::Error* error) {
    if (readyState() != WSReadyState::open) {
        if (error)
            *error =
                WSErrorWithCodeDescription(WSErrorCode::notOpen, notOpenText("sendPing:error:"));
        return false;
    }
    onWorkQueue([data](WSWebSocket& s) { s.sendFrame(ping, &data); });
    return true;
}

void WSWebSocket::sendFrame(std::uint8_t opcode, const platform::Data* data) {
    if (!data)
        return;
    const std::size_t length = data->size();
    std::vector<std::uint8_t> frame;
    try {
        frame.reserve(length + frameHeaderReserve);
    } catch (const std::bad_alloc&) {
        closeWithCode(WSStatusCode::messageTooBig, "Message too big");
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
    std::uint8_t key[maskKeyBytes] = {0, 0, 0, 0};
    platform::SecureRandom::fill(key, maskKeyBytes);
    frame.insert(frame.end(), key, key + maskKeyBytes);
    std::size_t payloadStart = frame.size();
    frame.insert(frame.end(), data->begin(), data->end());
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
        status != platform::SocketStream::Status::closed && !sentClose_) {
        sentClose_ = true;
        stream_->setDelegate(nullptr);
        stream_->close();
        setReadyState(WSReadyState::closed);
        if (!failed_) {
            auto self = shared_from_this();
            int code = closeCode_;
            auto reason = closeReason_;
            delegates_.performDelegateBlock([self, code, reason](WSWebSocketDelegate& d) {
                d.webSocketDidCloseWithCode(*self, code, reason, true);
            });
        }
        scheduleCleanup();
    }
}

// --- Closing and failing -------------------------------------------------------------------

void WSWebSocket::close() {
    closeWithCode(WSStatusCode::normal, std::nullopt);
}

void WSWebSocket::closeWithCode(int code, std::optional<std::string> reason) {
    assert(code != 0);
    onWorkQueue([code, reason = std::move(reason)](WSWebSocket& s) {
        auto state = s.readyState();
        if (state == WSReadyState::closing || state == WSReadyState::closed)
            return;
        s.setReadyState(WSReadyState::closing);
        if (state == WSReadyState::connecting) {
            s.closeConnection();
            return;
        }
        platform::Data payload{static_cast<std::uint8_t>(code >> 8),
                               static_cast<std::uint8_t>(code)};
        if (reason) {
            // A control frame carries at most 125 bytes; cut the reason on a character
            // boundary rather than send a frame the server must reject.
            std::size_t room = maximumControlPayload - closeCodeBytes;
            std::size_t keep = std::min(room, reason->size());
            auto valid =
                WSValidUTF8Prefix(reinterpret_cast<const std::uint8_t*>(reason->data()), keep);
            payload.insert(payload.end(), reason->begin(),
                           reason->begin() + static_cast<long>(valid.value_or(0)));
        }
        s.sendFrame(connectionClose, &payload);
    });
}

void WSWebSocket::closeConnection() {
    closeWhenFinishedWriting_ = true;
    pumpWriting();
}

void WSWebSocket::closeWithProtocolError(const std::string& message) {
    auto self = shared_from_this();
    // Through the delegate queue, so messages already handed to the delegate come first.
    delegates_.performDelegateQueueBlock([self, message] {
        self->closeWithCode(WSStatusCode::protocolError, message);
        self->onWorkQueue([](WSWebSocket& s) { s.closeConnection(); });
    });
}

void WSWebSocket::failWithError(const platform::Error& error) {
    if (readyState() == WSReadyState::closed)
        return;
    failed_ = true;
    auto self = shared_from_this();
    delegates_.performDelegateBlock(
        [self, error](WSWebSocketDelegate& d) { d.webSocketDidFailWithError(*self, error); });
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
        s.proxyConnect_.reset();
        s.selfRetain_.reset();
    });
}

// --- Stream events -------------------------------------------------------------------------

void WSWebSocket::handleStreamEvent(platform::SocketStream::Event event) {
    using Event = platform::SocketStream::Event;
    if (!stream_)
        return;
    if (requestRequiresSSL_ && !streamSecurityValidated_ &&
        (event == Event::hasBytesAvailable || event == Event::hasSpaceAvailable)) {
        auto certificates = stream_->peerCertificates();
        if (!certificates.empty())
            streamSecurityValidated_ = securityPolicy_->evaluateServerTrust(
                certificates, request_.url.host().value_or(""));
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
            pumpScanner();
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
        case Event::endEncountered: {
            pumpScanner();
            if (stream_->status() == platform::SocketStream::Status::error) {
                if (auto error = stream_->error())
                    failWithError(*error);
                break;
            }
            if (readyState() != WSReadyState::closed) {
                setReadyState(WSReadyState::closed);
                scheduleCleanup();
            }
            if (!sentClose_ && !failed_) {
                sentClose_ = true;
                auto self = shared_from_this();
                delegates_.performDelegateBlock([self](WSWebSocketDelegate& d) {
                    d.webSocketDidCloseWithCode(*self, WSStatusCode::goingAway,
                                                std::string("Stream end encountered"), false);
                });
            }
            break;
        }
    }
}

void WSWebSocket::readAvailableBytes() {
    std::vector<std::uint8_t> buffer(WSDefaultBufferSize());
    for (;;) {
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
    }
}

// --- Reading frames ------------------------------------------------------------------------

void WSWebSocket::readFrameNew() {
    onWorkQueue([](WSWebSocket& s) {
        s.currentFrameData_.clear();
        s.currentFrameOpcode_ = 0;
        s.currentFrameCount_ = 0;
        s.readOpCount_ = 0;
        s.currentStringScanPosition_ = 0;
        s.readFrameContinue();
    });
}

void WSWebSocket::readFrameContinue() {
    assert((currentFrameCount_ == 0) == (currentFrameOpcode_ == 0));
    addConsumer(
        2,
        [this](const platform::Data& bytes) {
            std::uint8_t first = bytes[0];
            std::uint8_t second = bytes[1];
            if (first & 0x70) {
                closeWithProtocolError("Server used RSV bits");
                return;
            }
            std::uint8_t received = first & 0x0F;
            bool dataOpcode = received != continuation && !isControl(received);
            if (dataOpcode && currentFrameCount_ > 0) {
                closeWithProtocolError(
                    "all data frames after the initial data frame must have opcode 0");
                return;
            }
            if (received == continuation && currentFrameCount_ == 0) {
                closeWithProtocolError("cannot continue a message");
                return;
            }
            FrameHeader header;
            header.opcode = received == continuation ? currentFrameOpcode_ : received;
            header.fin = (first & 0x80) != 0;
            header.masked = (second & 0x80) != 0;
            std::uint8_t lengthCode = second & 0x7F;
            if (header.masked) {
                closeWithProtocolError("Client must receive unmasked data");
                return;
            }
            if (lengthCode == 126 || lengthCode == 127) {
                std::size_t extra = lengthCode == 126 ? 2 : 8;
                addConsumer(
                    extra,
                    [this, header](const platform::Data& lengthBytes) mutable {
                        std::uint64_t length = 0;
                        for (auto byte : lengthBytes) length = (length << 8) | byte;
                        header.payloadLength = length;
                        handleFrameHeader(header);
                    },
                    false, false);
            } else {
                header.payloadLength = lengthCode;
                handleFrameHeader(header);
            }
        },
        false, false);
}

void WSWebSocket::handleFrameHeader(FrameHeader header) {
    if (readyState() == WSReadyState::closed)
        return;
    bool control = isControl(header.opcode);
    if (control && !header.fin) {
        closeWithProtocolError("Fragmented control frames not allowed");
        return;
    }
    if (control && header.payloadLength > maximumControlPayload) {
        closeWithProtocolError("Control frames cannot have payloads larger than 126 bytes");
        return;
    }
    if (!control) {
        currentFrameOpcode_ = header.opcode;
        ++currentFrameCount_;
    }
    if (header.payloadLength == 0) {
        if (control)
            handleFrameWithData({}, header.opcode);
        else if (header.fin)
            handleFrameWithData(currentFrameData_, currentFrameOpcode_);
        else
            readFrameContinue();
        return;
    }
    addConsumer(
        static_cast<std::size_t>(header.payloadLength),
        [this, header, control](const platform::Data& bytes) {
            if (control)
                handleFrameWithData(bytes, header.opcode);
            else if (header.fin)
                handleFrameWithData(currentFrameData_, currentFrameOpcode_);
            else
                readFrameContinue();
        },
        !control, header.masked);
}

void WSWebSocket::handleFrameWithData(platform::Data data, std::uint8_t opcode) {
    if (isControl(opcode))
        onWorkQueue([](WSWebSocket& s) { s.readFrameContinue(); });
    else
        readFrameNew();

    auto self = shared_from_this();
    switch (opcode) {
        case text: {
            auto valid = WSValidUTF8Prefix(data.data(), data.size());
            if (!valid || *valid != data.size()) {
                closeWithCode(WSStatusCode::invalidUTF8, "Text frames must be valid UTF-8.");
                onWorkQueue([](WSWebSocket& s) { s.closeConnection(); });
                return;
            }
            std::string message(data.begin(), data.end());
            delegates_.performDelegateBlock([self, message, data](WSWebSocketDelegate& d) {
                if (d.webSocketShouldConvertTextFrameToString(*self))
                    d.webSocketDidReceiveMessageWithString(*self, message);
                else
                    d.webSocketDidReceiveMessageWithData(*self, data);
            });
            break;
        }
        case binary:
            delegates_.performDelegateBlock([self, data](WSWebSocketDelegate& d) {
                d.webSocketDidReceiveMessageWithData(*self, data);
            });
            break;
        case connectionClose:
            handleCloseWithData(data);
            break;
        case ping:
            handlePingWithData(data);
            break;
        case pong:
            handlePong(data);
            break;
        default:
            closeWithProtocolError("Unknown opcode " + std::to_string(opcode));
            break;
    }
}

void WSWebSocket::handleCloseWithData(const platform::Data& data) {
    if (data.empty()) {
        closeCode_ = WSStatusCode::noStatusReceived;
    } else if (data.size() == 1) {
        closeWithProtocolError("Payload for close must be larger than 2 bytes");
        return;
    } else {
        int code = (data[0] << 8) | data[1];
        if (!acceptedCloseCode(code)) {
            closeWithProtocolError("Cannot have close code of " + std::to_string(code));
            return;
        }
        if (data.size() > closeCodeBytes) {
            auto valid =
                WSValidUTF8Prefix(data.data() + closeCodeBytes, data.size() - closeCodeBytes);
            if (!valid || *valid != data.size() - closeCodeBytes) {
                closeWithProtocolError("Close reason MUST be valid UTF-8");
                return;
            }
            closeReason_ = std::string(data.begin() + closeCodeBytes, data.end());
        }
        closeCode_ = code;
    }
    if (readyState() == WSReadyState::open)
        closeWithCode(WSStatusCode::normal, std::nullopt);
    onWorkQueue([](WSWebSocket& s) { s.closeConnection(); });
}

void WSWebSocket::handlePingWithData(const platform::Data& data) {
    auto self = shared_from_this();
    delegates_.performDelegateBlock(
        [self, data](WSWebSocketDelegate& d) { d.webSocketDidReceivePing(*self, data); });
    onWorkQueue([data](WSWebSocket& s) { s.sendFrame(pong, &data); });
}

void WSWebSocket::handlePong(const platform::Data& data) {
    auto self = shared_from_this();
    delegates_.performDelegateBlock(
        [self, data](WSWebSocketDelegate& d) { d.webSocketDidReceivePong(*self, data); });
}

// --- The consumer queue --------------------------------------------------------------------

void WSWebSocket::addConsumer(WSIOConsumer::Scanner scanner, WSIOConsumer::Handler handler) {
    consumers_.push_back(
        consumerPool_.consumer(std::move(scanner), std::move(handler), 0, false, false));
    pumpScanner();
}

void WSWebSocket::addConsumer(std::size_t length, WSIOConsumer::Handler handler,
                              bool readToCurrentFrame, bool unmaskBytes) {
    assert(length > 0);
    consumers_.push_back(consumerPool_.consumer(nullptr, std::move(handler), length,
                                                readToCurrentFrame, unmaskBytes));
    pumpScanner();
}

void WSWebSocket::readUntilBytes(const std::string& pattern, WSIOConsumer::Handler handler) {
    addConsumer(
        [pattern](const std::uint8_t* bytes, std::size_t length) -> std::size_t {
            std::size_t matched = 0;
            for (std::size_t i = 0; i < length; ++i) {
                if (bytes[i] == static_cast<std::uint8_t>(pattern[matched])) {
                    if (++matched == pattern.size())
                        return i + 1;
                } else {
                    matched = 0;
                }
            }
            return 0;
        },
        std::move(handler));
}

void WSWebSocket::pumpScanner() {
    if (isPumping_)
        return;
    isPumping_ = true;
    while (innerPumpScanner()) {
    }
    isPumping_ = false;
}

bool WSWebSocket::innerPumpScanner() {
    if (readyState() == WSReadyState::closed || consumers_.empty())
        return false;
    std::size_t available = readBuffer_.size() - readBufferOffset_;
    if (available == 0)
        return false;

    auto consumer = consumers_.front();
    const std::uint8_t* bytes = readBuffer_.data() + readBufferOffset_;
    std::size_t found;
    if (consumer->scanner()) {
        found = consumer->scanner()(bytes, available);
    } else {
        found = consumer->bytesNeeded();
        if (available < found)
            found = consumer->readToCurrentFrame() ? available : 0;
    }
    if (found == 0)
        return false;

    platform::Data slice(bytes, bytes + found);
    readBufferOffset_ += found;
    if (readBufferOffset_ > WSDefaultBufferSize() && readBufferOffset_ > readBuffer_.size() / 2) {
        readBuffer_.erase(readBuffer_.begin(),
                          readBuffer_.begin() + static_cast<long>(readBufferOffset_));
        readBufferOffset_ = 0;
    }
    if (consumer->unmaskBytes()) {
        WSMaskBytes(slice.data(), slice.size(), currentReadMaskKey_, currentReadMaskOffset_);
        currentReadMaskOffset_ += slice.size();
    }

    if (consumer->readToCurrentFrame()) {
        currentFrameData_.insert(currentFrameData_.end(), slice.begin(), slice.end());
        ++readOpCount_;
        if (currentFrameOpcode_ == text && !currentFrameData_.empty()) {
            std::size_t unchecked = currentFrameData_.size() - currentStringScanPosition_;
            auto valid =
                unchecked > static_cast<std::size_t>(INT_MAX)
                    ? std::nullopt
                    : WSValidUTF8Prefix(currentFrameData_.data() + currentStringScanPosition_,
                                        unchecked);
            if (!valid) {
                closeWithCode(WSStatusCode::invalidUTF8, "Text frames must be valid UTF-8");
                onWorkQueue([](WSWebSocket& s) { s.closeConnection(); });
                return false;
            }
            currentStringScanPosition_ += *valid;
        }
        consumer->setBytesNeeded(consumer->bytesNeeded() - found);
        if (consumer->bytesNeeded() == 0) {
            consumers_.pop_front();
            consumer->handler()({});
            consumerPool_.returnConsumer(consumer);
            return true;
        }
        return false;
    }
    consumers_.pop_front();
    consumer->handler()(slice);
    consumerPool_.returnConsumer(consumer);
    return true;
}

}  // namespace pindle
