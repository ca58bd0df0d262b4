#include "platform/log/SystemLog.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "platform/dispatch/Clock.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/log/SystemLogClient.hpp"
#include "tests/support/Barriers.hpp"

namespace pindle::platform {
namespace {

using Comparison = SystemLogQuery::Comparison;

SystemLogMessage messageWith(const std::string& text, const std::string& level) {
    SystemLogMessage message;
    message.set(SystemLogMessage::keyMessage, text);
    message.set(SystemLogMessage::keyLevel, level);
    return message;
}

class SystemLogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        clock_ = std::make_shared<VirtualClock>(Date::fromTimeIntervalSince1970(1000.25));
        Clock::setCurrent(clock_);
        log_.setForwardsToSyslog(false);
    }
    void TearDown() override { Clock::setCurrent(nullptr); }

    std::shared_ptr<VirtualClock> clock_;
    SystemLog log_;
};

TEST_F(SystemLogTest, CompletesRecordsWithIdentifierTimeAndSender) {
    SystemLogClient client(log_, std::nullopt, "com.apple.console");
    EXPECT_EQ(client.send(messageWith("first", "4")), 1u);
    clock_->advance(1.5);
    EXPECT_EQ(client.send(messageWith("second", "2")), 2u);

    auto records = log_.search(SystemLogQuery());
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].get("Message"), "first");
    EXPECT_EQ(records[0].get("ASLMessageID"), "1");
    EXPECT_EQ(records[0].get("Time"), "1000");
    EXPECT_EQ(records[0].get("TimeNanoSec"), "250000000");
    EXPECT_EQ(records[1].get("Time"), "1001");
    EXPECT_EQ(records[1].get("TimeNanoSec"), "750000000");
    EXPECT_EQ(records[1].get("Facility"), "com.apple.console");
    EXPECT_EQ(records[1].get("PID"), std::to_string(::getpid()));
    EXPECT_FALSE(records[1].get("Sender").value_or("").empty());
}

TEST_F(SystemLogTest, QueriesCompareNumbersAndTexts) {
    SystemLogClient client(log_, std::string("tester"), "facility");
    for (int level = 0; level < 8; ++level) {
        client.send(messageWith("level " + std::to_string(level), std::to_string(level)));
    }
    struct Case {
        const char* key;
        Comparison comparison;
        const char* value;
        bool numeric;
        std::size_t expected;
    };
    const Case cases[] = {
        {"Level", Comparison::lessOrEqual, "7", true, 8},
        {"Level", Comparison::less, "3", true, 3},
        {"Level", Comparison::greater, "5", true, 2},
        {"Level", Comparison::greaterOrEqual, "5", true, 3},
        {"Level", Comparison::equal, "4", true, 1},
        {"Level", Comparison::notEqual, "4", true, 7},
        {"ASLMessageID", Comparison::greater, "6", true, 2},
        // "10" sorts before "2" as text but not as a number.
        {"Level", Comparison::less, "10", true, 8},
        {"Level", Comparison::less, "10", false, 2},
        {"Message", Comparison::equal, "level 3", false, 1},
        {"Sender", Comparison::equal, "tester", false, 8},
        {"Missing", Comparison::notEqual, "x", false, 0},
        {"Message", Comparison::less, "9", true, 0},  // not a number: fails
    };
    for (const auto& c : cases) {
        SystemLogQuery query;
        query.add(c.key, c.comparison, c.value, c.numeric);
        EXPECT_EQ(log_.search(query).size(), c.expected) << c.key << " " << c.value;
    }
    SystemLogQuery both;
    both.add("Level", Comparison::greaterOrEqual, "2", true);
    both.add("Level", Comparison::lessOrEqual, "3", true);
    EXPECT_EQ(log_.search(both).size(), 2u);
}

TEST_F(SystemLogTest, KeepsOnlyTheNewestRecords) {
    SystemLog small(3);
    small.setForwardsToSyslog(false);
    SystemLogClient client(small, std::nullopt, "f");
    for (int i = 1; i <= 5; ++i) {
        client.send(messageWith(std::to_string(i), "5"));
    }
    auto records = small.search(SystemLogQuery());
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records.front().get("Message"), "3");
    EXPECT_EQ(records.back().get("ASLMessageID"), "5");
}

TEST_F(SystemLogTest, NotifiesRegisteredHandlersOnTheirQueueUntilCancelled) {
    auto queue = DispatchQueue::create("system-log-test");
    std::mutex mutex;
    std::condition_variable changed;
    int calls = 0;
    int seenToken = 0;
    int token = log_.registerNotification(SystemLog::messageNotification, queue, [&](int t) {
        std::scoped_lock lock(mutex);
        ++calls;
        seenToken = t;
        changed.notify_all();
    });
    int otherCalls = 0;
    log_.registerNotification("some.other.name", queue, [&](int) { ++otherCalls; });

    SystemLogClient client(log_, std::nullopt, "f");
    client.send(messageWith("one", "5"));
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(10), [&] { return calls == 1; }));
        EXPECT_EQ(seenToken, token);
    }
    log_.cancelNotification(token);
    EXPECT_FALSE(log_.isRegistered(token));
    client.send(messageWith("two", "5"));
    ASSERT_TRUE(pindle::testing::drain(queue));
    std::scoped_lock lock(mutex);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(otherCalls, 0);
}

}  // namespace
}  // namespace pindle::platform
