#include "platform/net/stream/SocketStream.hpp"

#include "platform/crypto/CryptoLibrary.hpp"
#include "platform/foundation/Weakly.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace pindle::platform {

namespace {

Error posixFailure(std::int64_t urlCode, int errnoValue, const std::string& what) {
    Dictionary info;
    info[Error::localizedDescriptionKey] = what + ": " + std::strerror(errnoValue);
    info["NSUnderlyingError"] = Value(Error(POSIXError::domain, errnoValue));
    return Error(URLError::domain, urlCode, std::move(info));
}

std::string openSSLErrorText() {
    unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0)
        return "TLS handshake failed";
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

bool isAddressLiteral(const std::string& host) {
    unsigned char buffer[sizeof(in6_addr)];
    return inet_pton(AF_INET, host.c_str(), buffer) == 1 ||
           inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

// The TLS library writes with write(2), which raises SIGPIPE on a connection the peer has
// reset; that would end a host that keeps the default disposition. While alive, this blocks
// SIGPIPE on the calling thread and discards one that the guarded calls raised.
class SigpipeGuard {
  public:
    SigpipeGuard() {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        alreadyPending_ = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipe_, &previous_);
    }
    ~SigpipeGuard() {
        if (!alreadyPending_) {
            sigset_t pending;
            sigpending(&pending);
            if (sigismember(&pending, SIGPIPE) == 1) {
                timespec none{0, 0};
                int saved = errno;
                sigtimedwait(&pipe_, nullptr, &none);
                errno = saved;
            }
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    SigpipeGuard(const SigpipeGuard&) = delete;
    SigpipeGuard& operator=(const SigpipeGuard&) = delete;

  private:
    sigset_t pipe_;
    sigset_t previous_;
    bool alreadyPending_ = false;
};

}  // namespace

struct SocketStream::TLSState {
    SSL_CTX* context = nullptr;
    SSL* session = nullptr;
    ~TLSState() {
        if (session)
            SSL_free(session);
        if (context)
            SSL_CTX_free(context);
    }
};

std::shared_ptr<SocketStream> SocketStream::create(std::string host, int port) {
    return std::make_shared<SocketStream>(Private{}, std::move(host), port);
}

SocketStream::SocketStream(Private, std::string host, int port)
    : host_(std::move(host)), port_(port) {}

SocketStream::~SocketStream() {
    close();
}

void SocketStream::setDelegate(Delegate delegate) {
    std::lock_guard lock(mutex_);
    delegate_ = std::move(delegate);
}

void SocketStream::schedule(std::shared_ptr<RunLoop> runLoop) {
    std::lock_guard lock(mutex_);
    if (!runLoop || runLoop == runLoop_)
        return;
    if (runLoop_ && source_) {
        runLoop_->removeSource(source_);
        source_ = runLoop->addSource(
            fd_, 0, weakly(this, [](SocketStream& self, short revents) { self.onReady(revents); }));
    }
    runLoop_ = std::move(runLoop);
    updateInterest();
}

std::shared_ptr<RunLoop> SocketStream::runLoop() const {
    std::lock_guard lock(mutex_);
    return runLoop_;
}

void SocketStream::setNetworkServiceType(NetworkServiceType type) {
    std::lock_guard lock(mutex_);
    serviceType_ = type;
    applyNetworkServiceType();
}

SocketStream::NetworkServiceType SocketStream::networkServiceType() const {
    std::lock_guard lock(mutex_);
    return serviceType_;
}

void SocketStream::applyNetworkServiceType() {
    if (fd_ < 0 || serviceType_ == NetworkServiceType::standard)
        return;
    // Priorities 0-6 need no privilege; the traffic classes are the usual DSCP code points.
    int priority = 0;
    int trafficClass = 0;
    switch (serviceType_) {
        case NetworkServiceType::voip:
        case NetworkServiceType::voice:
            priority = 6, trafficClass = 0xB8;  // EF
            break;
        case NetworkServiceType::video:
            priority = 5, trafficClass = 0x88;  // AF41
            break;
        case NetworkServiceType::callSignaling:
            priority = 4, trafficClass = 0x60;  // CS3
            break;
        case NetworkServiceType::background:
            priority = 1, trafficClass = 0x20;  // CS1
            break;
        case NetworkServiceType::standard:
            return;
    }
    ::setsockopt(fd_, SOL_SOCKET, SO_PRIORITY, &priority, sizeof priority);
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length) == 0 &&
        local.ss_family == AF_INET6)
        ::setsockopt(fd_, IPPROTO_IPV6, IPV6_TCLASS, &trafficClass, sizeof trafficClass);
    else
        ::setsockopt(fd_, IPPROTO_IP, IP_TOS, &trafficClass, sizeof trafficClass);
}

void SocketStream::open() {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    std::string service = std::to_string(port_);
    int status = ::getaddrinfo(host_.c_str(), service.c_str(), &hints, &found);

    std::vector<Event> events;
    {
        std::lock_guard lock(mutex_);
        if (phase_ != Phase::idle || !runLoop_) {
            if (found)
                ::freeaddrinfo(found);
            return;
        }
        phase_ = Phase::connecting;
        if (status != 0 || !found) {
            error_ = makeURLError(URLError::cannotFindHost,
                                  "Cannot resolve " + host_ + ": " + ::gai_strerror(status));
            phase_ = Phase::failed;
        } else {
            for (addrinfo* entry = found; entry; entry = entry->ai_next) {
                auto* bytes = reinterpret_cast<const std::uint8_t*>(entry->ai_addr);
                addresses_.emplace_back(bytes, bytes + entry->ai_addrlen);
                families_.push_back(entry->ai_family);
            }
            events = connectNextAddress();
        }
    }
    if (found)
        ::freeaddrinfo(found);
    std::lock_guard lock(mutex_);
    if (phase_ == Phase::failed)
        announceLater(Event::errorOccurred);
    for (auto event : events) announceLater(event);
}

std::vector<SocketStream::Event> SocketStream::connectNextAddress() {
    int lastErrno = ECONNREFUSED;
    while (nextAddress_ < addresses_.size()) {
        const auto& address = addresses_[nextAddress_];
        int family = families_[nextAddress_];
        ++nextAddress_;
        if (fd_ >= 0) {
            if (source_)
                runLoop_->removeSource(source_);
            source_ = 0;
            ::close(fd_);
            fd_ = -1;
        }
        fd_ = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd_ < 0) {
            lastErrno = errno;
            continue;
        }
        applyNetworkServiceType();
        int result = ::connect(fd_, reinterpret_cast<const sockaddr*>(address.data()),
                               static_cast<socklen_t>(address.size()));
        if (result == 0 || errno == EINPROGRESS) {
            source_ = runLoop_->addSource(
                fd_, POLLOUT,
                weakly(this, [](SocketStream& self, short revents) { self.onReady(revents); }));
            return {};
        }
        lastErrno = errno;
    }
    error_ = posixFailure(URLError::cannotConnectToHost, lastErrno,
                          "Cannot connect to " + host_ + ":" + std::to_string(port_));
    phase_ = Phase::failed;
    return {};
}

std::vector<SocketStream::Event> SocketStream::finishConnect() {
    int socketError = 0;
    socklen_t length = sizeof socketError;
    ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &socketError, &length);
    if (socketError != 0) {
        connectNextAddress();
        if (phase_ == Phase::failed) {
            error_ = posixFailure(URLError::cannotConnectToHost, socketError,
                                  "Cannot connect to " + host_ + ":" + std::to_string(port_));
            return {Event::errorOccurred};
        }
        return {};
    }
    std::vector<Event> events{Event::openCompleted};
    if (tlsSettings_) {
        phase_ = Phase::handshaking;
        auto more = continueHandshake();
        events.insert(events.end(), more.begin(), more.end());
    } else {
        phase_ = Phase::open;
        readArmed_ = true;
        spaceAvailable_ = true;
        events.push_back(Event::hasSpaceAvailable);
    }
    return events;
}

std::vector<SocketStream::Event> SocketStream::continueHandshake() {
    if (!tls_) {
        tls_ = std::make_unique<TLSState>();
        tls_->context = SSL_CTX_new(TLS_client_method());
        if (tls_->context) {
            SSL_CTX_set_min_proto_version(tls_->context, TLS1_2_VERSION);
            if (tlsSettings_->validatesCertificateChain) {
                SSL_CTX_set_default_verify_paths(tls_->context);
                SSL_CTX_set_verify(tls_->context, SSL_VERIFY_PEER, nullptr);
            }
            tls_->session = SSL_new(tls_->context);
        }
        if (!tls_->session) {
            error_ = makeURLError(URLError::secureConnectionFailed, openSSLErrorText());
            phase_ = Phase::failed;
            return {Event::errorOccurred};
        }
        SSL_set_mode(tls_->session,
                     SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
        SSL_set_fd(tls_->session, fd_);
        const auto& name = tlsSettings_->peerName;
        if (!name.empty() && !isAddressLiteral(name))
            SSL_set_tlsext_host_name(tls_->session, name.c_str());
        if (tlsSettings_->validatesCertificateChain && !name.empty()) {
            if (isAddressLiteral(name))
                X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(tls_->session), name.c_str());
            else
                SSL_set1_host(tls_->session, name.c_str());
        }
    }
    ERR_clear_error();
    SigpipeGuard guard;
    int result = SSL_connect(tls_->session);
    if (result == 1) {
        phase_ = Phase::open;
        handshakeInterest_ = 0;
        readArmed_ = true;
        spaceAvailable_ = true;
        return {Event::hasSpaceAvailable};
    }
    switch (SSL_get_error(tls_->session, result)) {
        case SSL_ERROR_WANT_READ:
            handshakeInterest_ = POLLIN;
            return {};
        case SSL_ERROR_WANT_WRITE:
            handshakeInterest_ = POLLOUT;
            return {};
        default: {
            long verify = SSL_get_verify_result(tls_->session);
            if (verify != X509_V_OK) {
                error_ =
                    makeURLError(URLError::serverCertificateUntrusted,
                                 std::string("The certificate of ") + host_ +
                                     " is not trusted: " + X509_verify_cert_error_string(verify));
            } else {
                error_ = makeURLError(URLError::secureConnectionFailed, openSSLErrorText());
            }
            phase_ = Phase::failed;
            return {Event::errorOccurred};
        }
    }
}

void SocketStream::startTLS(TLSSettings settings) {
    std::lock_guard lock(mutex_);
    if (tlsSettings_)
        return;
    tlsSettings_ = std::move(settings);
    if (phase_ != Phase::open)
        return;  // the handshake starts once connected
    phase_ = Phase::handshaking;
    readArmed_ = false;
    spaceAvailable_ = false;
    runLoop_->perform(weakly(this, [](SocketStream& self) { self.onReady(0); }));
}

void SocketStream::onReady(short revents) {
    std::vector<Event> events;
    {
        std::lock_guard lock(mutex_);
        switch (phase_) {
            case Phase::connecting:
                if (revents != 0)
                    events = finishConnect();
                break;
            case Phase::handshaking:
                events = continueHandshake();
                break;
            case Phase::open:
                if ((revents & (POLLIN | POLLHUP | POLLERR)) && readArmed_) {
                    readArmed_ = false;
                    events.push_back(Event::hasBytesAvailable);
                }
                if ((revents & POLLOUT) && !spaceAvailable_) {
                    spaceAvailable_ = true;
                    events.push_back(Event::hasSpaceAvailable);
                }
                break;
            default:
                break;
        }
        updateInterest();
    }
    announce(events);
}

void SocketStream::updateInterest() {
    if (!runLoop_ || !source_)
        return;
    short events = 0;
    if (phase_ == Phase::connecting)
        events = POLLOUT;
    if (phase_ == Phase::handshaking)
        events = handshakeInterest_;
    if (phase_ == Phase::open) {
        if (readArmed_)
            events |= POLLIN;
        if (!spaceAvailable_)
            events |= POLLOUT;
    }
    runLoop_->updateSource(source_, events);
}

void SocketStream::announce(const std::vector<Event>& events) {
    if (events.empty())
        return;
    Delegate delegate;
    {
        std::lock_guard lock(mutex_);
        if (phase_ == Phase::closed)
            return;
        delegate = delegate_;
    }
    if (!delegate)
        return;
    for (auto event : events) delegate(event);
}

void SocketStream::announceLater(Event event) {
    if (!runLoop_)
        return;
    runLoop_->perform(weakly(this, [event](SocketStream& self) { self.announce({event}); }));
}

long SocketStream::read(std::uint8_t* buffer, std::size_t capacity) {
    std::lock_guard lock(mutex_);
    if (phase_ == Phase::ended)
        return 0;
    if (phase_ == Phase::handshaking || phase_ == Phase::connecting)
        return wouldBlock;
    if (phase_ != Phase::open)
        return -1;
    long count;
    bool atEnd = false;
    if (tls_) {
        ERR_clear_error();
        SigpipeGuard guard;
        int result = SSL_read(tls_->session, buffer,
                              static_cast<int>(std::min<std::size_t>(capacity, 1 << 30)));
        if (result > 0) {
            count = result;
        } else {
            int code = SSL_get_error(tls_->session, result);
            if (code == SSL_ERROR_WANT_READ || code == SSL_ERROR_WANT_WRITE) {
                count = wouldBlock;
            } else if (code == SSL_ERROR_ZERO_RETURN || (code == SSL_ERROR_SYSCALL && errno == 0)) {
                atEnd = true;
                count = 0;
            } else {
                error_ = makeURLError(URLError::networkConnectionLost, openSSLErrorText());
                phase_ = Phase::failed;
                count = -1;
            }
        }
    } else {
        ssize_t result = ::recv(fd_, buffer, capacity, 0);
        if (result > 0) {
            count = result;
        } else if (result == 0) {
            atEnd = true;
            count = 0;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
            count = wouldBlock;
        } else {
            error_ = posixFailure(URLError::networkConnectionLost, errno, "Read failed");
            phase_ = Phase::failed;
            count = -1;
        }
    }
    if (atEnd) {
        phase_ = Phase::ended;
        announceLater(Event::endEncountered);
    } else if (phase_ == Phase::open) {
        readArmed_ = true;
    }
    updateInterest();
    return count;
}

long SocketStream::write(const std::uint8_t* bytes, std::size_t length) {
    std::lock_guard lock(mutex_);
    if (phase_ == Phase::handshaking || phase_ == Phase::connecting)
        return 0;
    // A peer that has finished sending may still be reading (a closing handshake's reply).
    if (phase_ != Phase::open && phase_ != Phase::ended)
        return -1;
    if (length == 0)
        return 0;
    long count;
    if (tls_) {
        ERR_clear_error();
        SigpipeGuard guard;
        int result = SSL_write(tls_->session, bytes,
                               static_cast<int>(std::min<std::size_t>(length, 1 << 30)));
        if (result > 0) {
            count = result;
        } else {
            int code = SSL_get_error(tls_->session, result);
            if (code == SSL_ERROR_WANT_WRITE || code == SSL_ERROR_WANT_READ) {
                count = 0;
            } else {
                error_ = makeURLError(URLError::networkConnectionLost, openSSLErrorText());
                phase_ = Phase::failed;
                return -1;
            }
        }
    } else {
        ssize_t result = ::send(fd_, bytes, length, MSG_NOSIGNAL);
        if (result >= 0) {
            count = result;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
            count = 0;
        } else {
            error_ = posixFailure(URLError::networkConnectionLost, errno, "Write failed");
            phase_ = Phase::failed;
            return -1;
        }
    }
    if (static_cast<std::size_t>(count) < length) {
        spaceAvailable_ = false;
        updateInterest();
    }
    return count;
}

bool SocketStream::hasSpaceAvailable() const {
    std::lock_guard lock(mutex_);
    return (phase_ == Phase::open || phase_ == Phase::ended) && spaceAvailable_;
}

SocketStream::Status SocketStream::status() const {
    std::lock_guard lock(mutex_);
    switch (phase_) {
        case Phase::idle:
            return Status::notOpen;
        case Phase::connecting:
        case Phase::handshaking:
            return Status::opening;
        case Phase::open:
            return Status::open;
        case Phase::ended:
            return Status::atEnd;
        case Phase::failed:
            return Status::error;
        case Phase::closed:
            return Status::closed;
    }
    return Status::error;
}

std::optional<Error> SocketStream::error() const {
    std::lock_guard lock(mutex_);
    return error_;
}

std::vector<Data> SocketStream::peerCertificates() const {
    std::lock_guard lock(mutex_);
    std::vector<Data> result;
    if (!tls_ || !tls_->session || phase_ == Phase::handshaking)
        return result;
    STACK_OF(X509)* chain = SSL_get_peer_cert_chain(tls_->session);
    if (!chain)
        return result;
    for (int i = 0; i < sk_X509_num(chain); ++i) {
        X509* certificate = sk_X509_value(chain, i);
        int length = i2d_X509(certificate, nullptr);
        if (length <= 0)
            continue;
        Data der(static_cast<std::size_t>(length));
        unsigned char* cursor = der.data();
        i2d_X509(certificate, &cursor);
        result.push_back(std::move(der));
    }
    return result;
}

void SocketStream::prepareTLSLibrary() {
    CryptoLibrary::prepare();
}

void SocketStream::close() {
    std::lock_guard lock(mutex_);
    if (phase_ == Phase::closed)
        return;
    phase_ = Phase::closed;
    if (runLoop_ && source_)
        runLoop_->removeSource(source_);
    source_ = 0;
    tls_.reset();
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

}  // namespace pindle::platform
