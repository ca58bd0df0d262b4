#include "TestHttpClient.hpp"

#include <boost/asio/connect.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>
#include <functional>
#include <limits>

namespace pindle::emulator::test {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;

TestHttpClient::TestHttpClient(std::uint16_t port) : stream_(io_), port_(port) {
    boost::system::error_code error;
    stream_.expires_after(defaultTimeout);
    stream_.socket().connect({net::ip::make_address_v4("127.0.0.1"), port}, error);
    connected_ = !error;
}

ClientResponse TestHttpClient::request(const std::string& method, const std::string& target,
                                       Headers headers, const std::string& body,
                                       std::chrono::milliseconds timeout) {
    if (!headers.contains("Host")) {
        headers.add("Host", "127.0.0.1:" + std::to_string(port_));
    }
    return raw(format(method, target, headers, body), method == "HEAD", timeout);
}

ClientResponse TestHttpClient::raw(const std::string& bytes, bool headRequest,
                                   std::chrono::milliseconds timeout) {
    ClientResponse response;
    response.error = send(bytes, timeout);
    if (response.error) {
        return response;
    }
    return readReply(headRequest, timeout);
}

ClientResponse TestHttpClient::readReply(bool headRequest, std::chrono::milliseconds timeout) {
    Parser parser;
    parser.body_limit(std::numeric_limits<std::uint64_t>::max());
    parser.skip(headRequest);
    return read(parser, std::nullopt, timeout);
}

ClientResponse TestHttpClient::startRequest(const std::string& method, const std::string& target,
                                            std::size_t bodyBytes, Headers headers,
                                            std::chrono::milliseconds timeout) {
    if (!headers.contains("Host")) {
        headers.add("Host", "127.0.0.1:" + std::to_string(port_));
    }
    ClientResponse response;
    response.error = send(format(method, target, headers, {}), timeout);
    if (response.error) {
        return response;
    }
    pending_.emplace();
    pending_->body_limit(std::numeric_limits<std::uint64_t>::max());
    return read(*pending_, bodyBytes, timeout);
}

ClientResponse TestHttpClient::finish(std::chrono::milliseconds timeout) {
    ClientResponse response = read(*pending_, std::nullopt, timeout);
    pending_.reset();
    return response;
}

void TestHttpClient::close() {
    boost::system::error_code ignored;
    stream_.socket().shutdown(net::ip::tcp::socket::shutdown_both, ignored);
    stream_.socket().close(ignored);
    connected_ = false;
}

boost::system::error_code TestHttpClient::send(const std::string& bytes,
                                               std::chrono::milliseconds timeout) {
    boost::system::error_code result;
    stream_.expires_after(timeout);
    net::async_write(stream_, net::buffer(bytes),
                     [&](boost::system::error_code error, std::size_t) { result = error; });
    io_.restart();
    io_.run();
    return result;
}

ClientResponse TestHttpClient::read(Parser& parser, std::optional<std::size_t> untilBodyBytes,
                                    std::chrono::milliseconds timeout) {
    ClientResponse response;
    stream_.expires_after(timeout);
    std::function<void(boost::system::error_code, std::size_t)> step;
    step = [&](boost::system::error_code error, std::size_t) {
        bool enough = untilBodyBytes && parser.is_header_done() &&
                      parser.get().body().size() >= *untilBodyBytes;
        if (error || parser.is_done() || enough) {
            response.error = error;
            return;
        }
        http::async_read_some(stream_, buffer_, parser, step);
    };
    http::async_read_some(stream_, buffer_, parser, step);
    io_.restart();
    io_.run();
    response.timedOut = response.error == beast::error::timeout;
    if (parser.is_header_done()) {
        const auto& message = parser.get();
        response.status = message.result_int();
        for (const auto& field : message) {
            response.headers.add(std::string(field.name_string()), std::string(field.value()));
        }
        response.body = message.body();
    }
    return response;
}

std::string TestHttpClient::format(const std::string& method, const std::string& target,
                                   const Headers& headers, const std::string& body) {
    std::string bytes = method + " " + target + " HTTP/1.1\r\n";
    for (const auto& [name, value] : headers) {
        bytes += name + ": " + value + "\r\n";
    }
    if (!body.empty() || method == "POST" || method == "PUT") {
        bytes += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    }
    bytes += "\r\n" + body;
    return bytes;
}

}  // namespace pindle::emulator::test
