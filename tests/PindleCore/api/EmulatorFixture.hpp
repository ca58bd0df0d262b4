// A test fixture that runs the backend emulator on loopback and points the SDK at it, with a
// small helper to wait for completions that arrive on other threads.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "PindleCore/api/PNAPIConstants.hpp"
#include "PindleCore/api/PNSession.hpp"
#include "platform/net/URLSession.hpp"
#include "tools/emulator/BackendEmulator.hpp"

namespace pindle::testing {

// Collects the one value a completion delivers, from whatever thread it runs on.
template <class T>
class Outcome {
  public:
    void set(T value) {
        std::lock_guard lock(mutex_);
        ++calls_;
        value_ = std::move(value);
        thread_ = std::this_thread::get_id();
        changed_.notify_all();
    }
    // Waits until set() has run; fails the test after `timeout`.
    const T& wait(std::chrono::seconds timeout = std::chrono::seconds(20)) {
        std::unique_lock lock(mutex_);
        if (!changed_.wait_for(lock, timeout, [&] { return value_.has_value(); })) {
            ADD_FAILURE() << "completion never ran";
            static T none{};
            return none;
        }
        return *value_;
    }
    int calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    std::thread::id thread() const {
        std::lock_guard lock(mutex_);
        return thread_;
    }

  private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<T> value_;  // guarded by mutex_
    int calls_ = 0;           // guarded by mutex_
    std::thread::id thread_;  // guarded by mutex_
};

// Polls `condition` until it holds or `timeout` passes: for effects that follow a completion
// on its own thread.
inline bool eventually(const std::function<bool()>& condition,
                       std::chrono::seconds timeout = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::yield();
    }
    return true;
}

class EmulatorFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(emulator_.start(&error)) << error;
        PNAPIConstants::setGateway("127.0.0.1:" + std::to_string(emulator_.port()), false);
    }

    void TearDown() override {
        emulator_.stop();
        PNAPIConstants::setGateway(PNAPIConstants::defaultGatewayHost, true);
    }

    // Gives the session a token the emulator accepts, without a request.
    void authorize(const std::string& identity = "tester") {
        sessionToken_ = emulator_.openSession(identity);
        const auto& session = PNSession::current();
        session->setApiToken(std::nullopt);
        session->start(sessionToken_);
    }

    std::string videosURL() const { return emulator_.baseURL() + "/v1/videos"; }

    // Sends a request of the test's own and waits for its reply. Whatever the SDK sent, or
    // was answered, before the probe went out was on the wire a whole exchange earlier, so
    // it has been logged and handled by then: the barrier for "nothing more happened".
    void exchangeAProbe() {
        auto replied = std::make_shared<Outcome<bool>>();
        const auto probe = platform::URL::fromString(emulator_.baseURL() + probePath);
        platform::URLSession::shared()
            ->dataTask(platform::URLRequest(*probe), [replied](auto&&...) { replied->set(true); })
            ->resume();
        EXPECT_TRUE(replied->wait());
    }

    // How many requests the emulator logged besides the probes, once a probe is back.
    std::size_t requestsBesidesAProbe() {
        exchangeAProbe();
        const auto& log = emulator_.server().requestLog();
        return log.count() - log.requestsFor("GET", probePath).size();
    }

    static constexpr const char* probePath = "/test-probe";
    emulator::BackendEmulator emulator_;
    std::string sessionToken_;
};

}  // namespace pindle::testing
