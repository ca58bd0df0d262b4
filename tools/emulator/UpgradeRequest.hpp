#pragma once

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>

namespace pindle::emulator {

// A WebSocket upgrade request the HttpServer offers to its upgrade handler: the connection's
// socket, which a handler that takes the request moves out, and the request as read. Kept out
// of the server's header so that users of the emulator do not compile Boost.Beast.
// Thread-safety: used on one I/O thread for the length of the offer.
struct UpgradeRequest {
    boost::asio::ip::tcp::socket& socket;
    boost::beast::http::request<boost::beast::http::string_body>& request;
};

}  // namespace pindle::emulator
