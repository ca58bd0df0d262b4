// LoopbackServer: a tiny raw-socket HTTP/1.1 server on 127.0.0.1 for the URL-session tests.
//
// It records every request head byte for byte, so tests can check exactly what went on the
// wire, and lets each route write whatever bytes it likes: well-formed replies, replies cut
// short, or nothing at all. Connections are kept alive between requests.
//
// Thread-safety: routes may be added before requests arrive; everything else may be called
// from any thread. Route handlers run on the connection's own thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace pindle::platform::test {

struct RecordedRequest {
    std::string head;  // request line and header lines, as received
    std::string method;
    std::string target;
    std::vector<std::pair<std::string, std::string>> headers;  // as received, in order
    std::string body;

    // The first header named `name` (exact case-insensitive match), or "".
    std::string header(const std::string& name) const;
    bool hasHeader(const std::string& name) const;
};

class ServerConnection {
  public:
    explicit ServerConnection(int socket) : socket_(socket) {}
    bool write(const std::string& bytes);
    // Closes the connection at once.
    void close();
    // Keeps the connection open, sending nothing, until the client goes away or the server
    // stops.
    void stall();
    bool isOpen() const { return socket_ >= 0; }
    int socket() const { return socket_; }

  private:
    int socket_;
};

class LoopbackServer {
  public:
    using Handler = std::function<void(const RecordedRequest&, ServerConnection&)>;

    LoopbackServer();
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    int port() const { return port_; }
    // "http://127.0.0.1:<port><path>"
    std::string url(const std::string& path) const;

    void route(const std::string& path, Handler handler);

    std::vector<RecordedRequest> requests() const;
    // Waits (generously) until `count` requests have arrived; false on time-out.
    bool waitForRequests(size_t count) const;
    // How many connections the server has accepted so far.
    size_t acceptedConnections() const;

    // A complete reply with a Content-Length.
    static std::string reply(int status,
                             const std::vector<std::pair<std::string, std::string>>& headers,
                             const std::string& body);

  private:
    void acceptLoop();
    void serve(int socket);

    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread acceptThread_;

    mutable std::mutex mutex_;
    mutable std::condition_variable requestArrived_;
    std::map<std::string, Handler> routes_;       // guarded by mutex_
    std::vector<RecordedRequest> requests_;       // guarded by mutex_
    std::vector<std::thread> connectionThreads_;  // guarded by mutex_
    std::vector<int> openSockets_;                // guarded by mutex_
    size_t accepted_ = 0;                         // guarded by mutex_
};

// A local port on which nothing listens: connecting to it is refused.
int closedPort();

}  // namespace pindle::platform::test
