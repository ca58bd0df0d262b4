#include "PindleCore/notifications/PNNotificationsManager.hpp"

#include "PindleCore/api/PNAPIConstants.hpp"
#include "PindleCore/api/PNSession.hpp"
#include "PindleCore/model/PNNotificationNames.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/foundation/CharacterSet.hpp"
#include "platform/foundation/Json.hpp"
#include "platform/foundation/NotificationCenter.hpp"
#include "platform/foundation/PercentEncoding.hpp"
#include "platform/foundation/Weakly.hpp"

namespace pindle {

PNNotificationsManager& PNNotificationsManager::sharedInstance() {
    // Held for the life of the process: sockets and timers refer to it weakly.
    static std::shared_ptr<PNNotificationsManager>* manager =
        new std::shared_ptr<PNNotificationsManager>(create());
    return **manager;
}

std::shared_ptr<PNNotificationsManager> PNNotificationsManager::create() {
    return std::make_shared<PNNotificationsManager>(Private{});
}

PNNotificationsManager::PNNotificationsManager(Private) {}

std::shared_ptr<WSWebSocket> PNNotificationsManager::session() const {
    std::lock_guard lock(mutex_);
    return session_;
}

bool PNNotificationsManager::requestedConnected() const {
    std::lock_guard lock(mutex_);
    return requestedConnected_;
}

int PNNotificationsManager::connectCount() const {
    std::lock_guard lock(mutex_);
    return connects_;
}

bool PNNotificationsManager::isCurrent(const WSWebSocket& socket) const {
    std::lock_guard lock(mutex_);
    return session_.get() == &socket;
}

void PNNotificationsManager::Connect() {
    const auto& current = PNSession::current();
    auto appID = current->appID();
    if (!appID)
        return;
    auto token = current->sessionToken();
    if (!token)
        token = current->apiToken();
    if (!token)
        return;
    // Both values come from outside (the host, the backend): escaped, neither can end the
    // path segment or the query value early, or add a parameter.
    const auto unreserved = platform::CharacterSet::alphanumerics().adding("-._~");
    auto url = platform::URL::fromString(
        PNAPIConstants::notificationsProtocol() + "://" + PNAPIConstants::gatewayHost() +
        channelPath + platform::PercentEncoding::encode(*appID, unreserved) +
        "/?token=" + platform::PercentEncoding::encode(*token, unreserved));
    if (!url || !url->host())
        return;

    auto socket = WSWebSocket::create(*url);
    socket->setDelegate(weak_from_this());
    std::shared_ptr<WSWebSocket> replaced;
    {
        std::lock_guard lock(mutex_);
        requestedConnected_ = true;
        replaced = std::move(session_);
        session_ = socket;
        ++connects_;
    }
    // One channel at a time: a socket left open would deliver every event twice.
    if (replaced) {
        replaced->setDelegate({});
        replaced->close();
    }
    socket->open();
}

void PNNotificationsManager::Disconnect() {
    std::shared_ptr<WSWebSocket> socket;
    {
        std::lock_guard lock(mutex_);
        requestedConnected_ = false;
        socket = std::move(session_);
    }
    if (socket)
        socket->close();
}

void PNNotificationsManager::processMessage(const platform::Dictionary& message) {
    auto field = [&](const char* key) -> const platform::Value* {
        auto found = message.find(key);
        return found == message.end() ? nullptr : &found->second;
    };
    const platform::Value* eventValue = field("event");
    const platform::Value* idValue = field("id");
    const std::string* event = eventValue ? eventValue->asString() : nullptr;
    const std::string* videoID = idValue ? idValue->asString() : nullptr;
    if (!event || !videoID)
        return;

    auto& center = platform::NotificationCenter::defaultCenter();
    if (*event == "ready") {
        const platform::Value* dataValue = field("data");
        const platform::Dictionary* data = dataValue ? dataValue->asDictionary() : nullptr;
        if (!data)
            return;
        auto mp4 = data->find("mp4Url");
        // One address, or a dictionary of addresses by rendition ("360p", "720p", ...), as
        // the backend's video records carry it; the video cache reads both.
        if (mp4 == data->end() || !(mp4->second.asString() || mp4->second.asDictionary()))
            return;
        platform::Dictionary object;
        object["videoID"] = *videoID;
        object["mp4Url"] = mp4->second;
        center.post(NotificationName::PNVideoCreated, platform::Value(std::move(object)));
    } else if (*event == "modified") {
        center.post(NotificationName::PNVideoUpdated, platform::Value(*videoID));
    } else if (*event == "deleted") {
        center.post(NotificationName::PNVideoDeleted, platform::Value(*videoID));
    }
}

bool PNNotificationsManager::implements(Method method) const {
    switch (method) {
        case Method::didReceiveMessageWithString:
        case Method::didReceiveMessageWithData:
        case Method::didOpen:
        case Method::didFailWithError:
        case Method::didCloseWithCode:
            return true;
        case Method::didReceiveMessage:
        case Method::didReceivePing:
        case Method::didReceivePong:
        case Method::shouldConvertTextFrameToString:
            return false;
    }
    return false;
}

void PNNotificationsManager::webSocketDidReceiveMessageWithString(WSWebSocket& socket,
                                                                  const std::string& text) {
    webSocketDidReceiveMessageWithData(socket, platform::Data(text.begin(), text.end()));
}

void PNNotificationsManager::webSocketDidReceiveMessageWithData(WSWebSocket& socket,
                                                                const platform::Data& data) {
    if (!isCurrent(socket))
        return;
    auto parsed = platform::Json::parse(data);
    if (!parsed)
        return;
    if (const auto* message = parsed->asDictionary())
        processMessage(*message);
}

void PNNotificationsManager::webSocketDidOpen(WSWebSocket&) {}

void PNNotificationsManager::webSocketDidFailWithError(WSWebSocket& socket,
                                                       const platform::Error&) {
    {
        std::lock_guard lock(mutex_);
        if (session_.get() != &socket)
            return;
        session_.reset();
        requestedConnected_ = false;
    }
    logger_.log("protocol_error");
}

void PNNotificationsManager::webSocketDidCloseWithCode(WSWebSocket& socket, int,
                                                       const std::optional<std::string>&, bool) {
    {
        std::lock_guard lock(mutex_);
        if (session_.get() != &socket)
            return;
        session_.reset();
    }
    tryToReconnect();
}

void PNNotificationsManager::tryToReconnect() {
    {
        std::lock_guard lock(mutex_);
        if (!requestedConnected_ || session_)
            return;
    }
    platform::DispatchQueue::global(platform::DispatchQoS::background)
        ->asyncAfter(reconnectDelay, platform::weakly(this, [](PNNotificationsManager& self) {
                         {
                             // Disconnect() or another Connect() may have come meanwhile.
                             std::lock_guard lock(self.mutex_);
                             if (!self.requestedConnected_ || self.session_)
                                 return;
                         }
                         self.Connect();
                     }));
}

}  // namespace pindle
