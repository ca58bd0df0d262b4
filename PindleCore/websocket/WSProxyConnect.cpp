#include "PindleCore/websocket/WSProxyConnect.hpp"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <fstream>
#include <thread>

#include "PindleCore/websocket/WSRunLoopThread.hpp"
#include "PindleCore/websocket/WSUtilities.hpp"
#include "platform/net/HTTPURLResponse.hpp"
#include "platform/net/URLSession.hpp"
#include "platform/net/stream/HTTPResponseHead.hpp"
#include "platform/net/stream/ProxyAutoConfiguration.hpp"

namespace pindle {

namespace {

constexpr int proxyFailureStatus = 500;
constexpr int proxyTimeoutStatus = 408;
constexpr int firstRefusedStatus = 300;
constexpr int firstFinalStatus = 200;

constexpr std::uint8_t socksVersion5 = 0x05;
constexpr std::uint8_t socksNoAuthentication = 0x00;
constexpr std::uint8_t socksUserPassword = 0x02;
constexpr std::uint8_t socksNoAcceptableMethod = 0xFF;
constexpr std::uint8_t socksUserPasswordVersion = 0x01;
constexpr std::uint8_t socksConnectCommand = 0x01;
constexpr std::uint8_t socksAddressIPv4 = 0x01;
constexpr std::uint8_t socksAddressDomain = 0x03;
constexpr std::uint8_t socksAddressIPv6 = 0x04;
constexpr std::size_t socksMaximumField = 255;

std::string socksReplyText(std::uint8_t code) {
    switch (code) {
        case 0x01:
            return "general failure";
        case 0x02:
            return "connection not allowed by ruleset";
        case 0x03:
            return "network unreachable";
        case 0x04:
            return "host unreachable";
        case 0x05:
            return "connection refused";
        case 0x06:
            return "TTL expired";
        case 0x07:
            return "command not supported";
        case 0x08:
            return "address type not supported";
        default:
            return "reply " + std::to_string(code);
    }
}

std::string lowercased(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

platform::Error socksError(const std::string& text) {
    return WSHTTPErrorWithCodeDescription(proxyFailureStatus, WSErrorCode::badResponseCode,
                                          "SOCKS proxy: " + text);
}

}  // namespace

std::shared_ptr<WSProxyConnect> WSProxyConnect::create(
    platform::URL url, std::optional<platform::ProxySettings> settings,
    std::shared_ptr<platform::RunLoop> runLoop) {
    if (!runLoop)
        runLoop = WSNetworkRunLoop();
    return std::make_shared<WSProxyConnect>(
        Private{}, std::move(url),
        settings ? std::move(*settings) : platform::ProxySettings::system(), std::move(runLoop));
}

WSProxyConnect::WSProxyConnect(Private, platform::URL url, platform::ProxySettings settings,
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

bool WSProxyConnect::useProxy(const platform::ProxySettings::Proxy& proxy) {
    using Type = platform::ProxySettings::Proxy::Type;
    if (proxy.type == Type::socks) {
        if (proxy.socksVersion != 5) {
            fail(socksError("the system names a SOCKS " + std::to_string(proxy.socksVersion) +
                            " proxy (" + proxy.host + "); only SOCKS 5 is supported."));
            return false;
        }
        if (WSURLConnectHost(url_).size() > socksMaximumField ||
            proxy.user.value_or("").size() > socksMaximumField ||
            proxy.password.value_or("").size() > socksMaximumField) {
            fail(socksError("a host name, user name or password is too long."));
            return false;
        }
        std::lock_guard lock(mutex_);
        socksProxy_ = proxy;
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
        scheme = lowercased(location->scheme().value_or(""));
    if (location && location->isFileURL()) {
        std::ifstream file(location->path(), std::ios::binary);
        std::string script;
        if (file) {
            script.resize(platform::ProxyAutoConfiguration::maximumScriptSize + 1);
            file.read(script.data(), static_cast<std::streamsize>(script.size()));
            script.resize(static_cast<std::size_t>(file.gcount()));
        }
        runAutoConfiguration(
            file.bad() || script.empty() ? std::nullopt : std::optional<std::string>(script),
            timeout);
        return;
    }
    if (scheme != "http" && scheme != "https") {
        runAutoConfiguration(std::nullopt, timeout);
        return;
    }
    std::weak_ptr<WSProxyConnect> weak = weak_from_this();
    auto task = platform::URLSession::shared()->dataTask(
        *location, [weak, timeout](std::optional<platform::Data> data,
                                   std::shared_ptr<platform::URLResponse> response,
                                   std::optional<platform::Error> error) {
            auto self = weak.lock();
            if (!self)
                return;
            auto http = std::dynamic_pointer_cast<platform::HTTPURLResponse>(response);
            bool usable =
                !error && data && http && http->statusCode() >= 200 && http->statusCode() < 300;
            self->runAutoConfiguration(
                usable ? std::optional<std::string>(std::string(data->begin(), data->end()))
                       : std::nullopt,
                timeout);
        });
    task->resume();
}

void WSProxyConnect::runAutoConfiguration(std::optional<std::string> script, double timeout) {
    std::weak_ptr<WSProxyConnect> weak = weak_from_this();
    platform::DispatchQueue::global()->async([weak, script = std::move(script), timeout] {
        auto self = weak.lock();
        if (!self)
            return;
        platform::ProxySettings::Proxy chosen;  // direct unless the script says otherwise
        if (script) {
            std::string lookup =
                std::string(self->connectionRequiresTLS_ ? "https://" : "http://") +
                self->url_.host().value_or("");
            auto proxies = platform::ProxyAutoConfiguration::evaluate(
                *script, lookup, WSURLConnectHost(self->url_), timeout);
            if (proxies)
                chosen = proxies->front();
        }
        if (self->useProxy(chosen))
            self->openConnection();
    });
}

void WSProxyConnect::openConnection() {
    std::shared_ptr<platform::SocketStream> stream;
    {
        std::lock_guard lock(mutex_);
        if (httpProxyHost_)
            stream_ = platform::SocketStream::create(*httpProxyHost_, httpProxyPort_);
        else if (socksProxy_)
            stream_ =
                platform::SocketStream::create(socksProxy_->host, socksProxy_->port.value_or(1080));
        else
            stream_ = platform::SocketStream::create(WSURLConnectHost(url_), WSURLPort(url_));
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
    std::optional<platform::ProxySettings::Proxy> socks;
    std::shared_ptr<platform::SocketStream> stream;
    {
        std::lock_guard lock(mutex_);
        viaProxy = httpProxyHost_.has_value();
        socks = socksProxy_;
        if (socks && event == Event::openCompleted)
            socksStage_ = SocksStage::greeting;
        stream = stream_;
    }
    if (!stream)
        return;
    switch (event) {
        case Event::openCompleted:
            if (viaProxy) {
                sendConnectRequest();
            } else if (socks) {
                std::string greeting{static_cast<char>(socksVersion5), 1,
                                     static_cast<char>(socksNoAuthentication)};
                if (socks->user)
                    greeting = {static_cast<char>(socksVersion5), 2,
                                static_cast<char>(socksNoAuthentication),
                                static_cast<char>(socksUserPassword)};
                writeBytes(std::move(greeting));
            } else {
                finish();
            }
            break;
        case Event::hasBytesAvailable:
            readProxyAnswer();
            break;
        case Event::endEncountered:
            // A proxy may answer and close at once (a refusal); its answer still counts.
            readProxyAnswer();
            if (!socks && viaProxy)
                handleHTTPProxyAnswer(true);
            fail(stream->error());
            break;
        case Event::errorOccurred:
            fail(stream->error());
            break;
        case Event::hasSpaceAvailable:
            break;
    }
}

void WSProxyConnect::sendConnectRequest() {
    std::string host = url_.host().value_or("");
    writeBytes("CONNECT " + host + ":" + std::to_string(WSURLPort(url_)) + " HTTP/1.1\r\nHost: " +
               host + "\r\nConnection: keep-alive\r\nProxy-Connection: keep-alive\r\n\r\n");
}

void WSProxyConnect::sendSocksConnectRequest() {
    std::string host = WSURLConnectHost(url_);
    int port = WSURLPort(url_);
    std::string request{static_cast<char>(socksVersion5), static_cast<char>(socksConnectCommand),
                        0};
    in_addr ipv4{};
    in6_addr ipv6{};
    if (inet_pton(AF_INET, host.c_str(), &ipv4) == 1) {
        request += static_cast<char>(socksAddressIPv4);
        request.append(reinterpret_cast<const char*>(&ipv4), sizeof ipv4);
    } else if (inet_pton(AF_INET6, host.c_str(), &ipv6) == 1) {
        request += static_cast<char>(socksAddressIPv6);
        request.append(reinterpret_cast<const char*>(&ipv6), sizeof ipv6);
    } else {
        // By name, so the proxy resolves it: the client may not be able to.
        request += static_cast<char>(socksAddressDomain);
        request += static_cast<char>(host.size());
        request += host;
    }
    request += static_cast<char>((port >> 8) & 0xFF);
    request += static_cast<char>(port & 0xFF);
    writeBytes(std::move(request));
}

void WSProxyConnect::writeBytes(std::string request) {
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
    bool socks;
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
    {
        std::lock_guard lock(mutex_);
        socks = socksProxy_.has_value();
    }
    if (socks)
        handleSocksAnswer();
    else
        handleHTTPProxyAnswer(false);
}

void WSProxyConnect::handleSocksAnswer() {
    for (;;) {
        std::string answer;
        SocksStage stage;
        std::optional<platform::ProxySettings::Proxy> proxy;
        {
            std::lock_guard lock(mutex_);
            answer = proxyAnswer_;
            stage = socksStage_;
            proxy = socksProxy_;
        }
        auto byte = [&](std::size_t i) {
            return static_cast<std::uint8_t>(answer[i]);
        };
        std::size_t used = 0;
        switch (stage) {
            case SocksStage::greeting:
                if (answer.size() < 2)
                    return;
                used = 2;
                if (byte(0) != socksVersion5) {
                    fail(socksError("the proxy does not speak SOCKS 5."));
                    return;
                }
                if (byte(1) == socksNoAuthentication) {
                    stage = SocksStage::connect;
                    sendSocksConnectRequest();
                } else if (byte(1) == socksUserPassword && proxy && proxy->user) {
                    stage = SocksStage::authentication;
                    std::string user = *proxy->user;
                    std::string password = proxy->password.value_or("");
                    writeBytes(std::string{static_cast<char>(socksUserPasswordVersion),
                                           static_cast<char>(user.size())} +
                               user + static_cast<char>(password.size()) + password);
                } else {
                    fail(socksError(
                        byte(1) == socksNoAcceptableMethod
                            ? "the proxy accepts none of our authentication methods."
                            : "the proxy chose an authentication method we did not offer."));
                    return;
                }
                break;
            case SocksStage::authentication:
                if (answer.size() < 2)
                    return;
                used = 2;
                if (byte(1) != 0) {
                    fail(socksError("the proxy rejected the user name and password."));
                    return;
                }
                stage = SocksStage::connect;
                sendSocksConnectRequest();
                break;
            case SocksStage::connect: {
                if (answer.size() < 5)
                    return;
                std::size_t address;
                switch (byte(3)) {
                    case socksAddressIPv4:
                        address = 4;
                        break;
                    case socksAddressIPv6:
                        address = 16;
                        break;
                    case socksAddressDomain:
                        address = 1 + static_cast<std::size_t>(byte(4));
                        break;
                    default:
                        fail(socksError("the proxy sent a malformed reply."));
                        return;
                }
                used = 4 + address + 2;
                if (answer.size() < used)
                    return;
                if (byte(0) != socksVersion5 || byte(1) != 0) {
                    fail(socksError("the proxy could not connect (" + socksReplyText(byte(1)) +
                                    ")."));
                    return;
                }
                {
                    std::lock_guard lock(mutex_);
                    socksStage_ = SocksStage::done;
                }
                finish(platform::Data(answer.begin() + static_cast<long>(used), answer.end()));
                return;
            }
            case SocksStage::none:
            case SocksStage::done:
                return;
        }
        std::lock_guard lock(mutex_);
        proxyAnswer_.erase(0, used);
        socksStage_ = stage;
    }
}

WSProxyConnect::ConnectAnswer WSProxyConnect::readConnectAnswer(std::string& answer, bool atEnd) {
    using Kind = ConnectAnswer::Kind;
    ConnectAnswer result;
    for (;;) {
        auto length = platform::HTTPResponseHead::completeLength(
            std::string_view(answer).substr(0, maximumAnswerSize));
        if (!length) {
            result.kind = answer.size() >= maximumAnswerSize || atEnd ? Kind::malformed
                                                                      : Kind::pending;
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
