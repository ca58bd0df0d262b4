#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "tools/emulator/Headers.hpp"

namespace pindle::emulator::test {

// What a TestHttpClient got back: a status and header when they arrived, the body bytes
// that arrived (possibly fewer than announced), and the transport error, if any.
struct ClientResponse {
    unsigned status = 0;
    Headers headers;
    std::string body;
    boost::system::error_code error;
    bool timedOut = false;

    bool complete() const { return !error && status != 0; }
};

// A plain HTTP/1.1 client on one keep-alive connection, built on Beast, so the emulator's
// tests speak to it as any peer would without using the SDK. Every read waits at most the
// given timeout, which is generous: tests do not rely on it expiring.
// Thread-safety: one thread at a time.
class TestHttpClient {
  public:
    static constexpr std::chrono::milliseconds defaultTimeout{10000};

    explicit TestHttpClient(std::uint16_t port);
    TestHttpClient(const TestHttpClient&) = delete;
    TestHttpClient& operator=(const TestHttpClient&) = delete;

    bool connected() const { return connected_; }

    // Sends one request and reads its reply (a HEAD reply without a body). A "Host" header
    // is added when missing.
    ClientResponse request(const std::string& method, const std::string& target,
                           Headers headers = {}, const std::string& body = {},
                           std::chrono::milliseconds timeout = defaultTimeout);

    // Writes raw bytes and reads one reply; for requests the helper above cannot form.
    ClientResponse raw(const std::string& bytes, bool headRequest = false,
                       std::chrono::milliseconds timeout = defaultTimeout);

    // Sends a request and returns once the header and at least bodyBytes of the body have
    // arrived. finish() then reads on until the reply ends or the connection closes.
    ClientResponse startRequest(const std::string& method, const std::string& target,
                                std::size_t bodyBytes, Headers headers = {},
                                std::chrono::milliseconds timeout = defaultTimeout);
    ClientResponse finish(std::chrono::milliseconds timeout = defaultTimeout);

    // Reads one more reply without sending anything (after a "100 Continue").
    ClientResponse readReply(bool headRequest = false,
                             std::chrono::milliseconds timeout = defaultTimeout);

    void close();

  private:
    using Parser = boost::beast::http::response_parser<boost::beast::http::string_body>;

    boost::system::error_code send(const std::string& bytes, std::chrono::milliseconds timeout);
    ClientResponse read(Parser& parser, std::optional<std::size_t> untilBodyBytes,
                        std::chrono::milliseconds timeout);
    static std::string format(const std::string& method, const std::string& target,
                              const Headers& headers, const std::string& body);

    boost::asio::io_context io_;
    boost::beast::tcp_stream stream_;
    boost::beast::flat_buffer buffer_;
    std::optional<Parser> pending_;
    std::uint16_t port_;
    bool connected_ = false;
};

}  // namespace pindle::emulator::test
