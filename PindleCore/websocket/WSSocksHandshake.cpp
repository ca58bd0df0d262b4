#include "PindleCore/websocket/WSSocksHandshake.hpp"

#include <arpa/inet.h>

namespace pindle {

namespace {

constexpr std::uint8_t version4 = 0x04;
constexpr std::uint8_t version4Reply = 0x00;
constexpr std::uint8_t socks4Granted = 90;
constexpr std::size_t socks4ReplySize = 8;

constexpr std::uint8_t version5 = 0x05;
constexpr std::uint8_t noAuthentication = 0x00;
constexpr std::uint8_t userPassword = 0x02;
constexpr std::uint8_t noAcceptableMethod = 0xFF;
constexpr std::uint8_t userPasswordVersion = 0x01;
constexpr std::uint8_t connectCommand = 0x01;
constexpr std::uint8_t addressIPv4 = 0x01;
constexpr std::uint8_t addressDomain = 0x03;
constexpr std::uint8_t addressIPv6 = 0x04;
constexpr std::size_t socks5ReplyFixedSize = 4 + 2;  // version, reply, reserved, type; port

std::string socks5ReplyText(std::uint8_t code) {
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

std::string socks4ReplyText(std::uint8_t code) {
    switch (code) {
        case 91:
            return "request rejected or failed";
        case 92:
            return "the proxy could not reach our identd";
        case 93:
            return "our identd named another user";
        default:
            return "reply " + std::to_string(code);
    }
}

std::uint8_t byteAt(const std::string& bytes, std::size_t index) {
    return static_cast<std::uint8_t>(bytes[index]);
}

void appendPort(std::string& bytes, int port) {
    bytes += static_cast<char>((port >> 8) & 0xFF);
    bytes += static_cast<char>(port & 0xFF);
}

}  // namespace

WSSocksHandshake::WSSocksHandshake(int version, std::string host, int port,
                                   std::optional<std::string> user,
                                   std::optional<std::string> password)
    : version_(version),
      host_(std::move(host)),
      port_(port),
      user_(std::move(user)),
      password_(std::move(password)) {}

std::optional<std::string> WSSocksHandshake::refusal() const {
    if (version_ != 4 && version_ != 5)
        return "SOCKS " + std::to_string(version_) + " is not supported.";
    if (host_.empty() || host_.size() > maximumField || user_.value_or("").size() > maximumField ||
        password_.value_or("").size() > maximumField)
        return "a host name, user name or password is too long.";
    if (port_ <= 0 || port_ > 0xFFFF)
        return "the port " + std::to_string(port_) + " cannot be asked for.";
    if (version_ == 4) {
        in6_addr ipv6{};
        if (inet_pton(AF_INET6, host_.c_str(), &ipv6) == 1)
            return "SOCKS 4 cannot reach the IPv6 address " + host_ + ".";
        // Both are sent as NUL-terminated strings.
        if (user_.value_or("").find('\0') != std::string::npos ||
            host_.find('\0') != std::string::npos)
            return "a host name or user name holds a NUL byte.";
    }
    return std::nullopt;
}

std::string WSSocksHandshake::greeting() {
    if (version_ == 4) {
        stage_ = Stage::connect;
        std::string request{static_cast<char>(version4), static_cast<char>(connectCommand)};
        appendPort(request, port_);
        in_addr ipv4{};
        const bool byAddress = inet_pton(AF_INET, host_.c_str(), &ipv4) == 1;
        if (byAddress)
            request.append(reinterpret_cast<const char*>(&ipv4), sizeof ipv4);
        else
            request.append("\0\0\0\x01", 4);  // 4a: the name follows
        request += user_.value_or("");
        request += '\0';
        if (!byAddress) {
            request += host_;
            request += '\0';
        }
        return request;
    }
    stage_ = Stage::greeting;
    if (user_)
        return {static_cast<char>(version5), 2, static_cast<char>(noAuthentication),
                static_cast<char>(userPassword)};
    return {static_cast<char>(version5), 1, static_cast<char>(noAuthentication)};
}

WSSocksHandshake::Step WSSocksHandshake::fail(std::string text) {
    stage_ = Stage::failed;
    failure_ = std::move(text);
    return Step{Step::Kind::failed, {}, failure_};
}

WSSocksHandshake::Step WSSocksHandshake::consume(std::string& answer) {
    if (stage_ == Stage::done)
        return Step{Step::Kind::done, {}, {}};
    if (stage_ == Stage::failed)
        return Step{Step::Kind::failed, {}, failure_};
    if (stage_ == Stage::start)
        return Step{};
    return version_ == 4 ? consumeSocks4(answer) : consumeSocks5(answer);
}

WSSocksHandshake::Step WSSocksHandshake::consumeSocks4(std::string& answer) {
    if (answer.size() < socks4ReplySize)
        return Step{};
    if (byteAt(answer, 0) != version4Reply)
        return fail("the proxy does not speak SOCKS 4.");
    if (byteAt(answer, 1) != socks4Granted)
        return fail("the proxy could not connect (" + socks4ReplyText(byteAt(answer, 1)) + ").");
    stage_ = Stage::done;
    Step step{Step::Kind::done, answer.substr(socks4ReplySize), {}};
    answer.clear();
    return step;
}

std::string WSSocksHandshake::socks5ConnectRequest() const {
    std::string request{static_cast<char>(version5), static_cast<char>(connectCommand), 0};
    in_addr ipv4{};
    in6_addr ipv6{};
    if (inet_pton(AF_INET, host_.c_str(), &ipv4) == 1) {
        request += static_cast<char>(addressIPv4);
        request.append(reinterpret_cast<const char*>(&ipv4), sizeof ipv4);
    } else if (inet_pton(AF_INET6, host_.c_str(), &ipv6) == 1) {
        request += static_cast<char>(addressIPv6);
        request.append(reinterpret_cast<const char*>(&ipv6), sizeof ipv6);
    } else {
        // By name, so the proxy resolves it: the client may not be able to.
        request += static_cast<char>(addressDomain);
        request += static_cast<char>(host_.size());
        request += host_;
    }
    appendPort(request, port_);
    return request;
}

WSSocksHandshake::Step WSSocksHandshake::consumeSocks5(std::string& answer) {
    switch (stage_) {
        case Stage::greeting: {
            if (answer.size() < 2)
                return Step{};
            const std::uint8_t version = byteAt(answer, 0);
            const std::uint8_t method = byteAt(answer, 1);
            answer.erase(0, 2);
            if (version != version5)
                return fail("the proxy does not speak SOCKS 5.");
            if (method == noAuthentication) {
                stage_ = Stage::connect;
                return Step{Step::Kind::send, socks5ConnectRequest(), {}};
            }
            if (method == userPassword && user_) {
                stage_ = Stage::authentication;
                const std::string password = password_.value_or("");
                return Step{Step::Kind::send,
                            std::string{static_cast<char>(userPasswordVersion),
                                        static_cast<char>(user_->size())} +
                                *user_ + static_cast<char>(password.size()) + password,
                            {}};
            }
            return fail(method == noAcceptableMethod
                            ? "the proxy accepts none of our authentication methods."
                            : "the proxy chose an authentication method we did not offer.");
        }
        case Stage::authentication: {
            if (answer.size() < 2)
                return Step{};
            const std::uint8_t status = byteAt(answer, 1);
            answer.erase(0, 2);
            if (status != 0)
                return fail("the proxy rejected the user name and password.");
            stage_ = Stage::connect;
            return Step{Step::Kind::send, socks5ConnectRequest(), {}};
        }
        case Stage::connect: {
            // The bound address's type, and for a name its length, say how long the reply is.
            if (answer.size() < 5)
                return Step{};
            std::size_t address = 0;
            switch (byteAt(answer, 3)) {
                case addressIPv4:
                    address = 4;
                    break;
                case addressIPv6:
                    address = 16;
                    break;
                case addressDomain:
                    address = 1 + static_cast<std::size_t>(byteAt(answer, 4));
                    break;
                default:
                    return fail("the proxy sent a malformed reply.");
            }
            const std::size_t used = socks5ReplyFixedSize + address;
            if (answer.size() < used)
                return Step{};
            if (byteAt(answer, 0) != version5 || byteAt(answer, 1) != 0)
                return fail("the proxy could not connect (" + socks5ReplyText(byteAt(answer, 1)) +
                            ").");
            stage_ = Stage::done;
            Step step{Step::Kind::done, answer.substr(used), {}};
            answer.clear();
            return step;
        }
        case Stage::start:
        case Stage::done:
        case Stage::failed:
            break;
    }
    return Step{};
}

}  // namespace pindle
