// A byte-level WebSocket server for tests, on loopback, optionally over TLS with a
// self-signed certificate made here. The test drives it step by step from its own thread
// (blocking reads with a generous time-out), so it can send exactly the frames a case
// needs, including broken ones, and see exactly what the client wrote.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/sha.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace pindle::testing {

inline constexpr int peerTimeoutMilliseconds = 10000;

// A key pair and a certificate for `commonName`, self-signed or signed by `issuer`. A leaf
// names its host in subjectAltName too (as an IP address when it is one); an authority is
// marked as a CA that may sign. `validSeconds` below zero makes a certificate that has
// already expired.
class TestIdentity {
  public:
    enum class Kind { leaf, authority };

    explicit TestIdentity(const std::string& commonName, const TestIdentity* issuer = nullptr,
                          Kind kind = Kind::leaf, long validSeconds = 3600L * 24) {
        key_ = EVP_EC_gen("P-256");
        certificate_ = X509_new();
        X509_set_version(certificate_, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(certificate_), ++serial());
        if (validSeconds >= 0) {
            X509_gmtime_adj(X509_getm_notBefore(certificate_), -3600);
            X509_gmtime_adj(X509_getm_notAfter(certificate_), validSeconds);
        } else {
            X509_gmtime_adj(X509_getm_notBefore(certificate_), 2 * validSeconds);
            X509_gmtime_adj(X509_getm_notAfter(certificate_), validSeconds);
        }
        X509_set_pubkey(certificate_, key_);
        X509_NAME* name = X509_get_subject_name(certificate_);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>(commonName.c_str()), -1,
                                   -1, 0);
        X509_set_issuer_name(certificate_,
                             issuer ? X509_get_subject_name(issuer->certificate_) : name);
        if (kind == Kind::authority) {
            addExtension(NID_basic_constraints, "critical,CA:TRUE");
            addExtension(NID_key_usage, "critical,keyCertSign,cRLSign");
        } else {
            unsigned char address[16];
            bool isAddress = inet_pton(AF_INET, commonName.c_str(), address) == 1 ||
                             inet_pton(AF_INET6, commonName.c_str(), address) == 1;
            addExtension(NID_subject_alt_name, (isAddress ? "IP:" : "DNS:") + commonName);
        }
        X509_sign(certificate_, issuer ? issuer->key_ : key_, EVP_sha256());
    }
    ~TestIdentity() {
        X509_free(certificate_);
        EVP_PKEY_free(key_);
    }
    TestIdentity(const TestIdentity&) = delete;
    TestIdentity& operator=(const TestIdentity&) = delete;

    std::vector<std::uint8_t> der() const {
        int length = i2d_X509(certificate_, nullptr);
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(length));
        unsigned char* cursor = bytes.data();
        i2d_X509(certificate_, &cursor);
        return bytes;
    }
    X509* certificate() const { return certificate_; }
    EVP_PKEY* key() const { return key_; }

  private:
    void addExtension(int nid, const std::string& value) {
        X509_EXTENSION* extension =
            X509V3_EXT_conf_nid(nullptr, nullptr, nid, const_cast<char*>(value.c_str()));
        X509_add_ext(certificate_, extension, -1);
        X509_EXTENSION_free(extension);
    }
    static long& serial() {
        static long value = 1;
        return value;
    }
    EVP_PKEY* key_ = nullptr;
    X509* certificate_ = nullptr;
};

// One accepted connection.
class RawPeer {
  public:
    struct Frame {
        bool fin = false;
        std::uint8_t opcode = 0;
        bool masked = false;
        std::uint8_t lengthCode = 0;
        std::string payload;  // unmasked
    };

    RawPeer(int fd, SSL* ssl) : fd_(fd), ssl_(ssl) {}
    ~RawPeer() {
        if (ssl_)
            SSL_free(ssl_);
        if (fd_ >= 0)
            ::close(fd_);
    }
    RawPeer(const RawPeer&) = delete;
    RawPeer& operator=(const RawPeer&) = delete;

    // Reads up to and including `terminator`; what was read so far when the connection
    // ends or the time-out passes.
    std::string readUntil(const std::string& terminator) {
        std::string text;
        char byte;
        while (text.size() < terminator.size() ||
               text.compare(text.size() - terminator.size(), terminator.size(), terminator) != 0) {
            if (!readExactly(&byte, 1))
                break;
            text += byte;
        }
        return text;
    }

    bool readExactly(void* buffer, std::size_t length) {
        auto* cursor = static_cast<char*>(buffer);
        while (length > 0) {
            if (!(ssl_ && SSL_pending(ssl_) > 0)) {
                pollfd entry{fd_, POLLIN, 0};
                if (::poll(&entry, 1, peerTimeoutMilliseconds) <= 0)
                    return false;
            }
            long got = ssl_ ? SSL_read(ssl_, cursor, static_cast<int>(length))
                            : ::recv(fd_, cursor, length, 0);
            if (got <= 0)
                return false;
            cursor += got;
            length -= static_cast<std::size_t>(got);
        }
        return true;
    }

    // False when the client went away before it took every byte.
    bool write(const std::string& bytes) {
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            long count =
                ssl_ ? SSL_write(ssl_, bytes.data() + sent, static_cast<int>(bytes.size() - sent))
                     : ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (count <= 0)
                return false;
            sent += static_cast<std::size_t>(count);
        }
        return true;
    }

    // Reads the upgrade request and answers it; `status` and `accept` override the
    // correct answer.
    std::string acceptHandshake(int status = 101, std::optional<std::string> accept = std::nullopt,
                                const std::string& extraFields = "") {
        std::string request = readUntil("\r\n\r\n");
        std::string key = headerValue(request, "Sec-WebSocket-Key");
        std::string answer = "HTTP/1.1 " + std::to_string(status) + " Switching Protocols\r\n" +
                             "Upgrade: websocket\r\nConnection: Upgrade\r\n" +
                             "Sec-WebSocket-Accept: " + accept.value_or(acceptFor(key)) + "\r\n" +
                             extraFields + "\r\n";
        write(answer);
        return request;
    }

    static std::string acceptFor(const std::string& key) {
        std::string text = key + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";
        unsigned char digest[SHA_DIGEST_LENGTH];
        SHA1(reinterpret_cast<const unsigned char*>(text.data()), text.size(), digest);
        unsigned char encoded[64];
        int length = EVP_EncodeBlock(encoded, digest, SHA_DIGEST_LENGTH);
        return std::string(reinterpret_cast<char*>(encoded), static_cast<std::size_t>(length));
    }

    static std::string headerValue(const std::string& head, const std::string& name) {
        auto start = head.find("\r\n" + name + ": ");
        if (start == std::string::npos)
            return {};
        start += name.size() + 4;
        return head.substr(start, head.find("\r\n", start) - start);
    }

    std::optional<Frame> readFrame() {
        std::uint8_t header[2];
        if (!readExactly(header, 2))
            return std::nullopt;
        Frame frame;
        frame.fin = header[0] & 0x80;
        frame.opcode = header[0] & 0x0F;
        frame.masked = header[1] & 0x80;
        frame.lengthCode = header[1] & 0x7F;
        std::uint64_t length = frame.lengthCode;
        if (length >= 126) {
            std::size_t extra = length == 126 ? 2 : 8;
            std::uint8_t bytes[8];
            if (!readExactly(bytes, extra))
                return std::nullopt;
            length = 0;
            for (std::size_t i = 0; i < extra; ++i) length = (length << 8) | bytes[i];
        }
        std::uint8_t key[4] = {0, 0, 0, 0};
        if (frame.masked && !readExactly(key, 4))
            return std::nullopt;
        frame.payload.resize(length);
        if (length > 0 && !readExactly(frame.payload.data(), length))
            return std::nullopt;
        for (std::size_t i = 0; i < length; ++i) frame.payload[i] ^= static_cast<char>(key[i % 4]);
        return frame;
    }

    // An unmasked frame as a server sends it; `firstByteExtra` can set reserved bits.
    static std::string frame(std::uint8_t opcode, const std::string& payload, bool fin = true,
                             std::uint8_t firstByteExtra = 0, bool masked = false) {
        std::string bytes;
        bytes += static_cast<char>((fin ? 0x80 : 0) | firstByteExtra | opcode);
        std::uint8_t maskBit = masked ? 0x80 : 0;
        if (payload.size() < 126) {
            bytes += static_cast<char>(maskBit | payload.size());
        } else if (payload.size() <= 0xFFFF) {
            bytes += static_cast<char>(maskBit | 126);
            bytes += static_cast<char>(payload.size() >> 8);
            bytes += static_cast<char>(payload.size() & 0xFF);
        } else {
            bytes += static_cast<char>(maskBit | 127);
            for (int shift = 56; shift >= 0; shift -= 8)
                bytes +=
                    static_cast<char>((static_cast<std::uint64_t>(payload.size()) >> shift) & 0xFF);
        }
        if (masked)
            bytes += std::string(4, '\0');  // a zero key leaves the payload as is
        return bytes + payload;
    }

    static std::string closePayload(int code, const std::string& reason = "") {
        std::string bytes;
        bytes += static_cast<char>(code >> 8);
        bytes += static_cast<char>(code & 0xFF);
        return bytes + reason;
    }

    // True when the client ended the connection (or it was reset) within the time-out.
    bool waitForEnd() {
        char byte;
        for (;;) {
            pollfd entry{fd_, POLLIN, 0};
            if (::poll(&entry, 1, peerTimeoutMilliseconds) <= 0)
                return false;
            long got = ssl_ ? SSL_read(ssl_, &byte, 1) : ::recv(fd_, &byte, 1, 0);
            if (got <= 0)
                return true;
        }
    }

    bool startServerTLS(SSL_CTX* context) {
        ssl_ = SSL_new(context);
        SSL_set_fd(ssl_, fd_);
        return SSL_accept(ssl_) == 1;
    }

    // Ends the sending half (a FIN); the client's answer can still be read.
    void shutdownWrite() { ::shutdown(fd_, SHUT_WR); }

    // Ends the connection at once, without a closing handshake.
    void drop() {
        if (ssl_) {
            SSL_free(ssl_);
            ssl_ = nullptr;
        }
        ::shutdown(fd_, SHUT_RDWR);
        ::close(fd_);
        fd_ = -1;
    }

  private:
    int fd_;
    SSL* ssl_;
};

class RawWebSocketServer {
  public:
    // Plain TCP, or TLS with `identity` when given; `chain` is sent after the identity's
    // certificate, in order.
    explicit RawWebSocketServer(const TestIdentity* identity = nullptr,
                                const TestIdentity* chain = nullptr)
        : RawWebSocketServer(identity, chain ? std::vector<const TestIdentity*>{chain}
                                             : std::vector<const TestIdentity*>{}) {}
    // `ipv6`: listens on ::1 instead of 127.0.0.1.
    RawWebSocketServer(const TestIdentity* identity, std::vector<const TestIdentity*> chain,
                       bool ipv6 = false)
        : ipv6_(ipv6) {
        // The server's TLS writes to a client that has gone must not end the test run.
        ::signal(SIGPIPE, SIG_IGN);
        fd_ = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (ipv6) {
            sockaddr_in6 address{};
            address.sin6_family = AF_INET6;
            address.sin6_addr = in6addr_loopback;
            ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
            socklen_t length = sizeof address;
            ::listen(fd_, 8);
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
            port_ = ntohs(address.sin6_port);
        } else {
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
            ::listen(fd_, 8);
            socklen_t length = sizeof address;
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
            port_ = ntohs(address.sin_port);
        }
        if (identity) {
            context_ = SSL_CTX_new(TLS_server_method());
            SSL_CTX_use_certificate(context_, identity->certificate());
            SSL_CTX_use_PrivateKey(context_, identity->key());
            for (const auto* certificate : chain)
                SSL_CTX_add1_chain_cert(context_, certificate->certificate());
        }
    }
    ~RawWebSocketServer() {
        if (context_)
            SSL_CTX_free(context_);
        ::close(fd_);
    }
    RawWebSocketServer(const RawWebSocketServer&) = delete;
    RawWebSocketServer& operator=(const RawWebSocketServer&) = delete;

    int port() const { return port_; }
    std::string url(const std::string& pathAndQuery = "/") const {
        return std::string(context_ ? "wss" : "ws") + (ipv6_ ? "://[::1]:" : "://127.0.0.1:") +
               std::to_string(port_) + pathAndQuery;
    }

    // The next connection (after the TLS handshake, when TLS is on and not `deferTLS`);
    // nothing on time-out or when the TLS handshake fails.
    std::unique_ptr<RawPeer> accept(bool deferTLS = false) {
        pollfd entry{fd_, POLLIN, 0};
        if (::poll(&entry, 1, peerTimeoutMilliseconds) <= 0)
            return nullptr;
        int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            return nullptr;
        SSL* ssl = nullptr;
        if (context_ && !deferTLS) {
            ssl = SSL_new(context_);
            SSL_set_fd(ssl, client);
            if (SSL_accept(ssl) != 1) {
                SSL_free(ssl);
                ::close(client);
                return nullptr;
            }
        }
        return std::make_unique<RawPeer>(client, ssl);
    }

    // Whether a connection is waiting to be accepted now.
    bool hasWaitingConnection() const {
        pollfd entry{fd_, POLLIN, 0};
        return ::poll(&entry, 1, 0) > 0;
    }

    // Starts the server side of TLS on a connection accepted with `deferTLS` (after a
    // proxy's CONNECT answer). False when the handshake fails.
    bool startTLS(RawPeer& peer) { return peer.startServerTLS(context_); }

  private:
    bool ipv6_ = false;
    int fd_ = -1;
    int port_ = 0;
    SSL_CTX* context_ = nullptr;
};

}  // namespace pindle::testing
