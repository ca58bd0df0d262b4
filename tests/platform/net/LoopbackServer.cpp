#include "platform/net/LoopbackServer.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>

namespace pindle::platform::test {

namespace {

constexpr auto generousWait = std::chrono::seconds(20);

std::string lowercased(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

int listeningSocket(int* port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    *port = ntohs(address.sin_port);
    return fd;
}

// Reads one request from `fd` into `request`, keeping bytes of a following request in
// `pending`. False when the peer closed or the server is stopping.
bool readRequest(int fd, std::string& pending, RecordedRequest& request,
                 const std::atomic<bool>& stopping) {
    auto fill = [&]() {
        pollfd p{fd, POLLIN, 0};
        while (!stopping) {
            int ready = ::poll(&p, 1, 50);
            if (ready > 0)
                break;
        }
        if (stopping)
            return false;
        char buffer[16384];
        ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0)
            return false;
        pending.append(buffer, static_cast<size_t>(got));
        return true;
    };
    size_t end;
    while ((end = pending.find("\r\n\r\n")) == std::string::npos) {
        if (!fill())
            return false;
    }
    request = RecordedRequest{};
    request.head = pending.substr(0, end + 2);
    pending.erase(0, end + 4);
    size_t lineEnd = request.head.find("\r\n");
    const std::string requestLine = request.head.substr(0, lineEnd);
    const size_t firstSpace = requestLine.find(' ');
    const size_t secondSpace = requestLine.find(' ', firstSpace + 1);
    request.method = requestLine.substr(0, firstSpace);
    request.target = requestLine.substr(firstSpace + 1, secondSpace - firstSpace - 1);
    size_t position = lineEnd + 2;
    while (position < request.head.size()) {
        const size_t next = request.head.find("\r\n", position);
        const std::string line = request.head.substr(position, next - position);
        position = next + 2;
        const size_t colon = line.find(':');
        std::string value = line.substr(colon + 1);
        value.erase(0, value.find_first_not_of(' '));
        request.headers.emplace_back(line.substr(0, colon), value);
    }
    const size_t length =
        request.hasHeader("Content-Length") ? std::stoul(request.header("Content-Length")) : 0;
    while (pending.size() < length) {
        if (!fill())
            return false;
    }
    request.body = pending.substr(0, length);
    pending.erase(0, length);
    return true;
}

}  // namespace

std::string RecordedRequest::header(const std::string& name) const {
    for (const auto& [fieldName, value] : headers) {
        if (lowercased(fieldName) == lowercased(name))
            return value;
    }
    return "";
}

bool RecordedRequest::hasHeader(const std::string& name) const {
    return std::any_of(headers.begin(), headers.end(), [&](const auto& field) {
        return lowercased(field.first) == lowercased(name);
    });
}

bool ServerConnection::write(const std::string& bytes) {
    size_t sent = 0;
    while (socket_ >= 0 && sent < bytes.size()) {
        ssize_t n = ::send(socket_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += static_cast<size_t>(n);
    }
    return socket_ >= 0;
}

void ServerConnection::close() {
    if (socket_ >= 0)
        ::shutdown(socket_, SHUT_RDWR);
    socket_ = -1;
}

void ServerConnection::stall() {
    char byte;
    while (socket_ >= 0 && ::recv(socket_, &byte, 1, 0) > 0) {
    }
    close();
}

LoopbackServer::LoopbackServer() {
    listener_ = listeningSocket(&port_);
    ::listen(listener_, 64);
    acceptThread_ = std::thread([this] { acceptLoop(); });
}

LoopbackServer::~LoopbackServer() {
    stopping_ = true;
    ::shutdown(listener_, SHUT_RDWR);
    acceptThread_.join();
    ::close(listener_);
    std::vector<std::thread> threads;
    {
        std::lock_guard lock(mutex_);
        for (int fd : openSockets_) ::shutdown(fd, SHUT_RDWR);
        threads.swap(connectionThreads_);
    }
    for (auto& thread : threads) thread.join();
}

std::string LoopbackServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void LoopbackServer::route(const std::string& path, Handler handler) {
    std::lock_guard lock(mutex_);
    routes_[path] = std::move(handler);
}

std::vector<RecordedRequest> LoopbackServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

bool LoopbackServer::waitForRequests(size_t count) const {
    std::unique_lock lock(mutex_);
    return requestArrived_.wait_for(lock, generousWait, [&] { return requests_.size() >= count; });
}

size_t LoopbackServer::acceptedConnections() const {
    std::lock_guard lock(mutex_);
    return accepted_;
}

std::string LoopbackServer::reply(int status,
                                  const std::vector<std::pair<std::string, std::string>>& headers,
                                  const std::string& body) {
    std::string text = "HTTP/1.1 " + std::to_string(status) + " Status\r\n";
    for (const auto& [name, value] : headers) text += name + ": " + value + "\r\n";
    text += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    return text;
}

void LoopbackServer::acceptLoop() {
    while (!stopping_) {
        int fd = ::accept(listener_, nullptr, nullptr);
        if (fd < 0)
            continue;
        if (stopping_) {
            ::close(fd);
            break;
        }
        std::lock_guard lock(mutex_);
        ++accepted_;
        openSockets_.push_back(fd);
        connectionThreads_.emplace_back([this, fd] { serve(fd); });
    }
}

void LoopbackServer::serve(int fd) {
    std::string pending;
    ServerConnection connection(fd);
    RecordedRequest request;
    while (connection.isOpen() && readRequest(fd, pending, request, stopping_)) {
        Handler handler;
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(request);
            const std::string path = request.target.substr(0, request.target.find('?'));
            if (auto route = routes_.find(path); route != routes_.end())
                handler = route->second;
        }
        requestArrived_.notify_all();
        if (handler) {
            handler(request, connection);
        } else {
            connection.write(reply(404, {}, "no route"));
        }
    }
    connection.close();
    std::lock_guard lock(mutex_);
    openSockets_.erase(std::remove(openSockets_.begin(), openSockets_.end(), fd),
                       openSockets_.end());
    ::close(fd);
}

int closedPort() {
    int port = 0;
    int fd = listeningSocket(&port);
    ::close(fd);
    return port;
}

}  // namespace pindle::platform::test
