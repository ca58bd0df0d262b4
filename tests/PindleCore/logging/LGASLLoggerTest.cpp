#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "PindleCore/logging/LGASLLogCapture.hpp"
#include "PindleCore/logging/LGASLLogger.hpp"
#include "PindleCore/logging/LGLog.hpp"
#include "platform/log/SystemLog.hpp"
#include "platform/log/SystemLogClient.hpp"
#include "tests/PindleCore/logging/RecordingLogger.hpp"

namespace pindle {
namespace {

using platform::SystemLog;
using platform::SystemLogMessage;
using platform::SystemLogQuery;

// Waits (with a generous limit) for a condition that other threads make true.
bool eventually(const std::function<bool()>& condition) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

std::vector<SystemLogMessage> recordsWithText(const std::string& text) {
    SystemLogQuery query;
    query.add(SystemLogMessage::keyMessage, SystemLogQuery::Comparison::equal, text, false);
    return SystemLog::shared().search(query);
}

std::size_t countTexts(const testing::RecordingLogger& logger, const std::string& text) {
    auto texts = logger.texts();
    return static_cast<std::size_t>(std::count(texts.begin(), texts.end(), text));
}

void sendToSystemLog(const std::string& text, const std::string& level) {
    static platform::SystemLogClient client(SystemLog::shared(), std::string("elsewhere"), "user");
    SystemLogMessage record;
    record.set(SystemLogMessage::keyMessage, text);
    record.set(SystemLogMessage::keyLevel, level);
    client.send(record);
}

class LGASLLoggerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        static int runs = 0;
        run_ = ++runs;
        SystemLog::shared().setForwardsToSyslog(false);
        testing::resetHub();
        LGLog::addLogger(recorder_);
        LGLog::addLogger(LGASLLogger::sharedInstance());
    }
    void TearDown() override {
        LGASLLogCapture::stop();
        LGASLLogCapture::setCaptureLevel(LGLogLevelAllFlags);
        sendToSystemLog("wake the capture so it ends", "5");
        eventually([] {
            return SystemLog::shared().registrationCount(SystemLog::messageNotification) == 0;
        });
        testing::resetHub();
    }

    // The system log keeps its records for the life of the process: texts of this run's own
    // keep a repeated test from finding, or capturing, those of an earlier run.
    std::string ofThisRun(const std::string& text) const {
        return text + " (run " + std::to_string(run_) + ")";
    }

    int run_ = 0;
    std::shared_ptr<testing::RecordingLogger> recorder_ =
        std::make_shared<testing::RecordingLogger>();
};

TEST_F(LGASLLoggerTest, WritesLevelMessageAndReaderForEachFlag) {
    struct Case {
        LGLogFlag flag;
        const char* level;
    };
    const Case cases[] = {{LGLogFlagError, "2"},
                          {LGLogFlagWarning, "3"},
                          {LGLogFlagInfo, "4"},
                          {LGLogFlagDebug, "5"},
                          {LGLogFlagVerbose, "5"}};
    for (const auto& c : cases) {
        std::string text = ofThisRun("asl flag " + std::to_string(c.flag));
        LGLog::log(false, text, 31, c.flag, 0, "/src/Uploader.cpp", "f", 1, nullptr);
        auto records = recordsWithText(text);
        ASSERT_EQ(records.size(), 1u) << text;
        EXPECT_EQ(records[0].get("Level"), c.level);
        EXPECT_EQ(records[0].get("ReadUID"), std::to_string(::geteuid()));
        EXPECT_EQ(records[0].get("Facility"), "com.apple.console");
    }
    // What capture re-logged is not written back.
    const std::string captured = ofThisRun("captured before");
    LGLog::log(false, captured, 31, LGLogFlagInfo, 0, "LGASLLogCapture", "", 0, nullptr);
    EXPECT_TRUE(recordsWithText(captured).empty());
    EXPECT_EQ(countTexts(*recorder_, captured), 1u);
}

TEST_F(LGASLLoggerTest, CaptureMapsLevelsToFlagsAndLogsErrorsSynchronously) {
    struct Case {
        const char* level;
        LGLogFlag flag;
    };
    const Case cases[] = {{"0", LGLogFlagError},  {"2", LGLogFlagError}, {"3", LGLogFlagWarning},
                          {"4", LGLogFlagInfo},   {"5", LGLogFlagDebug}, {"6", LGLogFlagVerbose},
                          {"9", LGLogFlagVerbose}};
    for (const auto& c : cases) {
        SystemLogMessage record;
        record.set("Message", std::string("level ") + c.level);
        record.set("Level", c.level);
        record.set("Time", "1700000000");
        record.set("TimeNanoSec", "500000000");
        LGASLLogCapture::aslMessageRecieved(record);
        if (c.flag == LGLogFlagError) {
            ASSERT_EQ(countTexts(*recorder_, record.get("Message").value()), 1u);
        }
    }
    SystemLogMessage withoutText;
    withoutText.set("Level", "2");
    LGASLLogCapture::aslMessageRecieved(withoutText);

    LGASLLogCapture::setCaptureLevel(LGLogFlagError);
    SystemLogMessage info;
    info.set("Message", "filtered out");
    info.set("Level", "4");
    LGASLLogCapture::aslMessageRecieved(info);

    LGLog::flushLog();
    auto messages = recorder_->messages();
    ASSERT_EQ(messages.size(), std::size(cases));
    for (std::size_t i = 0; i < messages.size(); ++i) {
        EXPECT_EQ(messages[i].flag(), cases[i].flag) << cases[i].level;
        EXPECT_EQ(messages[i].fileName(), "LGASLLogCapture");
        EXPECT_EQ(messages[i].level(), LGLogLevelAllFlags);
        EXPECT_DOUBLE_EQ(messages[i].timestamp().timeIntervalSince1970(), 1'700'000'000.5);
    }
    EXPECT_TRUE(recordsWithText("level 2").empty());  // not written back
}

TEST_F(LGASLLoggerTest, CaptureReadsNewRecordsBackWithoutLooping) {
    LGASLLogCapture::start();
    LGASLLogCapture::start();  // running: nothing
    ASSERT_TRUE(eventually(
        [] { return SystemLog::shared().registrationCount(SystemLog::messageNotification) == 1; }));

    const std::string elsewhere = ofThisRun("from elsewhere");
    const std::string hub = ofThisRun("through the hub");
    const std::string marker = ofThisRun("marker");
    sendToSystemLog(elsewhere, "2");
    ASSERT_TRUE(eventually([&] { return countTexts(*recorder_, elsewhere) == 1; }));

    LGLog::log(true, hub, 31, LGLogFlagInfo, 0, "/src/A.cpp", "f", 1, nullptr);
    // Once directly, once as captured from the system log.
    ASSERT_TRUE(eventually([&] { return countTexts(*recorder_, hub) == 2; }));
    sendToSystemLog(marker, "5");
    ASSERT_TRUE(eventually([&] { return countTexts(*recorder_, marker) == 1; }));
    LGLog::flushLog();
    EXPECT_EQ(recordsWithText(hub).size(), 1u);
    EXPECT_EQ(countTexts(*recorder_, hub), 2u);
    EXPECT_EQ(countTexts(*recorder_, elsewhere), 1u);
}

TEST_F(LGASLLoggerTest, StopThenStartLeavesOneRun) {
    LGASLLogCapture::start();
    ASSERT_TRUE(eventually(
        [] { return SystemLog::shared().registrationCount(SystemLog::messageNotification) == 1; }));
    LGASLLogCapture::stop();
    LGASLLogCapture::start();
    ASSERT_TRUE(eventually(
        [] { return SystemLog::shared().registrationCount(SystemLog::messageNotification) == 2; }));

    sendToSystemLog("after restart", "4");
    // The stale run ends its registration instead of capturing.
    ASSERT_TRUE(eventually(
        [] { return SystemLog::shared().registrationCount(SystemLog::messageNotification) == 1; }));
    ASSERT_TRUE(eventually([&] { return countTexts(*recorder_, "after restart") == 1; }));
    sendToSystemLog("second", "4");
    ASSERT_TRUE(eventually([&] { return countTexts(*recorder_, "second") == 1; }));
    LGLog::flushLog();
    EXPECT_EQ(countTexts(*recorder_, "after restart"), 1u);
}

}  // namespace
}  // namespace pindle
