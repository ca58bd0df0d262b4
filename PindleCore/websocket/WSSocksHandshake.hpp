// WSSocksHandshake: the client's side of a SOCKS handshake (version 5, or 4 and 4a) for one
// connection, as bytes to send and answers to read, so that the connector only moves bytes
// and the reading of a proxy's answers stands on its own.
//
// SOCKS 5 offers no authentication, and user name and password when the proxy setting carries
// them, then asks for the target by address, or by name so that the proxy resolves it.
// SOCKS 4 carries only IPv4 addresses: an IPv4 target goes as SOCKS 4, a host name as SOCKS 4a
// (the name after the user id, the address 0.0.0.1), and an IPv6 target cannot be reached.
// The proxy user name is SOCKS 4's user id. Every answer is checked before a byte of it is
// used; whatever follows the final answer is the server's and handed back as leftover.
//
// Thread-safety: a plain value; use from one thread at a time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace pindle {

class WSSocksHandshake {
  public:
    static constexpr std::size_t maximumField = 255;

    struct Step {
        enum class Kind { pending, send, done, failed };
        Kind kind = Kind::pending;
        // send: the bytes to write; done: the server's bytes behind the proxy's last answer.
        std::string bytes;
        // failed: why, for the user ("the proxy rejected the user name and password.").
        std::string failure;
    };

    // `version` 5, or 4 (4a for a host name). `user` and `password` as the setting gives them.
    WSSocksHandshake(int version, std::string host, int port, std::optional<std::string> user,
                     std::optional<std::string> password);

    // Why this handshake cannot be made at all (a field too long, an IPv6 target over
    // SOCKS 4, an unknown version); nothing when it can.
    std::optional<std::string> refusal() const;
    // The first bytes to send, once the proxy's connection is open.
    // REQUIRES: refusal() is empty; called once.
    std::string greeting();
    // Reads what it can from the front of `answer` (removing what it used) and says what to
    // do next: pending (more bytes needed), send, done or failed. After done or failed it
    // answers the same again and reads nothing.
    Step consume(std::string& answer);

  private:
    enum class Stage { start, greeting, authentication, connect, done, failed };

    Step consumeSocks4(std::string& answer);
    Step consumeSocks5(std::string& answer);
    std::string socks5ConnectRequest() const;
    Step fail(std::string text);

    const int version_;
    const std::string host_;
    const int port_;
    const std::optional<std::string> user_;
    const std::optional<std::string> password_;
    Stage stage_ = Stage::start;
    std::string failure_;
};

}  // namespace pindle
