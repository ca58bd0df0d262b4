#include "tools/emulator/HttpServer.hpp"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/strand.hpp>
#include <thread>
#include <vector>

#include "tools/emulator/Connection.hpp"
#include "tools/emulator/UpgradeRequest.hpp"

namespace pindle::emulator {

namespace net = boost::asio;
using tcp = net::ip::tcp;

// The I/O machinery of a running server. Members are destroyed in reverse order: the
// threads are joined before, then the acceptor goes, then the io_context, whose
// destruction drops the pending handlers and with them the connections they keep alive.
struct HttpServer::Runtime {
    net::io_context io;
    net::executor_work_guard<net::io_context::executor_type> work{io.get_executor()};
    tcp::acceptor acceptor{net::make_strand(io)};
    std::vector<std::thread> threads;
};

HttpServer::HttpServer() = default;

HttpServer::~HttpServer() {
    stop();
}

bool HttpServer::start(std::uint16_t port, std::string* error) {
    std::scoped_lock lock(mutex_);
    if (runtime_) {
        if (error) {
            *error = "the server is already running";
        }
        return false;
    }
    auto runtime = std::make_unique<Runtime>();
    boost::system::error_code failure;
    tcp::endpoint endpoint(net::ip::make_address_v4("127.0.0.1"), port);
    runtime->acceptor.open(endpoint.protocol(), failure);
    if (!failure) {
        runtime->acceptor.set_option(net::socket_base::reuse_address(true), failure);
    }
    if (!failure) {
        runtime->acceptor.bind(endpoint, failure);
    }
    if (!failure) {
        runtime->acceptor.listen(net::socket_base::max_listen_connections, failure);
    }
    if (failure) {
        if (error) {
            *error =
                "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + failure.message();
        }
        return false;
    }
    port_.store(runtime->acceptor.local_endpoint().port());
    runtime_ = std::move(runtime);
    acceptNext(*runtime_);
    for (int i = 0; i < ioThreadCount; ++i) {
        runtime_->threads.emplace_back([io = &runtime_->io] { io->run(); });
    }
    return true;
}

void HttpServer::stop() {
    std::unique_ptr<Runtime> runtime;
    {
        std::scoped_lock lock(mutex_);
        runtime = std::move(runtime_);
    }
    if (!runtime) {
        return;
    }
    runtime->io.stop();
    for (auto& thread : runtime->threads) {
        thread.join();
    }
    boost::system::error_code ignored;
    runtime->acceptor.close(ignored);
    runtime.reset();
    port_.store(0);
}

bool HttpServer::isRunning() const {
    std::scoped_lock lock(mutex_);
    return runtime_ != nullptr;
}

std::string HttpServer::baseURL() const {
    return "http://127.0.0.1:" + std::to_string(port());
}

void HttpServer::setUpgradeHandler(UpgradeHandler handler) {
    std::scoped_lock lock(mutex_);
    upgradeHandler_ = std::move(handler);
}

bool HttpServer::offerUpgrade(UpgradeRequest& upgrade) {
    UpgradeHandler handler;
    {
        std::scoped_lock lock(mutex_);
        handler = upgradeHandler_;
    }
    return handler && handler(upgrade);
}

void HttpServer::acceptNext(Runtime& runtime) {
    // The runtime outlives this handler: stop() joins the I/O threads before it goes away.
    runtime.acceptor.async_accept(
        net::make_strand(runtime.io),
        [this, &runtime](boost::system::error_code error, tcp::socket socket) {
            if (error == net::error::operation_aborted || !runtime.acceptor.is_open()) {
                return;
            }
            if (!error) {
                // A streamed reply writes its head, then its body: held back for the head's
                // acknowledgement, a short body would wait out the client's delayed ACK.
                boost::system::error_code ignored;
                socket.set_option(tcp::no_delay(true), ignored);
                std::make_shared<Connection>(std::move(socket), *this)->start();
            }
            acceptNext(runtime);
        });
}

void HttpServer::addReply(std::string method, std::string path, Response response,
                          std::optional<int> uses) {
    script_.addReply(std::move(method), std::move(path), std::move(response), uses);
}

void HttpServer::addJSONReply(std::string method, std::string path, unsigned status,
                              const nlohmann::json& body, Headers headers,
                              std::optional<int> uses) {
    addReply(std::move(method), std::move(path), Response::json(status, body, std::move(headers)),
             uses);
}

void HttpServer::addFault(std::string path, Fault fault) {
    script_.addFault(std::move(path), std::move(fault));
}

void HttpServer::holdReplies(std::shared_ptr<FaultGate> gate) {
    std::lock_guard lock(heldRepliesMutex_);
    heldReplies_ = std::move(gate);
}

std::shared_ptr<FaultGate> HttpServer::heldReplyGate() const {
    std::lock_guard lock(heldRepliesMutex_);
    return heldReplies_;
}

HttpServer::Exchange HttpServer::handle(const Request& request) {
    requestLog_.append(request);
    Exchange exchange;
    exchange.fault = script_.takeFault(request);
    if (std::shared_ptr<FaultGate> held = heldReplyGate()) {
        if (!exchange.fault)
            exchange.fault.emplace();
        if (!exchange.fault->gate)
            exchange.fault->gate = std::move(held);
    }
    if (exchange.fault && exchange.fault->action == Fault::Action::closeWithoutReply) {
        return exchange;
    }
    if (auto scripted = script_.takeReply(request)) {
        exchange.response = std::move(*scripted);
        return exchange;
    }
    auto path = request.path();
    auto match = router_.match(request.method, path);
    if (match.handler) {
        try {
            exchange.response = match.handler(request, match.params);
            if (!exchange.fault && exchange.response.fault) {
                exchange.fault = exchange.response.fault;
            }
        } catch (const std::exception& failure) {
            exchange.response = Response::error(500, failure.what());
        }
        return exchange;
    }
    if (!match.allowedMethods.empty()) {
        std::string allowed;
        for (const auto& method : match.allowedMethods) {
            allowed += (allowed.empty() ? "" : ", ") + method;
        }
        exchange.response = Response::error(405, "method not allowed").withHeader("Allow", allowed);
        return exchange;
    }
    if (auto media = media_.find(path)) {
        exchange.response = MediaLibrary::reply(request, *media);
        return exchange;
    }
    exchange.response = Response::error(404, "not found: " + path);
    return exchange;
}

}  // namespace pindle::emulator
