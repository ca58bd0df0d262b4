#include "PindleCore/logging/LGLog.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <future>
#include <mutex>
#include <thread>

#include "PindleCore/logging/LGExtractFileNameWithoutExtension.hpp"
#include "platform/app/Application.hpp"
#include "platform/dispatch/Clock.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/ThreadIdentity.hpp"
#include "tests/PindleCore/logging/RecordingLogger.hpp"

namespace pindle {
namespace {

using testing::RecordingLogger;

class LGLogTest : public ::testing::Test {
  protected:
    void SetUp() override { testing::resetHub(); }
    void TearDown() override { testing::resetHub(); }

    static void logSync(LGLogFlag flag, const char* text) {
        LGLog::log(false, LGLogLevelAll, flag, 0, __FILE__, __func__, __LINE__, nullptr, "%s",
                   text);
    }
};

TEST_F(LGLogTest, PassesEachMessageToTheLoggersWhoseLevelHasItsFlag) {
    struct Case {
        LGLogLevel level;
        std::vector<LGLogFlag> expected;
    };
    const std::vector<LGLogFlag> sent{
        0, LGLogFlagError, LGLogFlagWarning, LGLogFlagInfo, LGLogFlagDebug, LGLogFlagVerbose};
    const Case cases[] = {
        {LGLogLevelOff, {}},
        {LGLogLevelAll, {1, 2, 4, 8, 16}},
        {LGLogFlagError | LGLogFlagWarning, {1, 2}},
        {LGLogFlagInfo, {4}},
    };
    std::vector<std::shared_ptr<RecordingLogger>> loggers;
    for (const auto& c : cases) {
        loggers.push_back(std::make_shared<RecordingLogger>());
        LGLog::addLogger(loggers.back(), c.level);
    }
    for (LGLogFlag flag : sent) {
        logSync(flag, "m");
    }
    for (std::size_t i = 0; i < loggers.size(); ++i) {
        EXPECT_EQ(loggers[i]->flags(), cases[i].expected) << "case " << i;
        EXPECT_TRUE(loggers[i]->ranOnOwnQueue());
    }
}

TEST_F(LGLogTest, AddingTwiceDeliversTwiceAndRemovingTakesTheFirstEntryOnly) {
    auto logger = std::make_shared<RecordingLogger>();
    auto other = std::make_shared<RecordingLogger>();
    LGLog::addLogger(nullptr);
    LGLog::addLogger(logger);
    LGLog::addLogger(other);
    LGLog::addLogger(logger);
    logSync(LGLogFlagInfo, "twice");
    EXPECT_EQ(logger->texts(), (std::vector<std::string>{"twice", "twice"}));

    LGLog::removeLogger(logger);
    LGLog::removeLogger(std::make_shared<RecordingLogger>());  // not in the list: nothing
    EXPECT_EQ(LGLog::allLoggers(), (std::vector<LGLoggerPtr>{other, logger}));
    logSync(LGLogFlagInfo, "once");
    EXPECT_EQ(logger->texts().size(), 3u);

    testing::resetHub();
    LGLog::flushLog();       // no loggers: returns at once
    logger->logFormatter();  // waits for the logger's queue to run the removal hooks
    // The hooks run on the logger's queue, in the order the hub sent them.
    auto events = logger->events();
    std::erase(events, "flush");
    EXPECT_EQ(events, (std::vector<std::string>{"add", "add", "remove", "remove"}));
}

TEST_F(LGLogTest, AsynchronousCallsReturnAtOnceAndFlushWaitsForThem) {
    auto logger = std::make_shared<RecordingLogger>();
    LGLog::addLogger(logger);
    logger->hold();
    LGLog::log(true, LGLogLevelAll, LGLogFlagInfo, 0, "f", "fn", 1, nullptr, "async %d", 1);
    ASSERT_TRUE(logger->waitUntilEntered(1));
    EXPECT_TRUE(logger->messages().empty());
    logger->release();
    LGLog::flushLog();
    EXPECT_EQ(logger->texts(), std::vector<std::string>{"async 1"});
    EXPECT_EQ(logger->events().back(), "flush");
}

TEST_F(LGLogTest, ApplicationTerminationFlushesEveryLogger) {
    auto logger = std::make_shared<RecordingLogger>();
    LGLog::addLogger(logger);
    LGLog::allLoggers();
    platform::Application::shared().postWillTerminate();
    auto events = logger->events();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back(), "flush");
}

TEST_F(LGLogTest, TheThousandAndFirstOutstandingMessageWaits) {
    auto logger = std::make_shared<RecordingLogger>();
    LGLog::addLogger(logger);
    logger->hold();
    for (long i = 0; i < LGLog::maxQueuedMessages; ++i) {
        LGLog::log(true, LGLogLevelAll, LGLogFlagInfo, 0, "f", "fn", 1, nullptr, "%ld", i);
    }
    ASSERT_TRUE(logger->waitUntilEntered(1));
    auto blocked = std::async(std::launch::async, [] {
        LGLog::log(true, LGLogLevelAll, LGLogFlagInfo, 0, "f", "fn", 1, nullptr, "last");
    });
    // A bounded look for the absence of progress; the release below proves the wake-up.
    EXPECT_EQ(blocked.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    logger->release();
    EXPECT_EQ(blocked.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    LGLog::flushLog();
    auto texts = logger->texts();
    ASSERT_EQ(texts.size(), static_cast<std::size_t>(LGLog::maxQueuedMessages + 1));
    EXPECT_EQ(texts.front(), "0");
    EXPECT_EQ(texts.back(), "last");
}

TEST_F(LGLogTest, MessagesQueuedWhileTheHubIsBusyGoOutTogetherButNeverAcrossOtherWork) {
    auto first = std::make_shared<RecordingLogger>("test.first");
    auto second = std::make_shared<RecordingLogger>("test.second");
    auto logAsync = [](const char* text) {
        LGLog::log(true, LGLogLevelAll, LGLogFlagInfo, 0, "f", "fn", 1, nullptr, "%s", text);
    };
    LGLog::addLogger(first);
    first->hold();
    logAsync("0");
    ASSERT_TRUE(first->waitUntilEntered(1));  // the hub waits for "0"
    logAsync("1");
    logAsync("2");
    LGLog::addLogger(second);
    logAsync("3");
    auto synchronous = std::async(std::launch::async, [] { logSync(LGLogFlagInfo, "4"); });
    first->release();
    ASSERT_EQ(synchronous.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    logAsync("5");
    LGLog::flushLog();

    EXPECT_EQ(first->texts(), (std::vector<std::string>{"0", "1", "2", "3", "4", "5"}));
    EXPECT_EQ(second->texts(), (std::vector<std::string>{"3", "4", "5"}));
    // The add splits the waiting messages; the synchronous one goes on its own.
    EXPECT_EQ(first->batchSizes(), (std::vector<std::size_t>{1, 2, 1, 1, 1}));
    EXPECT_EQ(second->batchSizes(), (std::vector<std::size_t>{1, 1, 1}));
}

TEST_F(LGLogTest, ListChangesSplitALongStreamExactlyWhereTheyWereMade) {
    // Long enough to go round the hub's store of waiting messages several times, while a
    // logger added every few hundred messages must see exactly the ones queued after it.
    constexpr int total = 3000;
    constexpr int every = 250;
    std::vector<std::shared_ptr<RecordingLogger>> loggers;
    for (int i = 0; i < total; ++i) {
        if (i % every == 0) {
            loggers.push_back(std::make_shared<RecordingLogger>());
            LGLog::addLogger(loggers.back());
        }
        LGLog::log(true, std::to_string(i), LGLogLevelAll, LGLogFlagInfo, 0, "f", "fn", 1, nullptr);
    }
    LGLog::flushLog();
    for (std::size_t k = 0; k < loggers.size(); ++k) {
        const auto texts = loggers[k]->texts();
        const int first = static_cast<int>(k) * every;
        ASSERT_EQ(texts.size(), static_cast<std::size_t>(total - first)) << "logger " << k;
        for (int i = first; i < total; ++i) {
            ASSERT_EQ(texts[i - first], std::to_string(i)) << "logger " << k;
        }
    }
}

TEST_F(LGLogTest, EachThreadsMessagesArriveOnceAndInOrder) {
    constexpr int threads = 4;
    constexpr int perThread = 1500;
    auto logger = std::make_shared<RecordingLogger>();
    LGLog::addLogger(logger);
    std::vector<std::thread> producers;
    for (int t = 0; t < threads; ++t) {
        producers.emplace_back([t] {
            for (int i = 0; i < perThread; ++i) {
                // Now and then a synchronous one, which must not overtake the others.
                LGLog::log(i % 300 != 299, LGLogLevelAll, LGLogFlagInfo, 0, "f", "fn", 1, nullptr,
                           "%d %d", t, i);
            }
        });
    }
    for (auto& producer : producers) {
        producer.join();
    }
    LGLog::flushLog();
    std::vector<int> next(threads, 0);
    for (const auto& text : logger->texts()) {
        int t = -1;
        int i = -1;
        ASSERT_EQ(std::sscanf(text.c_str(), "%d %d", &t, &i), 2) << text;
        ASSERT_TRUE(t >= 0 && t < threads) << text;
        ASSERT_EQ(i, next[t]) << "thread " << t;
        ++next[t];
    }
    EXPECT_EQ(next, std::vector<int>(threads, perThread));
}

TEST_F(LGLogTest, AFlushAmidOtherThreadsMessagesComesAfterEverythingQueuedBeforeIt) {
    // Messages and flushes in the one order the logger saw them.
    class Journal : public LGAbstractLogger {
      public:
        Journal() : LGAbstractLogger("test.journal") {}
        void logMessage(const LGLogMessage& message) override {
            std::scoped_lock lock(mutex_);
            entries_.push_back(message.message());
        }
        void flush() override {
            std::scoped_lock lock(mutex_);
            entries_.push_back("flush");
        }
        // Whether a flush came after `text`.
        bool flushedAfter(const std::string& text) const {
            std::scoped_lock lock(mutex_);
            auto found = std::find(entries_.begin(), entries_.end(), text);
            return found != entries_.end() &&
                   std::find(found, entries_.end(), "flush") != entries_.end();
        }

      private:
        mutable std::mutex mutex_;
        std::vector<std::string> entries_;  // guarded by mutex_
    };
    auto journal = std::make_shared<Journal>();
    LGLog::addLogger(journal);
    constexpr int threads = 3;
    constexpr int perThread = 400;
    constexpr int flushEvery = 40;
    std::atomic<int> early{0};
    std::vector<std::thread> producers;
    for (int t = 0; t < threads; ++t) {
        producers.emplace_back([&, t] {
            for (int i = 0; i < perThread; ++i) {
                const std::string text = std::to_string(t) + " " + std::to_string(i);
                LGLog::log(true, text, LGLogLevelAll, LGLogFlagInfo, 0, "f", "fn", 1, nullptr);
                if (i % flushEvery == flushEvery - 1) {
                    LGLog::flushLog();
                    early += journal->flushedAfter(text) ? 0 : 1;
                }
            }
        });
    }
    for (auto& producer : producers) {
        producer.join();
    }
    EXPECT_EQ(early.load(), 0);
}

TEST_F(LGLogTest, AnAsynchronousMessageArrivesWithoutAFlush) {
    // Alternating with the logger's progress, each message may find the hub busy, lingering
    // or gone idle: in every case it must be delivered on its own.
    auto logger = std::make_shared<RecordingLogger>();
    LGLog::addLogger(logger);
    for (std::size_t i = 1; i <= 50; ++i) {
        LGLog::log(true, "alone", LGLogLevelAll, LGLogFlagInfo, 0, "f", "fn", 1, nullptr);
        ASSERT_TRUE(logger->waitForMessages(i)) << i;
    }
}

TEST_F(LGLogTest, FormattedTextsOfAnyLengthArriveWhole) {
    // Asynchronous texts go round the hub's reusable storage several times, so each place
    // takes longer and shorter texts than the one it held before.
    const std::size_t lengths[] = {0, 1, 510, 511, 512, 513, 5000, 60, 2};
    for (bool asynchronous : {false, true}) {
        testing::resetHub();
        auto logger = std::make_shared<RecordingLogger>();
        LGLog::addLogger(logger);
        std::vector<std::string> expected;
        for (int round = 0; round < (asynchronous ? 300 : 1); ++round) {
            for (std::size_t length : lengths) {
                std::string text(length, static_cast<char>('a' + round % 26));
                if (length > 0) {
                    text.back() = 'y';
                }
                expected.push_back("<" + text + ">");
                LGLog::log(asynchronous, LGLogLevelAll, LGLogFlagInfo, 0, "f", "fn", 1, nullptr,
                           "<%s>", text.c_str());
            }
        }
        LGLog::flushLog();
        EXPECT_EQ(logger->texts(), expected) << asynchronous;
    }
}

TEST_F(LGLogTest, AfterAFlushTheHubHoldsNoMessageNorItsTag) {
    class CountingLogger : public LGAbstractLogger {
      public:
        CountingLogger() : LGAbstractLogger("test.countingLogger") {}
        void logMessage(const LGLogMessage&) override { ++count; }
        std::atomic<int> count{0};
    };
    auto logger = std::make_shared<CountingLogger>();
    LGLog::addLogger(logger);
    auto tag = std::make_shared<platform::Object>();
    std::weak_ptr<platform::Object> watched = tag;
    for (int i = 0; i < 3; ++i) {
        LGLog::log(true, "tagged", LGLogLevelAll, LGLogFlagInfo, 0, "f", "fn", 1, tag);
    }
    tag.reset();
    LGLog::flushLog();
    EXPECT_EQ(logger->count.load(), 3);
    EXPECT_TRUE(watched.expired());
}

TEST_F(LGLogTest, FormatterChangesAreOrderedWithMessagesAndHeardByTheFormatter) {
    class Upper : public LGLogFormatter {
      public:
        std::optional<std::string> formatLogMessage(const LGLogMessage& m) override {
            return "[" + m.message() + "]";
        }
        void didAddToLogger(LGLogger&) override { ++added; }
        void willRemoveFromLogger(LGLogger&) override { ++removed; }
        std::atomic<int> added{0}, removed{0};
    };
    auto logger = std::make_shared<RecordingLogger>();
    auto formatter = std::make_shared<Upper>();
    LGLog::addLogger(logger);
    LGLog::log(true, LGLogLevelAll, LGLogFlagInfo, 0, "f", "fn", 1, nullptr, "before");
    logger->setLogFormatter(formatter);
    logger->setLogFormatter(formatter);  // the current one: no second add
    LGLog::log(true, LGLogLevelAll, LGLogFlagInfo, 0, "f", "fn", 1, nullptr, "after");
    EXPECT_EQ(logger->logFormatter(), formatter);
    logger->setLogFormatter(nullptr);
    EXPECT_EQ(logger->logFormatter(), nullptr);
    LGLog::flushLog();
    EXPECT_EQ(logger->texts(), (std::vector<std::string>{"before", "[after]"}));
    EXPECT_EQ(formatter->added.load(), 1);
    EXPECT_EQ(formatter->removed.load(), 1);
}

TEST_F(LGLogTest, MessagesRecordWhereAndWhenTheyWereMade) {
    auto clock = std::make_shared<platform::VirtualClock>(
        platform::Date::fromTimeIntervalSince1970(1'700'000'000.5));
    platform::Clock::setCurrent(clock);
    auto queue = platform::DispatchQueue::create("com.example.worker");
    auto message = queue->sync([] {
        return LGLogMessage("text", 31, LGLogFlagWarning, 7, "/src/dir.v2/Foo.cpp", "run()", 42);
    });
    platform::Clock::setCurrent(nullptr);

    EXPECT_EQ(message.queueLabel(), "com.example.worker");
    EXPECT_EQ(message.timestamp().timeIntervalSince1970(), 1'700'000'000.5);
    EXPECT_EQ(message.fileName(), "Foo");
    EXPECT_EQ(message.context(), 7);
    EXPECT_FALSE(message.threadID().empty());
    EXPECT_EQ(message.threadID().find_first_not_of("0123456789abcdef"), std::string::npos);

    LGLogMessage here("x", 0, LGLogFlagInfo, 0, "", "", 0, nullptr, 0,
                      platform::Date::fromTimeIntervalSince1970(5));
    char expectedID[32];
    std::snprintf(expectedID, sizeof expectedID, "%llx",
                  static_cast<unsigned long long>(platform::ThreadIdentity::currentThreadID()));
    EXPECT_EQ(here.threadID(), expectedID);
    EXPECT_EQ(here.timestamp().timeIntervalSince1970(), 5);
    EXPECT_EQ(here.withMessage("y").message(), "y");
    EXPECT_EQ(here.withMessage("y").threadID(), here.threadID());
}

TEST(LGExtractFileNameWithoutExtensionTest, CutsFolderAndLastExtension) {
    const std::pair<const char*, const char*> cases[] = {
        {"/src/Foo.m", "Foo"},         {"Foo", "Foo"}, {"/x/archive.tar.gz", "archive.tar"},
        {"/my.dir/Foo", "Foo"},        {"", ""},       {"/trailing/", ""},
        {"relative/name.cpp", "name"},
    };
    for (auto [path, expected] : cases) {
        EXPECT_EQ(LGExtractFileNameWithoutExtension(path),
                  std::optional<std::string_view>(expected))
            << path;
    }
    EXPECT_EQ(LGExtractFileNameWithoutExtension(static_cast<const char*>(nullptr)), std::nullopt);
}

TEST(LGLogClassLevelsTest, OnlyRegisteredClassesHaveLevelsOfTheirOwn) {
    std::atomic<LGLogLevel> level{LGLogFlagError};
    LGLog::registerClass("PUploader", {[&] { return level.load(); },
                                       [&](LGLogLevel newLevel) {
                                           level = newLevel;
                                       }});
    EXPECT_TRUE(LGLog::isRegisteredClass("PUploader"));
    EXPECT_FALSE(LGLog::isRegisteredClass("PUnknown"));
    EXPECT_EQ(LGLog::levelForClass("PUploader"), LGLogFlagError);
    LGLog::setLevelForClass("PUploader", LGLogFlagInfo);
    EXPECT_EQ(level.load(), LGLogFlagInfo);

    EXPECT_EQ(LGLog::levelForClass("PUnknown"), LGLogLevelAll);
    LGLog::setLevelForClass("PUnknown", 0);  // nothing to change
    EXPECT_EQ(LGLog::levelForClass("PUnknown"), LGLogLevelAll);

    auto names = LGLog::registeredClassNames();
    EXPECT_NE(std::find(names.begin(), names.end(), "PUploader"), names.end());
    LGLog::unregisterClass("PUploader");
    EXPECT_FALSE(LGLog::isRegisteredClass("PUploader"));
}

}  // namespace
}  // namespace pindle
