#include "PindleCore/api/PNSession.hpp"

#include <gtest/gtest.h>

#include <thread>

#include "EmulatorFixture.hpp"
#include "PindleCore/api/PNAuthToken.hpp"
#include "PindleCore/caches/PNLocalVideoCache.hpp"
#include "PindleCore/legacy/PSystem.hpp"
#include "PindleCore/model/PNError.hpp"
#include "PindleCore/model/PNNotificationNames.hpp"
#include "PindleCore/notifications/PNNotificationsManager.hpp"
#include "platform/dispatch/MainThread.hpp"
#include "platform/foundation/NotificationCenter.hpp"
#include "platform/foundation/StandardOutput.hpp"
#include "tests/support/FreshProcess.hpp"

namespace pindle {
namespace {

using platform::Dictionary;
using platform::Error;
using testing::Outcome;

struct Post {
    PNSessionState state;
    Dictionary sessionData;
};

struct Started {
    PNSessionState state;
    Dictionary reply;
    std::optional<Error> error;
};

class PNSessionTest : public testing::EmulatorFixture {
  protected:
    void SetUp() override {
        EmulatorFixture::SetUp();
        session_->stop();
        session_->setSessionToken(std::nullopt);
        session_->setApiToken(std::nullopt);
        session_->setAppID(std::nullopt);
        session_->setSecureModeEnabled(true);
        registration_ = platform::NotificationCenter::defaultCenter().addObserverForName(
            NotificationName::PNAccountStateChanged, nullptr, nullptr,
            [this](const platform::Notification& n) {
                EXPECT_TRUE(n.object.isNull());
                const Dictionary* data = n.userInfo.at("sessionData").asDictionary();
                std::lock_guard lock(mutex_);
                posts_.push_back({session_->state(), data ? *data : Dictionary{}});
            });
    }
    void TearDown() override {
        platform::NotificationCenter::defaultCenter().removeObserver(registration_);
        EmulatorFixture::TearDown();
    }

    std::vector<Post> posts() {
        std::lock_guard lock(mutex_);
        return posts_;
    }

    Started startWith(const std::string& apiToken, const std::string& identity) {
        Outcome<Started> outcome;
        session_->start(
            apiToken, identity,
            [&](PNSessionState state, const Dictionary& reply, const std::optional<Error>& error) {
                outcome.set({state, reply, error});
            });
        Started result = outcome.wait();
        EXPECT_EQ(outcome.calls(), 1);
        return result;
    }

    const std::shared_ptr<PNSession>& session_ = PNSession::current();
    platform::NotificationCenter::RegistrationPtr registration_;
    std::mutex mutex_;
    std::vector<Post> posts_;  // guarded by mutex_
};

TEST_F(PNSessionTest, StartFromAnAPITokenPostsStartingThenStartedWithTheReply) {
    Started started = startWith(emulator::BackendEmulator::defaultAPIToken, "alice");
    EXPECT_EQ(started.state, PNSessionState::started);
    EXPECT_FALSE(started.error);
    ASSERT_TRUE(started.reply.count("sessionToken"));

    auto all = posts();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].state, PNSessionState::starting);
    EXPECT_EQ(all[1].state, PNSessionState::started);
    EXPECT_EQ(all[1].sessionData, started.reply);

    EXPECT_TRUE(session_->secureModeEnabled());
    EXPECT_EQ(session_->appID(), emulator::BackendEmulator::defaultAppID);
    EXPECT_EQ(session_->identity(), "alice");
    EXPECT_EQ(session_->apiToken(), emulator::BackendEmulator::defaultAPIToken);
    EXPECT_EQ(PNAuthToken::authHeader(), "Bearer " + *started.reply.at("sessionToken").asString());
    EXPECT_TRUE(session_->createdAt());
    EXPECT_TRUE(session_->expiresAt());

    // The request itself: the API token authorizes, the identity travels in the body.
    auto requests = emulator_.server().requestLog().requestsFor("POST", "/v1/sessions");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].header("Authorization"),
              std::string("Bearer ") + emulator::BackendEmulator::defaultAPIToken);
    EXPECT_EQ(requests[0].body, R"({"identity":"alice"})");
}

TEST_F(PNSessionTest, AFailedStartPostsStartingThenFailedAndPrintsTheError) {
    platform::StandardOutput::Capture output;
    Started started = startWith("wrong-token", "alice");
    EXPECT_EQ(started.state, PNSessionState::failed);
    ASSERT_TRUE(started.error);
    EXPECT_EQ(started.error->userInfo().at("statusCode"), platform::Value(401));
    EXPECT_TRUE(started.reply.empty());
    auto all = posts();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[1].state, PNSessionState::failed);
    EXPECT_TRUE(all[1].sessionData.empty());
    ASSERT_GE(output.lines().size(), 3u);
    EXPECT_EQ(output.lines()[0], "Pindle Session error encountered:");
}

TEST_F(PNSessionTest, AReplyWithoutASessionTokenFailsTheStart) {
    emulator_.server().addJSONReply("POST", "/v1/sessions", 200, {{"id", "app"}}, {}, 1);
    Started started = startWith("any", "alice");
    EXPECT_EQ(started.state, PNSessionState::failed);
    EXPECT_TRUE(started.error);
    EXPECT_EQ(session_->state(), PNSessionState::failed);

    emulator_.server().addReply("POST", "/v1/sessions", emulator::Response::text(200, "<html/>"),
                                1);
    started = startWith("any", "alice");
    EXPECT_EQ(started.state, PNSessionState::failed);
    ASSERT_TRUE(started.error);
    EXPECT_EQ(PNError::fromPlatformError(*started.error), PNError(PNError::unknown));
}

TEST_F(PNSessionTest, CreationStartsTheLegacyPartAndResetsTheLocalCacheOnce) {
    // Counted in a process of its own: in this one, earlier tests (or an earlier pass of a
    // repeated run) have reset the local cache too.
    testing::inFreshProcess([this] {
        EXPECT_EQ(PNSession::current(), session_);
        EXPECT_EQ(legacy::PSystem::launchCount(), 1);
        EXPECT_EQ(PNLocalVideoCache::shared().resetCount(), 1);
    });
}

TEST_F(PNSessionTest, TheStartRoutineOpensTheLiveNotificationsOnlyWhenTheBackendAnswers) {
    startWith(emulator::BackendEmulator::defaultAPIToken, "alice");
    auto& notifications = PNNotificationsManager::sharedInstance();
    const int connects = notifications.connectCount();
    const auto routine = [&] {
        Outcome<PNSessionState> outcome;
        session_->startSessionRoutine(
            [&](PNSessionState state, const std::optional<Error>&) { outcome.set(state); });
        return outcome.wait();
    };

    emulator_.server().addJSONReply("GET", "/v1/videos", 500, {{"error", "boom"}}, {}, 1);
    EXPECT_EQ(routine(), PNSessionState::failed);
    EXPECT_EQ(notifications.connectCount(), connects);

    EXPECT_EQ(routine(), PNSessionState::started);
    EXPECT_EQ(notifications.connectCount(), connects + 1);
    EXPECT_TRUE(notifications.requestedConnected());
    notifications.Disconnect();
}

TEST_F(PNSessionTest, SessionTokenStopAndRepeatedStates) {
    session_->start(std::string("held-token"));
    EXPECT_EQ(session_->state(), PNSessionState::started);
    EXPECT_EQ(PNAuthToken::authHeader(), "Bearer held-token");
    session_->start(std::string("held-token"));  // the same state again still posts

    const int resets = legacy::PSystem::resetCount();
    session_->stop();
    session_->stop();  // already stopped: nothing
    EXPECT_EQ(legacy::PSystem::resetCount(), resets + 1);

    auto all = posts();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].state, PNSessionState::started);
    EXPECT_EQ(all[1].state, PNSessionState::started);
    EXPECT_EQ(all[2].state, PNSessionState::stopped);
    EXPECT_EQ(requestsBesidesAProbe(), 0u);
}

TEST_F(PNSessionTest, BadCredentialsInvalidateOnTheMainQueue) {
    session_->start(std::string("held-token"));
    std::thread poster(
        [] { platform::NotificationCenter::defaultCenter().post("BADCREDENTIALS"); });
    poster.join();
    EXPECT_EQ(session_->state(), PNSessionState::started);  // not yet: it runs on the main queue
    platform::MainThread::drain();
    EXPECT_EQ(session_->state(), PNSessionState::failed);
    ASSERT_TRUE(session_->error());
    EXPECT_EQ(PNError::fromPlatformError(*session_->error()),
              PNError(PNError::authenticationFailed));
    session_->stop();
    EXPECT_FALSE(session_->error());
}

TEST_F(PNSessionTest, ALateReplyAfterStopChangesNothing) {
    auto gate = std::make_shared<emulator::FaultGate>();
    emulator_.server().addFault("/v1/sessions", emulator::Fault::heldBy(gate));
    Outcome<Started> outcome;
    session_->start(
        emulator::BackendEmulator::defaultAPIToken, "alice",
        [&](PNSessionState state, const Dictionary& reply, const std::optional<Error>& error) {
            outcome.set({state, reply, error});
        });
    ASSERT_TRUE(gate->waitForArrivals(1));
    session_->stop();
    gate->open();
    const Started& late = outcome.wait();
    EXPECT_EQ(late.state, PNSessionState::stopped);
    EXPECT_EQ(session_->state(), PNSessionState::stopped);
    EXPECT_EQ(session_->sessionToken(), std::nullopt);
    exchangeAProbe();  // the superseded reply has been handled by now
    EXPECT_EQ(outcome.calls(), 1);
    auto all = posts();
    ASSERT_EQ(all.size(), 2u);  // starting, stopped; the reply posts nothing
    EXPECT_EQ(all[1].state, PNSessionState::stopped);
}

TEST_F(PNSessionTest, StartSessionCompletesOnceInEveryState) {
    // Without the token-mode invariant or an application identifier: at once, with an error.
    Outcome<std::pair<PNSessionState, std::optional<Error>>> broken;
    session_->startSession([&](PNSessionState state, const std::optional<Error>& error) {
        broken.set({state, error});
    });
    EXPECT_EQ(broken.calls(), 1);
    EXPECT_EQ(broken.wait().first, PNSessionState::stopped);
    ASSERT_TRUE(broken.wait().second);
    EXPECT_EQ(PNError::fromPlatformError(*broken.wait().second),
              PNError(PNError::sessionNotStarted));

    // Starting or started, as a host calls it on resume: at once, with the state and no
    // error, starting nothing; during a first start no application identifier is held yet,
    // and after it both tokens are.
    auto gate = std::make_shared<emulator::FaultGate>();
    emulator_.server().addFault("/v1/sessions", emulator::Fault::heldBy(gate).times(1));
    Outcome<Started> first;
    session_->start(
        emulator::BackendEmulator::defaultAPIToken, "alice",
        [&](PNSessionState state, const Dictionary& reply, const std::optional<Error>& error) {
            first.set({state, reply, error});
        });
    // The start's request is in the log before it is counted, and its reply waits for us.
    const bool arrived = gate->waitForArrivals(1);
    if (!arrived)
        gate->open();
    ASSERT_TRUE(arrived);
    for (PNSessionState expected : {PNSessionState::starting, PNSessionState::started}) {
        if (expected == PNSessionState::started) {
            gate->open();
            ASSERT_EQ(first.wait().state, PNSessionState::started);
            ASSERT_TRUE(session_->apiToken() && session_->sessionToken());
        }
        const auto requests = emulator_.server().requestLog().count();
        Outcome<std::pair<PNSessionState, std::optional<Error>>> running;
        session_->startSession([&](PNSessionState state, const std::optional<Error>& error) {
            running.set({state, error});
        });
        EXPECT_EQ(running.calls(), 1);
        EXPECT_EQ(running.wait().first, expected);
        EXPECT_FALSE(running.wait().second);
        EXPECT_EQ(emulator_.server().requestLog().count(), requests);
    }

    // Stopped in API-token mode: a new start, whose outcome the completion reports.
    session_->stop();
    session_->setSecureModeEnabled(false);
    session_->setSessionToken(std::nullopt);
    session_->setApiToken(std::string(emulator::BackendEmulator::defaultAPIToken));
    Outcome<std::pair<PNSessionState, std::optional<Error>>> restarted;
    session_->startSession([&](PNSessionState state, const std::optional<Error>& error) {
        restarted.set({state, error});
    });
    EXPECT_EQ(restarted.wait().first, PNSessionState::started);
    EXPECT_FALSE(restarted.wait().second);
    EXPECT_EQ(restarted.calls(), 1);
}

TEST_F(PNSessionTest, AStopIsNeverOvertakenByTheReplyItSuperseded) {
    // The stop lands at a different moment of the reply's handling each round; whenever it
    // lands, the session ends stopped and the last announcement says so.
    constexpr int rounds = 400;
    for (int round = 0; round < rounds; ++round) {
        const auto before = emulator_.server().requestLog().count();
        Outcome<Started> outcome;
        session_->start(
            emulator::BackendEmulator::defaultAPIToken, "alice",
            [&](PNSessionState state, const Dictionary& reply, const std::optional<Error>& error) {
                outcome.set({state, reply, error});
            });
        ASSERT_TRUE(
            emulator_.server().requestLog().waitForCount(before + 1, std::chrono::seconds(10)));
        // Scans the reply's handling a microsecond at a time.
        const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(round);
        while (std::chrono::steady_clock::now() < until) {
        }
        session_->stop();
        outcome.wait();
        ASSERT_EQ(outcome.calls(), 1);
        ASSERT_EQ(session_->state(), PNSessionState::stopped) << "round " << round;
        ASSERT_EQ(posts().back().state, PNSessionState::stopped) << "round " << round;
    }
}

}  // namespace
}  // namespace pindle
