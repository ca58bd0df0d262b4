#include "PindleCore/notifications/PNNotificationsManager.hpp"

#include <gtest/gtest.h>

#include <atomic>

#include "../api/EmulatorFixture.hpp"
#include "PindleCore/model/PNNotificationNames.hpp"
#include "platform/dispatch/Clock.hpp"
#include "platform/dispatch/MainThread.hpp"
#include "platform/foundation/NotificationCenter.hpp"
#include "platform/net/URLSession.hpp"

namespace pindle {
namespace {

constexpr double pumpTimeout = 20;

struct Posted {
    std::string name;
    platform::Value object;
};

class PNNotificationsManagerTest : public testing::EmulatorFixture {
  protected:
    void SetUp() override {
        EmulatorFixture::SetUp();
        authorize();
        session()->setAppID(appID_);
        auto& center = platform::NotificationCenter::defaultCenter();
        for (const char* name : {NotificationName::PNVideoCreated, NotificationName::PNVideoUpdated,
                                 NotificationName::PNVideoDeleted}) {
            registrations_.push_back(center.addObserverForName(
                name, nullptr, nullptr, [this](const platform::Notification& n) {
                    EXPECT_TRUE(platform::MainThread::isMainThread());
                    EXPECT_TRUE(n.userInfo.empty());
                    std::lock_guard lock(mutex_);
                    posted_.push_back({n.name, n.object});
                }));
        }
        manager_ = PNNotificationsManager::create();
    }

    void TearDown() override {
        manager_->Disconnect();
        for (auto& registration : registrations_)
            platform::NotificationCenter::defaultCenter().removeObserver(registration);
        session()->setAppID(std::nullopt);
        platform::Clock::setCurrent(nullptr);
        EmulatorFixture::TearDown();
    }

    static const std::shared_ptr<PNSession>& session() { return PNSession::current(); }

    emulator::NotificationChannel& channel() { return emulator_.notifications(); }

    bool pumpUntil(const std::function<bool()>& condition) {
        return platform::MainThread::runUntil(condition, pumpTimeout);
    }

    // Connects and waits until the emulator holds the connection.
    void connect() {
        manager_->Connect();
        ASSERT_TRUE(pumpUntil([&] { return channel().connectionCount(appID_) == 1; }));
    }

    std::vector<Posted> posted() {
        std::lock_guard lock(mutex_);
        return posted_;
    }

    const std::string appID_ = emulator::BackendEmulator::defaultAppID;
    std::shared_ptr<PNNotificationsManager> manager_;
    std::vector<platform::NotificationCenter::RegistrationPtr> registrations_;
    std::mutex mutex_;
    std::vector<Posted> posted_;  // guarded by mutex_
};

TEST_F(PNNotificationsManagerTest, BackendEventsBecomeVideoNotifications) {
    connect();
    EXPECT_EQ(channel().tokens(), std::vector<std::string>{sessionToken_});

    // Malformed events first: the valid ones after them arrive in order, so once the last
    // has been posted every earlier message has been handled.
    for (const char* text : {
             R"({"event": "modified", "id": 5})",
             R"({"event": "ready", "id": "v1"})",
             R"({"event": "ready", "id": "v1", "data": "x"})",
             R"({"event": "ready", "id": "v1", "data": {"mp4Url": 7}})",
             R"({"event": "unknown", "id": "v1"})",
             R"({"id": "v1"})",
             R"(["modified", "v1"])",
             "not json",
         })
        channel().broadcastText(appID_, text);
    channel().broadcast(appID_, {{"event", "ready"},
                                 {"id", "v1"},
                                 {"data", {{"mp4Url", "https://cdn.test/v1.mp4"}, {"extra", 1}}}});
    channel().broadcast(appID_, {{"event", "modified"}, {"id", "v2"}});
    channel().broadcast(appID_, {{"event", "deleted"}, {"id", "v3"}});
    channel().broadcast("another-app", {{"event", "deleted"}, {"id", "elsewhere"}});
    channel().broadcast(appID_,
                        {{"event", "ready"},
                         {"id", "v4"},
                         {"data", {{"mp4Url", {{"360p", "https://cdn.test/v4-360.mp4"}}}}}});

    ASSERT_TRUE(pumpUntil([&] { return posted().size() >= 4; }));
    platform::MainThread::drain();
    auto events = posted();
    ASSERT_EQ(events.size(), 4u);
    platform::Dictionary renditions{{"360p", "https://cdn.test/v4-360.mp4"}};
    EXPECT_EQ(events[3].object,
              platform::Value(platform::Dictionary{{"videoID", "v4"}, {"mp4Url", renditions}}));
    EXPECT_EQ(events[0].name, NotificationName::PNVideoCreated);
    platform::Dictionary created{{"videoID", "v1"}, {"mp4Url", "https://cdn.test/v1.mp4"}};
    EXPECT_EQ(events[0].object, platform::Value(created));
    EXPECT_EQ(events[1].name, NotificationName::PNVideoUpdated);
    EXPECT_EQ(events[1].object, platform::Value("v2"));
    EXPECT_EQ(events[2].name, NotificationName::PNVideoDeleted);
    EXPECT_EQ(events[2].object, platform::Value("v3"));
}

TEST_F(PNNotificationsManagerTest, TheApplicationAndTokenReachTheChannelIntactWhateverTheyHold) {
    const std::string token = "a&token=forged b+c/d#e%";
    session()->setSessionToken(token);
    session()->setAppID("app one?x=1");
    manager_->Connect();
    ASSERT_TRUE(pumpUntil([&] { return channel().connectionCount("app one?x=1") == 1; }));
    EXPECT_EQ(channel().tokens(), std::vector<std::string>{token});
}

TEST_F(PNNotificationsManagerTest, ChangesThroughTheBackendArriveAsNotifications) {
    connect();
    const std::string id = emulator_.store().list({}).videos.front().id;
    const std::string base = emulator_.apiURL() + "/videos/" + id;
    auto send = [&](const char* method, const std::string& body) {
        auto request = platform::URLRequest(platform::URL::fromString(base));
        request.setHTTPMethod(method);
        request.setValue("Bearer " + sessionToken_, "Authorization");
        request.setValue("application/json", "Content-Type");
        request.setHTTPBody(platform::Data(body.begin(), body.end()));
        auto finished = std::make_shared<std::atomic<bool>>(false);
        platform::URLSession::shared()
            ->dataTask(request, [finished](auto, auto, auto) { finished->store(true); })
            ->resume();
        ASSERT_TRUE(pumpUntil([&] { return finished->load(); }));
    };
    send("PUT", R"({"title": "renamed"})");
    send("PUT", R"({"mp4": ["360p"]})");
    send("DELETE", "");

    ASSERT_TRUE(pumpUntil([&] { return posted().size() >= 3; }));
    auto events = posted();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].name, NotificationName::PNVideoUpdated);
    EXPECT_EQ(events[0].object, platform::Value(id));
    EXPECT_EQ(events[1].name, NotificationName::PNVideoCreated);
    const platform::Value* address = events[1].object.find("mp4Url");
    ASSERT_TRUE(address && address->asString());
    EXPECT_NE(address->asString()->find("/media/" + id + "/"), std::string::npos);
    EXPECT_EQ(events[2].name, NotificationName::PNVideoDeleted);
    EXPECT_EQ(events[2].object, platform::Value(id));
}

TEST_F(PNNotificationsManagerTest, ReconnectsThreeSecondsAfterACloseWithTheCurrentToken) {
    auto clock = std::make_shared<platform::VirtualClock>(platform::SystemClock().now());
    platform::Clock::setCurrent(clock);
    struct Case {
        const char* name;
        std::function<void(emulator::NotificationChannel&)> end;
    };
    const Case cases[] = {
        {"clean-close",
         [](auto& c) {
             c.closeAll(4000);
         }},
        {"dropped-connection",
         [](auto& c) {
             c.dropAll();
         }},
    };
    connect();
    std::size_t connections = 1;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string token = std::string("token-after-") + c.name;
        session()->setSessionToken(token);
        c.end(channel());
        ASSERT_TRUE(pumpUntil([&] { return manager_->session() == nullptr; }));
        EXPECT_TRUE(manager_->requestedConnected());

        // advance() returns once the delayed work it fired has run, and a reconnect counts
        // itself before it goes to the network.
        clock->advance(PNNotificationsManager::reconnectDelay - 0.5);
        EXPECT_EQ(manager_->connectCount(), static_cast<int>(connections));
        clock->advance(0.5);
        ++connections;
        EXPECT_EQ(manager_->connectCount(), static_cast<int>(connections));
        ASSERT_TRUE(pumpUntil([&] { return channel().tokens().size() == connections; }));
        EXPECT_EQ(channel().tokens().back(), token);
        ASSERT_TRUE(pumpUntil([&] {
            return channel().openedCount() == connections && channel().connectionCount(appID_) == 1;
        }));
    }
    channel().broadcast(appID_, {{"event", "deleted"}, {"id", "after-reconnect"}});
    ASSERT_TRUE(pumpUntil([&] { return !posted().empty(); }));
    EXPECT_EQ(posted().front().object, platform::Value("after-reconnect"));
}

TEST_F(PNNotificationsManagerTest, DisconnectEndsTheChannelForGood) {
    auto clock = std::make_shared<platform::VirtualClock>(platform::SystemClock().now());
    platform::Clock::setCurrent(clock);
    connect();
    std::weak_ptr<WSWebSocket> socket = manager_->session();
    manager_->Disconnect();
    EXPECT_FALSE(manager_->requestedConnected());
    EXPECT_EQ(manager_->session(), nullptr);
    // The socket lives until its close report has reached the manager on the main queue, so
    // once it is gone any reconnect that report asked for is scheduled; advance() runs it.
    ASSERT_TRUE(pumpUntil([&] { return socket.expired(); }));
    clock->advance(PNNotificationsManager::reconnectDelay * 3);
    EXPECT_EQ(manager_->connectCount(), 1);
    EXPECT_EQ(manager_->session(), nullptr);
}

TEST_F(PNNotificationsManagerTest, ASecondConnectReplacesTheFirstChannel) {
    connect();
    manager_->Connect();
    // The second channel is open and the first one closed.
    ASSERT_TRUE(pumpUntil(
        [&] { return channel().openedCount() == 2 && channel().connectionCount(appID_) == 1; }));
    channel().broadcast(appID_, {{"event", "modified"}, {"id", "once"}});
    ASSERT_TRUE(pumpUntil([&] { return !posted().empty(); }));
    // A later event proves the first one was not posted twice.
    channel().broadcast(appID_, {{"event", "modified"}, {"id", "twice?"}});
    ASSERT_TRUE(pumpUntil([&] { return posted().size() >= 2; }));
    platform::MainThread::drain();
    ASSERT_EQ(posted().size(), 2u);
    EXPECT_EQ(posted()[1].object, platform::Value("twice?"));
}

TEST_F(PNNotificationsManagerTest, ConnectNeedsAnApplicationAndAToken) {
    session()->setAppID(std::nullopt);
    manager_->Connect();
    EXPECT_EQ(manager_->session(), nullptr);
    EXPECT_FALSE(manager_->requestedConnected());

    session()->setAppID(appID_);
    session()->setSessionToken(std::nullopt);
    session()->setApiToken(std::nullopt);
    manager_->Connect();
    EXPECT_EQ(manager_->session(), nullptr);

    session()->setApiToken("api-token");
    manager_->Connect();
    ASSERT_TRUE(pumpUntil([&] { return channel().tokens().size() == 1; }));
    EXPECT_EQ(channel().tokens().front(), "api-token");
}

TEST_F(PNNotificationsManagerTest, AFailureEndsTheChannelUntilTheNextConnect) {
    emulator_.stop();
    manager_->Connect();
    EXPECT_TRUE(manager_->requestedConnected());
    ASSERT_TRUE(pumpUntil([&] { return !manager_->requestedConnected(); }));
    EXPECT_EQ(manager_->session(), nullptr);
}

}  // namespace
}  // namespace pindle
