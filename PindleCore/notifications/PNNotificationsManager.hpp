// PNNotificationsManager: keeps one WebSocket to the backend's notification channel for
// video events and posts each event on the default notification center: "ready" as
// PNVideoCreated (object {"videoID", "mp4Url"}, the address as the event carries it: one
// string, or a dictionary by rendition), "modified" as PNVideoUpdated and
// "deleted" as PNVideoDeleted (object: the identifier text). It only receives.
//
// Connect() is called by the session once it has started; it builds the address from the
// current session's application identifier and token (the session token, else the API
// token), both percent-escaped, and does nothing without them. A close by either side is followed
// by a new Connect() after reconnectDelay seconds, with the address built afresh, for as long as
// the connection is wanted; a failure (refused connection, handshake or proxy error,
// time-out, untrusted certificate) ends it until the next Connect(). Disconnect() ends it.
//
// Thread-safety: every operation may be called from any thread; one lock guards the
// socket and the wanted flag and is never held while calling out. Socket callbacks, event
// parsing and posting run on the main queue; a reconnection's Connect() runs on the
// background global queue.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "PindleCore/model/PNLogger.hpp"
#include "PindleCore/websocket/WSWebSocket.hpp"
#include "PindleCore/websocket/WSWebSocketDelegate.hpp"
#include "platform/foundation/Value.hpp"

namespace pindle {

class PNNotificationsManager : public WSWebSocketDelegate,
                               public std::enable_shared_from_this<PNNotificationsManager> {
  public:
    static constexpr double reconnectDelay = 3.0;
    static constexpr const char* channelPath = "/notification/videos/";

    static PNNotificationsManager& sharedInstance();

    // A manager of its own, for tests; the SDK uses sharedInstance().
    static std::shared_ptr<PNNotificationsManager> create();

    PNNotificationsManager(const PNNotificationsManager&) = delete;
    PNNotificationsManager& operator=(const PNNotificationsManager&) = delete;

    void Connect();
    void Disconnect();

    std::shared_ptr<WSWebSocket> session() const;
    bool requestedConnected() const;
    // Connect() calls that built a socket.
    int connectCount() const;

    // Turns one event into a notification (see above).
    void processMessage(const platform::Dictionary& message);

    // The five socket callbacks below; the manager implements no other.
    bool implements(Method method) const override;
    void webSocketDidReceiveMessageWithString(WSWebSocket& socket,
                                              const std::string& text) override;
    void webSocketDidReceiveMessageWithData(WSWebSocket& socket,
                                            const platform::Data& data) override;
    void webSocketDidOpen(WSWebSocket& socket) override;
    void webSocketDidFailWithError(WSWebSocket& socket, const platform::Error& error) override;
    void webSocketDidCloseWithCode(WSWebSocket& socket, int code,
                                   const std::optional<std::string>& reason,
                                   bool wasClean) override;

  private:
    struct Private {
        explicit Private() = default;
    };

  public:
    explicit PNNotificationsManager(Private);

  private:
    void tryToReconnect();
    // Whether `socket` is the one the manager holds now (a replaced socket's late reports
    // are ignored).
    bool isCurrent(const WSWebSocket& socket) const;

    PNLogger logger_{PNLoggerType::NTFS};
    mutable std::mutex mutex_;
    std::shared_ptr<WSWebSocket> session_;  // guarded by mutex_
    bool requestedConnected_ = false;       // guarded by mutex_
    int connects_ = 0;                      // guarded by mutex_
};

}  // namespace pindle
