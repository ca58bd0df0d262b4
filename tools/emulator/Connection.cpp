#include "tools/emulator/Connection.hpp"

#include <algorithm>
#include <boost/asio/write.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/status.hpp>
#include <boost/beast/websocket/rfc6455.hpp>
#include <string_view>

#include "tools/emulator/HttpServer.hpp"
#include "tools/emulator/UpgradeRequest.hpp"

namespace pindle::emulator {

namespace net = boost::asio;
namespace http = boost::beast::http;

namespace {

constexpr std::size_t maxHeaderBytes = 64 * 1024;
constexpr std::string_view continueLine = "HTTP/1.1 100 Continue\r\n\r\n";
constexpr std::size_t throttleSlicesPerSecond = 10;
// A file body goes out in slices of this size, so a connection holds at most one of them.
constexpr std::size_t streamSliceBytes = 256 * 1024;

bool statusHasNoBody(unsigned status) {
    return (status >= 100 && status < 200) || status == 204 || status == 304;
}

}  // namespace

Connection::Connection(net::ip::tcp::socket socket, HttpServer& server)
    : socket_(std::move(socket)), timer_(socket_.get_executor()), server_(server) {}

void Connection::start() {
    if (server_.refusesConnections()) {
        close();
        return;
    }
    readHeader();
}

void Connection::readHeader() {
    parser_.emplace();
    parser_->header_limit(maxHeaderBytes);
    parser_->body_limit(HttpServer::maxBodyBytes);
    http::async_read_header(socket_, buffer_, *parser_,
                            [self = shared_from_this()](boost::system::error_code error,
                                                        std::size_t) { self->onHeader(error); });
}

void Connection::onHeader(boost::system::error_code error) {
    if (error == http::error::header_limit) {
        refuseOversizedHead();
        return;
    }
    if (error) {
        close();
        return;
    }
    const auto& header = parser_->get();
    auto expect = header.find(http::field::expect);
    bool wantsContinue =
        expect != header.end() && Headers::sameName(std::string(expect->value()), "100-continue");
    if (!wantsContinue) {
        readBody();
        return;
    }
    net::async_write(
        socket_, net::buffer(continueLine),
        [self = shared_from_this()](boost::system::error_code writeError, std::size_t) {
            if (writeError) {
                self->close();
                return;
            }
            self->readBody();
        });
}

void Connection::refuseOversizedHead() {
    // The parser hands over the request line as soon as it has all of it: without a target,
    // the line alone is over the limit.
    const bool lineTooLong = parser_->get().target().empty();
    drainAfterReply_ = true;
    deliver(lineTooLong ? Response::error(414, "request line over the limit")
                        : Response::error(431, "request header fields over the limit"),
            std::nullopt, false, false);
}

void Connection::readBody() {
    http::async_read(socket_, buffer_, *parser_,
                     [self = shared_from_this()](boost::system::error_code error, std::size_t) {
                         self->onRequest(error);
                     });
}

void Connection::onRequest(boost::system::error_code error) {
    if (error) {
        close();
        return;
    }
    auto message = parser_->release();
    if (boost::beast::websocket::is_upgrade(message)) {
        UpgradeRequest upgrade{socket_, message};
        if (server_.offerUpgrade(upgrade))
            return;
    }
    Request request;
    request.method = std::string(message.method_string());
    request.target = std::string(message.target());
    for (const auto& field : message) {
        request.headers.add(std::string(field.name_string()), std::string(field.value()));
    }
    request.body = std::move(message.body());
    bool keepAlive = message.keep_alive();
    bool headRequest = request.method == "HEAD";

    auto exchange = server_.handle(request);
    deliver(std::move(exchange.response), std::move(exchange.fault), headRequest, keepAlive);
}

void Connection::deliver(Response response, std::optional<Fault> fault, bool headRequest,
                         bool keepAlive) {
    response_ = std::move(response);
    fault_ = std::move(fault);
    keepAlive_ = keepAlive;
    if (fault_ && fault_->gate)
        fault_->gate->arrive();
    writeWhenOpen(fault_ ? fault_->delay : std::chrono::milliseconds(0), headRequest, keepAlive);
}

void Connection::writeWhenOpen(std::chrono::milliseconds wait, bool headRequest, bool keepAlive) {
    if (wait.count() <= 0) {
        if (!fault_ || !fault_->gate || fault_->gate->isOpen()) {
            write(headRequest, keepAlive);
            return;
        }
        // A shut gate is looked at again every few milliseconds rather than told about this
        // connection, which may end (server stopped, client gone) while the gate stays shut.
        wait = std::chrono::milliseconds(2);
    }
    timer_.expires_after(wait);
    timer_.async_wait(
        [self = shared_from_this(), headRequest, keepAlive](boost::system::error_code error) {
            if (error) {
                self->close();
                return;
            }
            self->writeWhenOpen(std::chrono::milliseconds(0), headRequest, keepAlive);
        });
}

void Connection::write(bool headRequest, bool keepAlive) {
    using Action = Fault::Action;
    auto action = fault_ ? fault_->action : Action::reply;
    if (action == Action::closeWithoutReply) {
        close();
        return;
    }
    bool cut = action == Action::dropMidBody || action == Action::stallBody;
    outgoing_ = serializeHead(response_, keepAlive && !cut);
    const bool throttled = action == Action::reply && fault_ && fault_->bytesPerSecond > 0 &&
                           !headRequest && !statusHasNoBody(response_.status);
    if (throttled) {
        writeHeadThen(&Connection::writeSlice);
        return;
    }
    const bool sendsBody = !headRequest && !statusHasNoBody(response_.status);
    if (sendsBody && cut) {
        // Always leave at least one byte unsent, so the client sees a short body.
        const std::uint64_t size = response_.bodySize();
        const auto sent = static_cast<std::size_t>(
            size == 0 ? 0 : std::min<std::uint64_t>(fault_->bodyBytes, size - 1));
        std::string part;
        if (!bodyBytes(0, sent, part)) {
            close();
            return;
        }
        outgoing_ += part;
    } else if (sendsBody && response_.bodySource) {
        writeHeadThen(&Connection::streamBody);
        return;
    } else if (sendsBody) {
        outgoing_ += response_.body;
    }
    net::async_write(socket_, net::buffer(outgoing_),
                     [self = shared_from_this()](boost::system::error_code error, std::size_t) {
                         self->onWritten(error);
                     });
}

bool Connection::bodyBytes(std::uint64_t offset, std::size_t length, std::string& out) const {
    if (!response_.bodySource) {
        out.assign(response_.body, static_cast<std::size_t>(offset), length);
        return true;
    }
    return response_.bodySource->read(response_.bodyOffset + offset, length, out);
}

void Connection::streamBody() {
    const std::uint64_t remaining = response_.bodyLength - bodySent_;
    if (remaining == 0) {
        onWritten({});
        return;
    }
    auto onSlice = [self = shared_from_this()](boost::system::error_code error, std::size_t) {
        if (error) {
            self->close();
            return;
        }
        self->streamBody();
    };
    if (auto bytes = response_.bodySource->inMemory()) {
        // Bytes in memory are shared and immutable: written in one go straight from them.
        const auto offset = static_cast<std::size_t>(response_.bodyOffset + bodySent_);
        bodySent_ += remaining;
        net::async_write(socket_, net::buffer(bytes->data() + offset, remaining),
                         std::move(onSlice));
        return;
    }
    const auto slice =
        static_cast<std::size_t>(std::min<std::uint64_t>(remaining, streamSliceBytes));
    if (!bodyBytes(bodySent_, slice, outgoing_)) {
        close();
        return;
    }
    bodySent_ += slice;
    net::async_write(socket_, net::buffer(outgoing_), std::move(onSlice));
}

void Connection::writeHeadThen(void (Connection::*next)()) {
    bodySent_ = 0;
    net::async_write(
        socket_, net::buffer(outgoing_),
        [self = shared_from_this(), next](boost::system::error_code error, std::size_t) {
            if (error) {
                self->close();
                return;
            }
            ((*self).*next)();
        });
}

void Connection::writeSlice() {
    const std::uint64_t remaining = response_.bodySize() - bodySent_;
    if (remaining == 0) {
        onWritten({});
        return;
    }
    const auto slice = static_cast<std::size_t>(std::min<std::uint64_t>(
        remaining, std::max<std::size_t>(1, fault_->bytesPerSecond / throttleSlicesPerSecond)));
    if (!bodyBytes(bodySent_, slice, outgoing_)) {
        close();
        return;
    }
    bodySent_ += slice;
    net::async_write(
        socket_, net::buffer(outgoing_),
        [self = shared_from_this()](boost::system::error_code error, std::size_t) {
            if (error) {
                self->close();
                return;
            }
            self->timer_.expires_after(std::chrono::milliseconds(1000 / throttleSlicesPerSecond));
            self->timer_.async_wait([self](boost::system::error_code waitError) {
                if (waitError) {
                    self->close();
                    return;
                }
                self->writeSlice();
            });
        });
}

void Connection::onWritten(boost::system::error_code error) {
    if (error) {
        close();
        return;
    }
    auto action = fault_ ? fault_->action : Fault::Action::reply;
    if (action == Fault::Action::stallBody) {
        waitForClientClose();
        return;
    }
    bool closes = action == Fault::Action::dropMidBody || !keepAlive_;
    if (auto connection = response_.headers.get("Connection");
        connection && Headers::sameName(*connection, "close")) {
        closes = true;
    }
    if (drainAfterReply_) {
        // The client may still be sending the rest of its head: closing on unread bytes would
        // reset the connection and could lose the reply before the client reads it.
        boost::system::error_code ignored;
        socket_.shutdown(net::ip::tcp::socket::shutdown_send, ignored);
        waitForClientClose();
        return;
    }
    if (closes) {
        close();
        return;
    }
    readHeader();
}

void Connection::waitForClientClose() {
    socket_.async_read_some(net::buffer(drain_), [self = shared_from_this()](
                                                     boost::system::error_code error, std::size_t) {
        if (error) {
            self->close();
            return;
        }
        self->waitForClientClose();
    });
}

void Connection::close() {
    boost::system::error_code ignored;
    timer_.cancel();
    socket_.shutdown(net::ip::tcp::socket::shutdown_both, ignored);
    socket_.close(ignored);
}

std::string Connection::serializeHead(const Response& response, bool keepAlive) {
    std::string head = "HTTP/1.1 " + std::to_string(response.status) + " ";
    head += std::string(http::obsolete_reason(static_cast<http::status>(response.status)));
    head += "\r\n";
    for (const auto& [name, value] : response.headers) {
        head += name + ": " + value + "\r\n";
    }
    if (!statusHasNoBody(response.status) && !response.headers.contains("Content-Length")) {
        head += "Content-Length: " + std::to_string(response.bodySize()) + "\r\n";
    }
    if (!keepAlive && !response.headers.contains("Connection")) {
        head += "Connection: close\r\n";
    }
    head += "\r\n";
    return head;
}

}  // namespace pindle::emulator
