#include "PindleCore/logging/LGAbstractDatabaseLogger.hpp"

#include <gtest/gtest.h>

#include "PindleCore/logging/LGLog.hpp"
#include "platform/dispatch/Clock.hpp"
#include "tests/PindleCore/logging/RecordingLogger.hpp"

namespace pindle {
namespace {

// Stores nothing; counts what the base asks of it and refuses messages saying "refuse".
class CountingDatabaseLogger : public LGAbstractDatabaseLogger {
  public:
    CountingDatabaseLogger() : LGAbstractDatabaseLogger("test.databaseLogger") {}

    std::atomic<int> stored{0}, saves{0}, deletes{0}, savesAndDeletes{0};

  protected:
    bool db_log(const LGLogMessage& message) override {
        if (message.message() == "refuse") {
            return false;
        }
        ++stored;
        return true;
    }
    void db_save() override { ++saves; }
    void db_delete() override { ++deletes; }
    void db_saveAndDelete() override { ++savesAndDeletes; }
};

class LGAbstractDatabaseLoggerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::Clock::setCurrent(clock_);
        testing::resetHub();
        LGLog::addLogger(logger_);
        settle();  // the timers start from now
    }
    void TearDown() override {
        testing::resetHub();
        logger_->saveThreshold();  // lets the removal finish before the clock goes
        platform::Clock::setCurrent(nullptr);
    }

    // Synchronous, so each message is stored at the virtual time it was logged.
    static void log(const std::string& text, int times = 1) {
        for (int i = 0; i < times; ++i) {
            LGLog::log(false, text, 31, LGLogFlagInfo, 0, "f", "fn", 1, nullptr);
        }
    }
    // Waits until the hub and the logger's queue have run everything sent so far.
    void settle() {
        LGLog::allLoggers();
        logger_->saveThreshold();
    }
    void advance(double seconds) {
        clock_->advance(seconds);
        settle();
    }

    std::shared_ptr<platform::VirtualClock> clock_ = std::make_shared<platform::VirtualClock>();
    std::shared_ptr<CountingDatabaseLogger> logger_ = std::make_shared<CountingDatabaseLogger>();
};

TEST_F(LGAbstractDatabaseLoggerTest, SavesAtTheThresholdOfStoredMessages) {
    log("m", 499);
    log("refuse");  // not stored, so it does not count
    LGLog::flushLog();
    EXPECT_EQ(logger_->saves.load(), 1);  // the flush
    log("m", 498);
    log("refuse");
    log("m");
    EXPECT_EQ(logger_->saves.load(), 1);
    EXPECT_EQ(logger_->stored.load(), 998);
    log("m");
    EXPECT_EQ(logger_->saves.load(), 2);  // the 500th pending message
}

TEST_F(LGAbstractDatabaseLoggerTest, SavesTheIntervalAfterTheFirstPendingMessage) {
    log("m");
    advance(59);
    EXPECT_EQ(logger_->saves.load(), 0);
    advance(1);
    EXPECT_EQ(logger_->saves.load(), 1);
    advance(120);  // nothing pending: the timer rests
    EXPECT_EQ(logger_->saves.load(), 1);
    log("m");
    advance(60);
    EXPECT_EQ(logger_->saves.load(), 2);

    logger_->setDeleteOnEverySave(true);
    log("m");
    advance(60);
    EXPECT_EQ(logger_->saves.load(), 2);
    EXPECT_EQ(logger_->savesAndDeletes.load(), 1);
}

TEST_F(LGAbstractDatabaseLoggerTest, WithoutThresholdSavesOnlyByTimerFlushOrRemoval) {
    logger_->setSaveThreshold(0);
    logger_->setSaveInterval(0);
    log("m", 600);
    advance(3600);
    EXPECT_EQ(logger_->saves.load(), 0);
    LGLog::flushLog();
    EXPECT_EQ(logger_->saves.load(), 1);
    log("m");
    LGLog::removeLogger(logger_);
    settle();
    EXPECT_EQ(logger_->saves.load(), 2);

    // A threshold set again saves at once when enough are pending.
    LGLog::addLogger(logger_);
    log("m", 3);
    logger_->setSaveThreshold(2);
    settle();
    EXPECT_EQ(logger_->saves.load(), 3);
}

TEST_F(LGAbstractDatabaseLoggerTest, DeletesPeriodicallyAndWhenMaxAgeIsLowered) {
    advance(299);
    EXPECT_EQ(logger_->deletes.load(), 0);
    advance(1);
    EXPECT_EQ(logger_->deletes.load(), 1);
    advance(300);
    EXPECT_EQ(logger_->deletes.load(), 2);

    struct Case {
        double maxAge;
        int deletesAfter;
    };
    const Case cases[] = {
        {LGAbstractDatabaseLogger::defaultMaxAge * 2, 2},  // raised: nothing
        {3600, 3},                                         // lowered: at once
        {0, 3},                                            // off: nothing, timer gone
        {60, 4},                                           // on again: at once
    };
    for (const auto& c : cases) {
        logger_->setMaxAge(c.maxAge);
        EXPECT_EQ(logger_->maxAge(), c.maxAge);
        EXPECT_EQ(logger_->deletes.load(), c.deletesAfter) << c.maxAge;
    }
    logger_->setMaxAge(0);
    settle();
    advance(900);
    EXPECT_EQ(logger_->deletes.load(), 4);
    logger_->setMaxAge(60);  // deletes, then every 300 s from then
    settle();
    advance(300);
    EXPECT_EQ(logger_->deletes.load(), 6);
    logger_->deleteOldLogEntries();
    settle();
    EXPECT_EQ(logger_->deletes.load(), 7);
}

}  // namespace
}  // namespace pindle
