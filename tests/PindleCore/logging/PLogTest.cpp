#include "PindleCore/logging/PLog.hpp"

#include <gtest/gtest.h>

#include "PindleCore/logging/LGASLLogger.hpp"
#include "PindleCore/logging/LGTTYLogger.hpp"
#include "platform/log/StandardError.hpp"
#include "platform/log/SystemLog.hpp"
#include "tests/PindleCore/logging/RecordingLogger.hpp"

namespace pindle::legacy {
namespace {

class PLogTest : public ::testing::Test {
  protected:
    void SetUp() override { testing::resetHub(); }
    void TearDown() override {
        PLog_FileSystem = false;
        testing::resetHub();
    }
};

std::string costly(int& calls) {
    ++calls;
    return "costly";
}

TEST_F(PLogTest, OnlyTheDefaultAreasLogAndSilentAreasCostNothing) {
    auto logger = std::make_shared<pindle::testing::RecordingLogger>();
    LGLog::addLogger(logger);
    int calls = 0;

    PLOG_INFO(PLog_Capture, "PLog_Capture Starting capture %s", costly(calls).c_str());
    PLOG_ERROR(PLog_TSUO, "PLog_TSUO creating video on server side %s FAILURE", "v1");
    PLOG_INFO(PLog_Uploading, "(PLog_Uploading) %s started", "v2");
    PLOG_ERROR(PLog_FileSystem, "PLog_FileSystem Unresolved error %s", costly(calls).c_str());
    PLOG_INFO(PLog_Global, "PLog_Global %s", costly(calls).c_str());
    PLOG_INFO(PLog_Core, "PLog_Core %s", costly(calls).c_str());
    EXPECT_EQ(calls, 1);

    PLog_FileSystem = true;
    PLOG_ERROR(PLog_FileSystem, "PLog_FileSystem Unresolved error %s", costly(calls).c_str());
    EXPECT_EQ(calls, 2);

    LGLog::flushLog();
    ASSERT_EQ(logger->texts(),
              (std::vector<std::string>{"PLog_Capture Starting capture costly",
                                        "PLog_TSUO creating video on server side v1 FAILURE",
                                        "(PLog_Uploading) v2 started",
                                        "PLog_FileSystem Unresolved error costly"}));
    auto messages = logger->messages();
    EXPECT_EQ(messages[0].flag(), LGLogFlagInfo);
    EXPECT_EQ(messages[1].flag(), LGLogFlagError);
    EXPECT_EQ(messages[1].level(), myLibLogLevel);
    EXPECT_EQ(messages[1].context(), 0);
    EXPECT_EQ(messages[1].fileName(), "PLogTest");
    EXPECT_NE(messages[1].function().find("TestBody"), std::string::npos);
}

TEST_F(PLogTest, ErrorCallsWaitForTheLoggersAndInfoCallsDoNot) {
    auto logger = std::make_shared<pindle::testing::RecordingLogger>();
    LGLog::addLogger(logger);
    PLOG_ERROR(PLog_TSUO, "PLog_TSUO error");
    EXPECT_EQ(logger->texts().size(), 1u);  // written before the call returned

    logger->hold();
    PLOG_INFO(PLog_TSUO, "PLog_TSUO info");  // returns although the logger is held
    ASSERT_TRUE(logger->waitUntilEntered(2));
    EXPECT_EQ(logger->texts().size(), 1u);
    logger->release();
    LGLog::flushLog();
    EXPECT_EQ(logger->texts().size(), 2u);
}

TEST_F(PLogTest, InitAddsTheSystemLogAndConsoleLoggersOnce) {
    PLogInit();
    PLogInit();
    auto loggers = LGLog::allLoggers();
    ASSERT_EQ(loggers.size(), 2u);
    EXPECT_EQ(loggers[0], LGASLLogger::sharedInstance());
    EXPECT_EQ(loggers[1], LGTTYLogger::sharedInstance());

    // The system log keeps its records for the life of the process: a video of this run's
    // own keeps a repeated test from finding the record of an earlier run.
    static int runs = 0;
    const std::string video = "v" + std::to_string(++runs);
    const std::string text = "(PLog_Uploading) upload " + video + " failed";
    platform::SystemLog::shared().setForwardsToSyslog(false);
    platform::StandardError::Capture capture;
    PLOG_ERROR(PLog_Uploading, "(PLog_Uploading) upload %s failed", video.c_str());
    ASSERT_EQ(capture.writes().size(), 1u);
    EXPECT_TRUE(capture.writes()[0].ends_with("] " + text + "\n"));

    platform::SystemLogQuery query;
    query.add(platform::SystemLogMessage::keyMessage, platform::SystemLogQuery::Comparison::equal,
              text, false);
    auto records = platform::SystemLog::shared().search(query);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].get("Level"), "2");
}

}  // namespace
}  // namespace pindle::legacy
