#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace pindle::emulator {

struct UpgradeRequest;

// The backend's live notification channel: WebSocket connections at
// "/notification/videos/{appID}/?token=..." that receive video events as JSON text
// messages ({"event": "ready"|"modified"|"deleted", "id": ..., "data": {...}}). The
// channel only sends; what clients send is read and dropped. Tests push events with
// broadcast(), end connections cleanly with closeAll() or abruptly with dropAll(), and see
// which tokens the clients connected with.
// Thread-safety: every operation is safe from any thread. Connections run on the HTTP
// server's I/O threads.
class NotificationChannel {
  public:
    static constexpr const char* pathPrefix = "/notification/videos/";

    NotificationChannel() = default;
    NotificationChannel(const NotificationChannel&) = delete;
    NotificationChannel& operator=(const NotificationChannel&) = delete;

    // Takes over the connection of an upgrade request for this channel; false (the socket
    // left alone) when the path is not the channel's.
    bool accept(UpgradeRequest& upgrade);

    // Sends `event` to every open connection of `appID`.
    void broadcast(const std::string& appID, const nlohmann::json& event);
    // Sends a text message as given, also when it is not JSON.
    void broadcastText(const std::string& appID, const std::string& text);
    // Starts a closing handshake with `code` on every connection.
    void closeAll(std::uint16_t code = 1000);
    // Cuts every connection without a closing handshake.
    void dropAll();

    // Open connections, of one application or of all when `appID` is empty.
    std::size_t connectionCount(const std::string& appID = "") const;
    // Connections whose opening handshake completed, closed ones included.
    std::size_t openedCount() const { return opened_->load(); }
    // The token of every accepted connection, in the order they came.
    std::vector<std::string> tokens() const;

    class Session;

  private:
    std::vector<std::shared_ptr<Session>> liveSessions(const std::string& appID) const;

    mutable std::mutex mutex_;
    std::vector<std::weak_ptr<Session>> sessions_;  // guarded by mutex_
    std::vector<std::string> tokens_;               // guarded by mutex_
    std::shared_ptr<std::atomic<std::size_t>> opened_ =
        std::make_shared<std::atomic<std::size_t>>(0);
};

}  // namespace pindle::emulator
