#include "tools/emulator/NotificationChannel.hpp"

#include <atomic>
#include <boost/asio/post.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/websocket.hpp>
#include <deque>

#include "tools/emulator/QueryString.hpp"
#include "tools/emulator/Router.hpp"
#include "tools/emulator/UpgradeRequest.hpp"

namespace pindle::emulator {

namespace net = boost::asio;
namespace websocket = boost::beast::websocket;

class NotificationChannel::Session : public std::enable_shared_from_this<Session> {
  public:
    Session(net::ip::tcp::socket socket, std::string appID,
            std::shared_ptr<std::atomic<std::size_t>> opened)
        : stream_(std::move(socket)), appID_(std::move(appID)), opened_(std::move(opened)) {}

    const std::string& appID() const { return appID_; }
    bool isOpen() const { return open_.load(); }

    void start(boost::beast::http::request<boost::beast::http::string_body> request) {
        auto self = shared_from_this();
        auto held = std::make_shared<decltype(request)>(std::move(request));
        stream_.async_accept(*held, [self, held](boost::system::error_code error) {
            if (error)
                return;
            self->open_ = true;
            ++*self->opened_;
            self->read();
        });
    }

    void send(std::string text) {
        net::post(stream_.get_executor(), [self = shared_from_this(), text = std::move(text)] {
            self->outbox_.push_back(text);
            if (self->outbox_.size() == 1)
                self->writeNext();
        });
    }

    void close(std::uint16_t code) {
        net::post(stream_.get_executor(), [self = shared_from_this(), code] {
            if (!self->open_)
                return;
            // A closing connection takes no more events.
            self->open_ = false;
            self->stream_.async_close(websocket::close_reason(code),
                                      [self](boost::system::error_code) {});
        });
    }

    void drop() {
        net::post(stream_.get_executor(), [self = shared_from_this()] {
            self->open_ = false;
            boost::system::error_code ignored;
            self->stream_.next_layer().shutdown(net::ip::tcp::socket::shutdown_both, ignored);
            self->stream_.next_layer().close(ignored);
        });
    }

  private:
    void read() {
        stream_.async_read(
            buffer_, [self = shared_from_this()](boost::system::error_code error, std::size_t) {
                if (error) {
                    self->open_ = false;
                    return;
                }
                self->buffer_.clear();
                self->read();
            });
    }

    void writeNext() {
        if (!open_) {
            outbox_.clear();
            return;
        }
        stream_.text(true);
        stream_.async_write(
            net::buffer(outbox_.front()),
            [self = shared_from_this()](boost::system::error_code error, std::size_t) {
                self->outbox_.pop_front();
                if (error) {
                    self->outbox_.clear();
                    return;
                }
                if (!self->outbox_.empty())
                    self->writeNext();
            });
    }

    websocket::stream<net::ip::tcp::socket> stream_;
    const std::string appID_;
    boost::beast::flat_buffer buffer_;
    std::deque<std::string> outbox_;  // on the socket's strand only
    std::atomic<bool> open_{false};
    std::shared_ptr<std::atomic<std::size_t>> opened_;
};

bool NotificationChannel::accept(UpgradeRequest& upgrade) {
    auto& request = upgrade.request;
    std::string target(request.target());
    std::string path = target.substr(0, target.find('?'));
    std::string prefix = pathPrefix;
    if (path.compare(0, prefix.size(), prefix) != 0)
        return false;
    std::string appID = path.substr(prefix.size());
    if (!appID.empty() && appID.back() == '/')
        appID.pop_back();
    if (appID.empty() || appID.find('/') != std::string::npos)
        return false;
    appID = Router::percentDecode(appID);
    std::string token;
    if (auto query = target.find('?'); query != std::string::npos) {
        token = QueryString(target.substr(query + 1)).get("token").value_or("");
    }
    auto session = std::make_shared<Session>(std::move(upgrade.socket), appID, opened_);
    {
        std::lock_guard lock(mutex_);
        sessions_.push_back(session);
        tokens_.push_back(token);
    }
    session->start(std::move(request));
    return true;
}

std::vector<std::shared_ptr<NotificationChannel::Session>> NotificationChannel::liveSessions(
    const std::string& appID) const {
    std::vector<std::shared_ptr<Session>> result;
    std::lock_guard lock(mutex_);
    for (const auto& weak : sessions_) {
        auto session = weak.lock();
        if (session && session->isOpen() && (appID.empty() || session->appID() == appID))
            result.push_back(std::move(session));
    }
    return result;
}

void NotificationChannel::broadcast(const std::string& appID, const nlohmann::json& event) {
    broadcastText(appID, event.dump());
}

void NotificationChannel::broadcastText(const std::string& appID, const std::string& text) {
    for (auto& session : liveSessions(appID)) session->send(text);
}

void NotificationChannel::closeAll(std::uint16_t code) {
    for (auto& session : liveSessions("")) session->close(code);
}

void NotificationChannel::dropAll() {
    for (auto& session : liveSessions("")) session->drop();
}

std::size_t NotificationChannel::connectionCount(const std::string& appID) const {
    return liveSessions(appID).size();
}

std::vector<std::string> NotificationChannel::tokens() const {
    std::lock_guard lock(mutex_);
    return tokens_;
}

}  // namespace pindle::emulator
