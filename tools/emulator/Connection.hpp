#pragma once

#include <array>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>
#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "tools/emulator/Fault.hpp"
#include "tools/emulator/Request.hpp"
#include "tools/emulator/Response.hpp"

namespace pindle::emulator {

class HttpServer;

// One accepted client connection of the HttpServer: reads requests one after another
// (keep-alive, "Expect: 100-continue"), asks the server for each reply and writes it,
// acting out any scripted fault. The connection keeps itself alive through the handlers
// it has pending; it ends when the client closes, on a read or write error, after a reply
// that closes the connection, or when the server stops. A request head over the size limit is
// answered (414 or 431) rather than dropped.
// Thread-safety: all its work runs on the strand of its socket.
class Connection : public std::enable_shared_from_this<Connection> {
  public:
    // REQUIRES: the server outlives the connection (the server's stop() guarantees it).
    Connection(boost::asio::ip::tcp::socket socket, HttpServer& server);
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    void start();

    // The status line and header fields of a reply as sent on the wire. "Content-Length"
    // is the length of the full body, also when the body is then left out (HEAD) or cut.
    static std::string serializeHead(const Response& response, bool keepAlive);

  private:
    using Parser = boost::beast::http::request_parser<boost::beast::http::string_body>;

    void readHeader();
    void onHeader(boost::system::error_code error);
    // Answers a request head over the size limit with 414 or 431, then waits for the client
    // to close.
    void refuseOversizedHead();
    void readBody();
    void onRequest(boost::system::error_code error);
    void deliver(Response response, std::optional<Fault> fault, bool headRequest, bool keepAlive);
    // Writes the reply after `wait`, and then only once the fault's gate, if any, is open.
    void writeWhenOpen(std::chrono::milliseconds wait, bool headRequest, bool keepAlive);
    void write(bool headRequest, bool keepAlive);
    void onWritten(boost::system::error_code error);
    // Sends the next slice of a throttled body, then waits for its share of a second.
    void writeSlice();
    // Sends the rest of a body kept in a source, one slice at a time.
    void streamBody();
    // Sends the head alone, then hands the body over to `next` (throttled or streamed).
    void writeHeadThen(void (Connection::*next)());
    // Replaces `out` with bytes of the reply's body; false when its source cannot be read.
    bool bodyBytes(std::uint64_t offset, std::size_t length, std::string& out) const;
    void waitForClientClose();
    void close();

    boost::asio::ip::tcp::socket socket_;
    boost::asio::steady_timer timer_;
    HttpServer& server_;
    boost::beast::flat_buffer buffer_;
    std::optional<Parser> parser_;
    std::string outgoing_;
    std::array<char, 1024> drain_{};
    Response response_;
    std::optional<Fault> fault_;
    std::uint64_t bodySent_ = 0;
    bool keepAlive_ = false;
    bool drainAfterReply_ = false;
};

}  // namespace pindle::emulator
