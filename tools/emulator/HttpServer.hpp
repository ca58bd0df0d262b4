#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "tools/emulator/Fault.hpp"
#include "tools/emulator/MediaLibrary.hpp"
#include "tools/emulator/Request.hpp"
#include "tools/emulator/RequestLog.hpp"
#include "tools/emulator/Response.hpp"
#include "tools/emulator/Router.hpp"
#include "tools/emulator/Script.hpp"

namespace pindle::emulator {

struct UpgradeRequest;

// An HTTP/1.1 server on the loopback interface with keep-alive, routes, media with byte
// ranges, scripted replies and faults, and a log of every request. A request is answered
// by, in this order: a scripted reply for its method and path, a route, a media file, and
// otherwise a JSON 404. A scripted fault for the path then decides how the reply is
// delivered (late, cut short, stalled, or not at all).
// Thread-safety: every operation is safe from any thread. The server runs its own I/O
// threads; route handlers and media providers are called on them, several at once.
class HttpServer {
  public:
    // Bytes a request body may hold; large enough for resumable upload ranges.
    static constexpr std::size_t maxBodyBytes = 256 * 1024 * 1024;
    static constexpr int ioThreadCount = 2;

    // What the server decided for one request (see handle()).
    struct Exchange {
        Response response;
        std::optional<Fault> fault;
    };

    HttpServer();
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Listens on 127.0.0.1 at port, or at a free port when port is 0, and starts the I/O
    // threads. Returns false, with the reason in error when given, if the port cannot be
    // bound or the server already runs.
    bool start(std::uint16_t port = 0, std::string* error = nullptr);
    // Closes the listening socket and every connection and joins the I/O threads. Stalled
    // and delayed replies are abandoned. Does nothing when the server is not running.
    // REQUIRES: not called from a route handler or media provider (it would join its own
    // thread).
    void stop();
    bool isRunning() const;

    // The bound port; 0 when not running.
    std::uint16_t port() const { return port_.load(); }
    // "http://127.0.0.1:<port>", without a trailing slash.
    std::string baseURL() const;

    Router& router() { return router_; }
    MediaLibrary& media() { return media_; }
    Script& script() { return script_; }
    RequestLog& requestLog() { return requestLog_; }
    const RequestLog& requestLog() const { return requestLog_; }

    // Shorthands for the script.
    void addReply(std::string method, std::string path, Response response,
                  std::optional<int> uses = std::nullopt);
    void addJSONReply(std::string method, std::string path, unsigned status,
                      const nlohmann::json& body, Headers headers = {},
                      std::optional<int> uses = std::nullopt);
    void addFault(std::string path, Fault fault);
    // While set, every reply waits for `gate` to open, as if each request's fault were held by
    // it (a fault's own gate comes first). nullptr lets later replies go at once again.
    void holdReplies(std::shared_ptr<FaultGate> gate);

    // While set, every new connection is closed right after it is accepted.
    void setRefuseConnections(bool refuse) { refuseConnections_.store(refuse); }
    bool refusesConnections() const { return refuseConnections_.load(); }

    // Takes over the connection of a WebSocket upgrade request (tools/emulator/UpgradeRequest.hpp);
    // returns false to leave it to the ordinary handling. Called on the I/O threads.
    using UpgradeHandler = std::function<bool(UpgradeRequest& upgrade)>;
    void setUpgradeHandler(UpgradeHandler handler);
    // Offers an upgrade request to the upgrade handler; true when it took the connection.
    bool offerUpgrade(UpgradeRequest& upgrade);

    // Records the request and decides its reply and fault. Called by connections on the
    // I/O threads; the route handler, if any, runs inside.
    Exchange handle(const Request& request);

  private:
    struct Runtime;

    void acceptNext(Runtime& runtime);
    std::shared_ptr<FaultGate> heldReplyGate() const;

    Router router_;
    MediaLibrary media_;
    Script script_;
    RequestLog requestLog_;
    std::atomic<std::uint16_t> port_{0};
    std::atomic<bool> refuseConnections_{false};

    mutable std::mutex mutex_;
    std::unique_ptr<Runtime> runtime_;  // guarded by mutex_ (start and stop)
    UpgradeHandler upgradeHandler_;     // guarded by mutex_

    mutable std::mutex heldRepliesMutex_;
    std::shared_ptr<FaultGate> heldReplies_;  // guarded by heldRepliesMutex_
};

}  // namespace pindle::emulator
