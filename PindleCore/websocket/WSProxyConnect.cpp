#include "PindleCore/websocket/WSProxyConnect.hpp"

#include <algorithm>
#include <cctype>

#include "PindleCore/websocket/private/WSRunLoopThread.hpp"
#include "PindleCore/websocket/private/WSUtilities.hpp"
#include "platform/files/FileHandle.hpp"
#include "platform/foundation/Weakly.hpp"
#include "platform/net/stream/HTTPResponseHead.hpp"
#include "platform/net/stream/ProxyAutoConfiguration.hpp"

namespace pindle {

namespace {

constexpr int proxyFailureStatus = 500;
constexpr int proxyTimeoutStatus = 408;
constexpr int firstRefusedStatus = 300;
constexpr int firstFinalStatus = 200;
constexpr int defaultSocksPort = 1080;

platform::Error socksError(const std::string& text) {
    return WSHTTPErrorWithCodeDescription(proxyFailureStatus, WSErrorCode::badResponseCode,
                                          "SOCKS proxy: " + text);
}

// At most `maximumScriptSize` bytes of a local PAC file; nothing when it cannot be read, is
// empty, or is larger (a truncated script would say something else).
std::optional<std::string> readScriptFile(const std::string& path) {
    auto file = platform::FileHandle::open(path, platform::FileHandle::Mode::reading);
    if (!file)
        return std::nullopt;
    auto bytes = file->read(platform::ProxyAutoConfiguration::maximumScriptSize + 1);
    if (!bytes || bytes->empty() ||
        bytes->size() > platform::ProxyAutoConfiguration::maximumScriptSize)
        return std::nullopt;
    return std::string(bytes->begin(), bytes->end());
}

}  // namespace

std::shared_ptr<WSProxyConnect> WSProxyConnect::create(
    platform::URL url, std::optional<platform::ProxySettings> settings,
    std::shared_ptr<platform::RunLoop> runLoop, double answerTimeout) {
    if (!runLoop)
        runLoop = WSNetworkRunLoop();
    return std::make_shared<WSProxyConnect>(
        Private{}, std::move(url),
        settings ? std::move(*settings) : platform::ProxySettings::system(), std::move(runLoop),
        answerTimeout);
}

WSProxyConnect::WSProxyConnect(Private, platform::URL url, platform::ProxySettings settings,
                               std::shared_ptr<platform::RunLoop> runLoop, double answerTimeout)
    : url_(std::move(url)),
      settings_(std::move(settings)),
      runLoop_(std::move(runLoop)),
      connectionRequiresTLS_(WSURLRequiresSSL(url_)),
      answerTimeout_(answerTimeout),
      timerQueue_(platform::DispatchQueue::create("com.quarry.websocket.proxyconnect.write")) {}

WSProxyConnect::~WSProxyConnect() {
    if (download_)
        download_->cancel();
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
    if (proxy.type == Type::autoConfigurationScript) {
        runAutoConfiguration(proxy.autoConfiguration, proxy.autoConfigurationTimeout);
        return;
    }
    if (proxy.type == Type::autoConfigurationURL) {
        fetchAutoConfiguration(proxy);
        return;
    }
    if (useProxy(proxy))
        openConnection();
}

void WSProxyConnect::cancel() {
    std::shared_ptr<WSAutoConfigurationDownload> download;
    std::shared_ptr<platform::SocketStream> stream;
    {
        std::lock_guard lock(mutex_);
        cancelled_ = true;
        completion_ = nullptr;
        download = std::move(download_);
        stream = std::move(stream_);
        pendingOutput_.clear();
    }
    if (download)
        download->cancel();
    if (stream) {
        stream->setDelegate(nullptr);
        stream->close();
    }
}

bool WSProxyConnect::useProxy(const platform::ProxySettings::Proxy& proxy) {
    using Type = platform::ProxySettings::Proxy::Type;
    if (proxy.type == Type::socks) {
        WSSocksHandshake handshake(proxy.socksVersion, WSURLConnectHost(url_), WSURLPort(url_),
                                   proxy.user, proxy.password);
        if (auto refusal = handshake.refusal()) {
            fail(socksError(*refusal));
            return false;
        }
        std::lock_guard lock(mutex_);
        socksProxy_ = proxy;
        socks_.emplace(std::move(handshake));
    }
    if (proxy.type == Type::http || proxy.type == Type::https) {
        std::lock_guard lock(mutex_);
        httpProxyHost_ = proxy.host;
        httpProxyPort_ = proxy.port.value_or(80);
    }
    return true;
}

void WSProxyConnect::fetchAutoConfiguration(const platform::ProxySettings::Proxy& proxy) {
    double timeout = proxy.autoConfigurationTimeout;
    auto location = platform::URL::fromString(proxy.autoConfiguration);
    std::string scheme;
    if (location)
        scheme = WSLowercased(location->scheme().value_or(""));
    if (location && location->isFileURL()) {
        runAutoConfiguration(readScriptFile(location->path()), timeout);
        return;
    }
    if (scheme != "http" && scheme != "https") {
        runAutoConfiguration(std::nullopt, timeout);
        return;
    }
    auto download =
        WSAutoConfigurationDownload::create(*location, autoConfigurationDownloadTimeout);
    {
        std::lock_guard lock(mutex_);
        if (cancelled_)
            return;
        download_ = download;
    }
    download->start(
        platform::weakly(this, [timeout](WSProxyConnect& self, std::optional<std::string> script) {
            {
                std::lock_guard lock(self.mutex_);
                self.download_.reset();
            }
            self.runAutoConfiguration(std::move(script), timeout);
        }));
}

void WSProxyConnect::runAutoConfiguration(std::optional<std::string> script, double timeout) {
    platform::DispatchQueue::global()->async(
        platform::weakly(this, [script = std::move(script), timeout](WSProxyConnect& self) {
            platform::ProxySettings::Proxy chosen;  // direct unless the script says otherwise
            if (script) {
                std::string lookup =
                    std::string(self.connectionRequiresTLS_ ? "https://" : "http://") +
                    self.url_.host().value_or("");
                auto proxies = platform::ProxyAutoConfiguration::evaluate(
                    *script, lookup, WSURLConnectHost(self.url_), timeout);
                if (proxies)
                    chosen = proxies->front();
            }
            if (self.useProxy(chosen))
                self.openConnection();
        }));
}

void WSProxyConnect::openConnection() {
    std::shared_ptr<platform::SocketStream> stream;
    bool viaProxy = false;
    {
        std::lock_guard lock(mutex_);
        if (cancelled_)
            return;
        viaProxy = httpProxyHost_ || socksProxy_;
        if (httpProxyHost_)
            stream_ = platform::SocketStream::create(*httpProxyHost_, httpProxyPort_);
        else if (socksProxy_)
            stream_ = platform::SocketStream::create(socksProxy_->host,
                                                     socksProxy_->port.value_or(defaultSocksPort));
        else
            stream_ = platform::SocketStream::create(WSURLConnectHost(url_), WSURLPort(url_));
        stream = stream_;
    }
    stream->setDelegate(
        platform::weakly(this, [](WSProxyConnect& self, platform::SocketStream::Event event) {
            self.handleEvent(event);
        }));
    stream->schedule(runLoop_);
    if (viaProxy && answerTimeout_ > 0)
        watchAnswer(stream);
    stream->open();
}

void WSProxyConnect::watchAnswer(const std::shared_ptr<platform::SocketStream>& stream) {
    std::weak_ptr<platform::SocketStream> watched = stream;
    timerQueue_->asyncAfter(
        answerTimeout_, platform::weakly(this, [watched](WSProxyConnect& self) {
            {
                // Handed over or failed meanwhile: the stream is no longer this connector's.
                std::lock_guard lock(self.mutex_);
                // by hand: the watched stream is only compared, never used
                if (!self.stream_ || self.stream_ != watched.lock())
                    return;
            }
            self.fail(platform::makeURLError(platform::URLError::timedOut,
                                             "Timed out connecting to server."));
        }));
}

void WSProxyConnect::handleEvent(platform::SocketStream::Event event) {
    using Event = platform::SocketStream::Event;
    bool viaProxy;
    std::optional<std::string> socksGreeting;
    std::shared_ptr<platform::SocketStream> stream;
    {
        std::lock_guard lock(mutex_);
        viaProxy = httpProxyHost_.has_value();
        if (socks_ && event == Event::openCompleted)
            socksGreeting = socks_->greeting();
        stream = stream_;
    }
    if (!stream)
        return;
    switch (event) {
        case Event::openCompleted:
            if (viaProxy)
                sendConnectRequest();
            else if (socksGreeting)
                writeBytes(std::move(*socksGreeting));
            else
                finish();
            break;
        case Event::hasBytesAvailable:
            readProxyAnswer();
            break;
        case Event::endEncountered:
            // A proxy may answer and close at once (a refusal); its answer still counts.
            readProxyAnswer();
            if (!socksProxy() && viaProxy)
                handleHTTPProxyAnswer(true);
            fail(stream->error());
            break;
        case Event::errorOccurred:
            fail(stream->error());
            break;
        case Event::hasSpaceAvailable:
            flushOutput();
            break;
    }
}

bool WSProxyConnect::socksProxy() {
    std::lock_guard lock(mutex_);
    return socks_.has_value();
}

void WSProxyConnect::sendConnectRequest() {
    std::string host = url_.host().value_or("");
    writeBytes("CONNECT " + host + ":" + std::to_string(WSURLPort(url_)) + " HTTP/1.1\r\nHost: " +
               host + "\r\nConnection: keep-alive\r\nProxy-Connection: keep-alive\r\n\r\n");
}

void WSProxyConnect::writeBytes(std::string bytes) {
    bool idle = false;
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(mutex_);
        idle = pendingOutput_.empty();
        pendingOutput_ += bytes;
        generation = writeGeneration_;
    }
    if (idle)
        watchOutput(generation);
    flushOutput();
}

void WSProxyConnect::watchOutput(std::uint64_t generation) {
    // Bytes of which the stream has taken nothing for writeTimeout fail the connection.
    timerQueue_->asyncAfter(
        writeTimeout, platform::weakly(this, [generation](WSProxyConnect& self) {
            bool stuck = false;
            std::uint64_t now = 0;
            {
                std::lock_guard lock(self.mutex_);
                if (self.pendingOutput_.empty() || !self.stream_)
                    return;
                now = self.writeGeneration_;
                stuck = now == generation;
            }
            if (stuck)
                self.fail(WSHTTPErrorWithCodeDescription(
                    proxyTimeoutStatus, WSErrorCode::badResponseCode, "Proxy timeout"));
            else
                self.watchOutput(now);
        }));
}

void WSProxyConnect::flushOutput() {
    std::optional<platform::Error> failure;
    bool failed = false;
    {
        std::lock_guard lock(mutex_);
        if (!stream_)
            return;
        while (!pendingOutput_.empty() && stream_->hasSpaceAvailable()) {
            long count =
                stream_->write(reinterpret_cast<const std::uint8_t*>(pendingOutput_.data()),
                               pendingOutput_.size());
            if (count < 0) {
                failed = true;
                failure = stream_->error();
                break;
            }
            if (count == 0)
                break;
            pendingOutput_.erase(0, static_cast<std::size_t>(count));
            ++writeGeneration_;
        }
    }
    if (failed)
        fail(failure);
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
    for (;;) {
        long count = stream->read(buffer.data(), buffer.size());
        if (count == platform::SocketStream::wouldBlock)
            break;
        if (count <= 0)
            return;  // the end or error event follows
        std::lock_guard lock(mutex_);
        proxyAnswer_.append(reinterpret_cast<const char*>(buffer.data()),
                            static_cast<std::size_t>(count));
        if (proxyAnswer_.size() > maximumAnswerSize + WSDefaultBufferSize())
            break;  // handled below: past any answer a proxy has reason to send
    }
    if (socksProxy())
        handleSocksAnswer();
    else
        handleHTTPProxyAnswer(false);
}

void WSProxyConnect::handleSocksAnswer() {
    using Kind = WSSocksHandshake::Step::Kind;
    for (;;) {
        WSSocksHandshake::Step step;
        {
            std::lock_guard lock(mutex_);
            if (!socks_)
                return;
            step = socks_->consume(proxyAnswer_);
        }
        switch (step.kind) {
            case Kind::pending:
                return;
            case Kind::send:
                writeBytes(std::move(step.bytes));
                break;
            case Kind::failed:
                fail(socksError(step.failure));
                return;
            case Kind::done:
                finish(platform::Data(step.bytes.begin(), step.bytes.end()));
                return;
        }
    }
}

WSProxyConnect::ConnectAnswer WSProxyConnect::readConnectAnswer(std::string& answer, bool atEnd) {
    using Kind = ConnectAnswer::Kind;
    ConnectAnswer result;
    for (;;) {
        auto length = platform::HTTPResponseHead::completeLength(
            std::string_view(answer).substr(0, maximumAnswerSize));
        if (!length) {
            result.kind =
                answer.size() >= maximumAnswerSize || atEnd ? Kind::malformed : Kind::pending;
            return result;
        }
        auto head = platform::HTTPResponseHead::parse(std::string_view(answer).substr(0, *length));
        if (!head) {
            result.kind = Kind::malformed;
            return result;
        }
        answer.erase(0, *length);
        // An interim answer opens nothing: the final one follows.
        if (head->statusCode() < firstFinalStatus)
            continue;
        result.status = head->statusCode();
        if (result.status >= firstRefusedStatus) {
            result.kind = Kind::refused;
            return result;
        }
        result.kind = Kind::open;
        result.leftover.assign(answer.begin(), answer.end());
        answer.clear();
        return result;
    }
}

void WSProxyConnect::handleHTTPProxyAnswer(bool atEnd) {
    using Kind = ConnectAnswer::Kind;
    ConnectAnswer answer;
    {
        std::lock_guard lock(mutex_);
        answer = readConnectAnswer(proxyAnswer_, atEnd);
    }
    switch (answer.kind) {
        case Kind::pending:
            return;
        case Kind::open:
            finish(std::move(answer.leftover));
            return;
        case Kind::malformed:
            fail(std::nullopt);
            return;
        case Kind::refused:
            fail(WSHTTPErrorWithCodeDescription(answer.status, WSErrorCode::badResponseCode,
                                                "Received bad response code from proxy server: " +
                                                    std::to_string(answer.status) + "."));
            return;
    }
}

void WSProxyConnect::finish(platform::Data leftover) {
    std::shared_ptr<platform::SocketStream> stream;
    {
        std::lock_guard lock(mutex_);
        stream = std::move(stream_);
        proxyAnswer_.clear();
        pendingOutput_.clear();
    }
    if (!stream)
        return;
    stream->setDelegate(nullptr);
    complete(std::nullopt, std::move(stream), std::move(leftover));
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
        pendingOutput_.clear();
    }
    if (stream) {
        stream->setDelegate(nullptr);
        stream->close();
    }
    complete(error, nullptr, {});
}

void WSProxyConnect::complete(const std::optional<platform::Error>& error,
                              std::shared_ptr<platform::SocketStream> stream,
                              platform::Data leftover) {
    Completion completion;
    {
        std::lock_guard lock(mutex_);
        completion = std::move(completion_);
        completion_ = nullptr;
    }
    if (completion)
        completion(error, std::move(stream), std::move(leftover));
}

}  // namespace pindle
