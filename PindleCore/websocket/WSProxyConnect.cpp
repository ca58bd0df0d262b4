#include "PindleCore/websocket/WSProxyConnect.hpp"

#include <chrono>
#include <thread>

#include "PindleCore/websocket/WSRunLoopThread.hpp"
#include "PindleCore/websocket/WSUtilities.hpp"
#include "platform/net/stream/HTTPResponseHead.hpp"

namespace pindle {

namespace {

constexpr int proxyFailureStatus = 500;
constexpr int proxyTimeoutStatus = 408;
constexpr int firstRefusedStatus = 300;

}  // namespace

std::shared_ptr<WSProxyConnect> WSProxyConnect::create(
    platform::URL url, std::optional<platform::ProxySettings> settings,
    std::shared_ptr<platform::RunLoop> runLoop) {
    if (!runLoop)
        runLoop = WSNetworkRunLoop();
    return std::shared_ptr<WSProxyConnect>(new WSProxyConnect(
        std::move(url), settings ? std::move(*settings) : platform::ProxySettings::system(),
        std::move(runLoop)));
}

WSProxyConnect::WSProxyConnect(platform::URL url, platform::ProxySettings settings,
                               std::shared_ptr<platform::RunLoop> runLoop)
    : url_(std::move(url)),
      settings_(std::move(settings)),
      runLoop_(std::move(runLoop)),
      connectionRequiresTLS_(WSURLRequiresSSL(url_)),
      writeQueue_(platform::DispatchQueue::create("com.quarry.websocket.proxyconnect.write")) {}

WSProxyConnect::~WSProxyConnect() {
    if (stream_) {
        stream_->setDelegate(nullptr);
        stream_->close();
    }
}

void WSProxyConnect::openNetworkStream(Completion completion) {
    using Type = platform::ProxySettings::Proxy::Type;
    {
        std::lock_guard lock(mutex_);
        completion_ = std::move(completion);
    }
    auto proxy = settings_.proxiesForURL(url_).front();
    if (proxy.type == Type::socks) {
        fail(WSHTTPErrorWithCodeDescription(
            proxyFailureStatus, WSErrorCode::badResponseCode,
            "The system names a SOCKS proxy (" + proxy.host + "), which this client cannot use."));
        return;
    }
    if (proxy.type == Type::http || proxy.type == Type::https) {
        std::lock_guard lock(mutex_);
        httpProxyHost_ = proxy.host;
        httpProxyPort_ = proxy.port.value_or(80);
    }
    openConnection();
}

void WSProxyConnect::openConnection() {
    std::shared_ptr<platform::SocketStream> stream;
    {
        std::lock_guard lock(mutex_);
        if (httpProxyHost_)
            stream_ = platform::SocketStream::create(*httpProxyHost_, httpProxyPort_);
        else
            stream_ = platform::SocketStream::create(url_.host().value_or(""), WSURLPort(url_));
        stream = stream_;
    }
    std::weak_ptr<WSProxyConnect> weak = weak_from_this();
    stream->setDelegate([weak](platform::SocketStream::Event event) {
        if (auto self = weak.lock())
            self->handleEvent(event);
    });
    stream->schedule(runLoop_);
    stream->open();
}

void WSProxyConnect::handleEvent(platform::SocketStream::Event event) {
    using Event = platform::SocketStream::Event;
    bool viaProxy;
    std::shared_ptr<platform::SocketStream> stream;
    {
        std::lock_guard lock(mutex_);
        viaProxy = httpProxyHost_.has_value();
        stream = stream_;
    }
    if (!stream)
        return;
    switch (event) {
        case Event::openCompleted:
            if (viaProxy)
                sendConnectRequest();
            else
                finish();
            break;
        case Event::hasBytesAvailable:
            readProxyAnswer();
            break;
        case Event::errorOccurred:
        case Event::endEncountered:
            fail(stream->error());
            break;
        case Event::hasSpaceAvailable:
            break;
    }
}

void WSProxyConnect::sendConnectRequest() {
    std::string host = url_.host().value_or("");
    std::string request = "CONNECT " + host + ":" + std::to_string(WSURLPort(url_)) +
                          " HTTP/1.1\r\nHost: " + host +
                          "\r\nConnection: keep-alive\r\nProxy-Connection: keep-alive\r\n\r\n";
    std::weak_ptr<WSProxyConnect> weak = weak_from_this();
    writeQueue_->async([weak, request] {
        auto self = weak.lock();
        if (!self)
            return;
        std::shared_ptr<platform::SocketStream> stream;
        {
            std::lock_guard lock(self->mutex_);
            stream = self->stream_;
        }
        if (!stream)
            return;
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::duration<double>(writeTimeout);
        while (!stream->hasSpaceAvailable()) {
            if (stream->status() == platform::SocketStream::Status::error ||
                stream->status() == platform::SocketStream::Status::closed) {
                self->fail(stream->error());
                return;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                self->fail(WSHTTPErrorWithCodeDescription(
                    proxyTimeoutStatus, WSErrorCode::badResponseCode, "Proxy timeout"));
                return;
            }
            std::this_thread::sleep_for(std::chrono::duration<double>(writePollInterval));
        }
        std::size_t sent = 0;
        while (sent < request.size()) {
            long count = stream->write(reinterpret_cast<const std::uint8_t*>(request.data()) + sent,
                                       request.size() - sent);
            if (count < 0) {
                self->fail(stream->error());
                return;
            }
            sent += static_cast<std::size_t>(count);
            if (sent < request.size())
                std::this_thread::sleep_for(std::chrono::duration<double>(writePollInterval));
        }
    });
}

void WSProxyConnect::readProxyAnswer() {
    std::shared_ptr<platform::SocketStream> stream;
    {
        std::lock_guard lock(mutex_);
        stream = stream_;
    }
    if (!stream)
        return;
    std::vector<std::uint8_t> buffer(WSDefaultBufferSize());
    std::optional<platform::HTTPResponseHead> head;
    bool malformed = false;
    for (;;) {
        long count = stream->read(buffer.data(), buffer.size());
        if (count == platform::SocketStream::wouldBlock)
            break;
        if (count <= 0)
            return;  // the end or error event follows
        std::lock_guard lock(mutex_);
        proxyAnswer_.append(reinterpret_cast<const char*>(buffer.data()),
                            static_cast<std::size_t>(count));
        if (platform::HTTPResponseHead::completeLength(proxyAnswer_)) {
            head = platform::HTTPResponseHead::parse(proxyAnswer_);
            malformed = !head;
            break;
        }
    }
    if (malformed) {
        fail(std::nullopt);
        return;
    }
    if (!head)
        return;
    if (head->statusCode() < firstRefusedStatus) {
        finish();
        return;
    }
    fail(WSHTTPErrorWithCodeDescription(head->statusCode(), WSErrorCode::badResponseCode,
                                        "Received bad response code from proxy server: " +
                                            std::to_string(head->statusCode()) + "."));
}

void WSProxyConnect::finish() {
    std::shared_ptr<platform::SocketStream> stream;
    {
        std::lock_guard lock(mutex_);
        stream = std::move(stream_);
        proxyAnswer_.clear();
    }
    if (!stream)
        return;
    stream->setDelegate(nullptr);
    complete(std::nullopt, std::move(stream));
}

void WSProxyConnect::fail(std::optional<platform::Error> error) {
    if (!error)
        error = WSHTTPErrorWithCodeDescription(proxyFailureStatus, WSErrorCode::badResponseCode,
                                               "Proxy Error");
    std::shared_ptr<platform::SocketStream> stream;
    {
        std::lock_guard lock(mutex_);
        stream = std::move(stream_);
        proxyAnswer_.clear();
    }
    if (stream) {
        stream->setDelegate(nullptr);
        stream->close();
    }
    complete(error, nullptr);
}

void WSProxyConnect::complete(const std::optional<platform::Error>& error,
                              std::shared_ptr<platform::SocketStream> stream) {
    Completion completion;
    {
        std::lock_guard lock(mutex_);
        completion = std::move(completion_);
        completion_ = nullptr;
    }
    if (completion)
        completion(error, std::move(stream));
}

}  // namespace pindle
