#include "PindleCore/logging/LGFileLogger.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <condition_variable>
#include <mutex>
#include <set>

#include "PindleCore/logging/LGLog.hpp"
#include "PindleCore/logging/LGLogFileManagerDefault.hpp"
#include "platform/dispatch/Clock.hpp"
#include "platform/dispatch/MainThread.hpp"
#include "platform/files/Bundle.hpp"
#include "platform/files/FileHandle.hpp"
#include "platform/files/FileManager.hpp"
#include "platform/log/StandardError.hpp"
#include "tests/PindleCore/logging/RecordingLogger.hpp"
#include "tests/support/TestFolders.hpp"

namespace pindle {
namespace {

const platform::FileManager& files() {
    return platform::FileManager::defaultManager();
}

std::string contents(const std::string& path) {
    auto data = files().contentsOfFile(path);
    return data ? std::string(data->begin(), data->end()) : std::string("<missing>");
}

class LGFileLoggerTest : public ::testing::Test {
  protected:
    // The logger's current file; empty, and a failure, when it has none.
    static std::string currentPath(LGFileLogger& logger) {
        const auto info = logger.currentLogFileInfo();
        EXPECT_TRUE(info) << "the logger has no current file";
        return info ? info->filePath() : std::string();
    }

    void SetUp() override {
        folder_ = pindle::testing::makeScratchFolder("file-logger-");
        logs_ = folder_ + "/Logs";
        // Files carry real creation times, so virtual time starts at the real "now".
        clock_ = std::make_shared<platform::VirtualClock>(platform::SystemClock().now());
        platform::Clock::setCurrent(clock_);
        testing::resetHub();
    }
    void TearDown() override {
        testing::resetHub();
        platform::Clock::setCurrent(nullptr);
        files().removeItem(folder_).ignoreError();
    }

    std::shared_ptr<LGLogFileManagerDefault> manager() {
        return std::make_shared<LGLogFileManagerDefault>(logs_);
    }
    // Adds a logger to the hub and logs `texts` synchronously.
    static void logThrough(const std::shared_ptr<LGFileLogger>& logger,
                           const std::vector<std::string>& texts) {
        LGLog::addLogger(logger);
        for (const auto& text : texts) {
            LGLog::log(false, text, 31, LGLogFlagInfo, 0, "f", "fn", 1, nullptr);
        }
        LGLog::removeLogger(logger);
        LGLog::allLoggers();
    }
    static void log(const std::string& text) {
        LGLog::log(false, text, 31, LGLogFlagInfo, 0, "f", "fn", 1, nullptr);
    }

    std::string folder_;
    std::string logs_;
    std::shared_ptr<platform::VirtualClock> clock_;
};

TEST_F(LGFileLoggerTest, NamesFilesAfterAppAndMinuteWithCountersOnCollisions) {
    // 2026-03-01 14:05:30 UTC
    clock_->setNow(platform::Date::fromTimeIntervalSince1970(1'772'373'930));
    auto logs = manager();
    logs->setMaximumNumberOfLogFiles(0);
    const std::string app = logs->applicationName();
    EXPECT_EQ(logs->newLogFileName(), app + " 2026-03-01 14-05.log");
    // The names' date part, written and read back by the manager's own formatter, in GMT.
    EXPECT_EQ(logs->logFileDateFormatter().string(platform::Date::now()), "2026-03-01 14-05");
    EXPECT_EQ(logs->logFileDateFormatter().date("2026-03-01 14-05"),
              platform::Date::fromTimeIntervalSince1970(1'772'373'900));
    std::vector<std::string> created;
    for (int i = 0; i < 3; ++i) {
        auto path = logs->createNewLogFile();
        ASSERT_TRUE(path);
        created.push_back(path->substr(logs_.size() + 1));
    }
    EXPECT_EQ(created, (std::vector<std::string>{app + " 2026-03-01 14-05.log",
                                                 app + " 2026-03-01 14-05 2.log",
                                                 app + " 2026-03-01 14-05 3.log"}));

    struct Case {
        std::string name;
        bool isLogFile;
    };
    const Case cases[] = {
        {app + " 2026-03-01 14-05.log", true},
        {app + " 2026-03-01 14-05 12.log", true},
        {"OtherApp 2026-03-01 14-05.log", false},
        {app + " 2026-13-01 14-05.log", false},  // no 13th month
        {app + " 2026-03-01 14:05.log", false},
        {app + " 2026-03-01 14-05.txt", false},
        {app + " 2026-03-01-14-05.log", false},
        {app + " 2026-03-01 14-05 2 x.log", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(logs->isLogFile(c.name), c.isLogFile) << c.name;
    }
    EXPECT_TRUE(files().createFile(logs_ + "/notes.txt").ok());
    EXPECT_EQ(logs->unsortedLogFileNames().size(), 3u);
    EXPECT_EQ(logs->sortedLogFileNames().front(), app + " 2026-03-01 14-05 3.log");
}

TEST_F(LGFileLoggerTest, AHostIdentifierThatLeavesTheFolderNamesNoFile) {
    clock_->setNow(platform::Date::fromTimeIntervalSince1970(1'772'373'930));
    struct Case {
        std::string identifier;
        bool creates;
    };
    const Case cases[] = {
        {"../../escaped", false}, {"com.example/x", false}, {"My App \xc3\xa9", true}};
    for (const auto& c : cases) {
        platform::Bundle::setIdentifier(c.identifier);
        auto path = manager()->createNewLogFile();
        EXPECT_EQ(path.has_value(), c.creates) << c.identifier;
        if (path) {
            EXPECT_EQ(*path, logs_ + "/" + c.identifier + " 2026-03-01 14-05.log");
        }
    }
    platform::Bundle::setIdentifier({});
    EXPECT_FALSE(files().fileExists(folder_ + "/escaped 2026-03-01 14-05.log"));
    EXPECT_FALSE(files().fileExists(logs_ + "/com.example"));
}

TEST_F(LGFileLoggerTest, DeletesOldFilesByCountAndByQuotaKeepingTheFileInUse) {
    auto logs = manager();
    logs->setMaximumNumberOfLogFiles(0);
    logs->setLogFilesDiskQuota(0);
    std::vector<std::string> paths;
    for (int i = 0; i < 7; ++i) {
        paths.push_back(*logs->createNewLogFile());
    }
    logs->setMaximumNumberOfLogFiles(5);
    logs->deleteOldLogFiles();
    auto kept = logs->sortedLogFilePaths();
    EXPECT_EQ(kept, (std::vector<std::string>{paths[6], paths[5], paths[4], paths[3], paths[2]}));

    struct Case {
        bool newestArchived;
        std::size_t expectedCount;
    };
    for (auto [newestArchived, expectedCount] : {Case{false, 1}, Case{true, 0}}) {
        auto newest = logs->sortedLogFileInfos().front();
        auto handle =
            platform::FileHandle::open(newest->filePath(), platform::FileHandle::Mode::writing);
        ASSERT_TRUE(handle);
        EXPECT_TRUE(handle->truncate(25'000'000).ok());  // over the 20 MiB quota on its own
        newest->setIsArchived(newestArchived);
        logs->setMaximumNumberOfLogFiles(0);
        logs->setLogFilesDiskQuota(LGLogFileManagerDefault::defaultLogFilesDiskQuota);
        logs->deleteOldLogFiles();
        auto left = logs->sortedLogFilePaths();
        ASSERT_EQ(left.size(), expectedCount) << "archived " << newestArchived;
        if (expectedCount == 1) {
            EXPECT_EQ(left.front(), newest->filePath());
        }
    }
}

TEST_F(LGFileLoggerTest, WritesFormattedLinesAndReusesTheNewestOpenFile) {
    auto first = std::make_shared<LGFileLogger>(manager());
    LGLog::addLogger(first);
    log("one");
    log("two\n");
    auto path = currentPath(*first);
    std::string written = contents(path);
    EXPECT_NE(written.find("  one\n"), std::string::npos);
    EXPECT_TRUE(written.ends_with("  two\n"));
    EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 2);
    EXPECT_FALSE(LGLogFileInfo(path).isArchived());
    // Removal from the hub rolls and archives the file.
    LGLog::removeLogger(first);
    EXPECT_EQ(first->maximumFileSize(), LGFileLogger::defaultMaximumFileSize);  // waits for it
    EXPECT_TRUE(LGLogFileInfo(path).isArchived());

    auto second = std::make_shared<LGFileLogger>(manager());
    logThrough(second, {"three"});  // an archived file is not reused
    EXPECT_EQ(contents(path), written);
    EXPECT_EQ(manager()->sortedLogFileInfos().size(), 2u);

    // A file that is not archived is reused, unless told not to.
    auto openFile = *manager()->createNewLogFile();
    auto third = std::make_shared<LGFileLogger>(manager());
    EXPECT_EQ(currentPath(*third), openFile);
    auto fourth = std::make_shared<LGFileLogger>(manager());
    fourth->setDoNotReuseLogFiles(true);
    EXPECT_NE(currentPath(*fourth), openFile);
}

TEST_F(LGFileLoggerTest, RollsBySize) {
    auto logger = std::make_shared<LGFileLogger>(manager());
    logger->setLogFormatter(nullptr);
    logger->setMaximumFileSize(10);
    LGLog::addLogger(logger);
    log("12345");
    auto firstPath = currentPath(*logger);
    log("67890");  // reaches 12 bytes: rolls after the write
    log("next");
    auto secondPath = currentPath(*logger);
    EXPECT_NE(firstPath, secondPath);
    EXPECT_EQ(contents(firstPath), "12345\n67890\n");
    EXPECT_TRUE(LGLogFileInfo(firstPath).isArchived());
    EXPECT_EQ(contents(secondPath), "next\n");
    EXPECT_EQ(logger->maximumFileSize(), 10u);
}

// The current handle writes into the logger's current file between its lines; a roll closes
// it and the next one belongs to the new file.
TEST_F(LGFileLoggerTest, TheCurrentHandleWritesBetweenTheLoggersLinesUntilARoll) {
    auto logger = std::make_shared<LGFileLogger>(manager());
    logger->setLogFormatter(nullptr);
    LGLog::addLogger(logger);
    log("one");
    const auto handle = logger->currentLogFileHandle();
    ASSERT_TRUE(handle);
    EXPECT_EQ(logger->currentLogFileHandle(), handle);
    EXPECT_TRUE(handle->write(platform::Data{'h', 'o', 's', 't', '\n'}).ok());
    log("two");
    const std::string firstPath = currentPath(*logger);
    EXPECT_EQ(contents(firstPath), "one\nhost\ntwo\n");

    logger->rollLogFile();
    EXPECT_EQ(logger->maximumFileSize(), LGFileLogger::defaultMaximumFileSize);  // waits for it
    EXPECT_FALSE(handle->write(platform::Data{'x'}).ok());
    const auto next = logger->currentLogFileHandle();
    ASSERT_TRUE(next);
    EXPECT_NE(next, handle);
    EXPECT_NE(currentPath(*logger), firstPath);
    EXPECT_EQ(contents(firstPath), "one\nhost\ntwo\n");
    LGLog::removeLogger(logger);
}

TEST_F(LGFileLoggerTest, LinesWrittenTogetherRollAtTheSameLineAsLinesWrittenAlone) {
    auto gate = std::make_shared<testing::RecordingLogger>();
    auto logger = std::make_shared<LGFileLogger>(manager());
    logger->setLogFormatter(nullptr);
    logger->setMaximumFileSize(10);
    LGLog::addLogger(logger);
    LGLog::addLogger(gate);
    gate->hold();
    auto logAsync = [](const std::string& text) {
        LGLog::log(true, text, 31, LGLogFlagInfo, 0, "f", "fn", 1, nullptr);
    };
    logAsync("m0..");
    ASSERT_TRUE(gate->waitUntilEntered(1));
    for (const char* text : {"m1..", "m2..", "m3..", "m4..", "m5.."}) {
        logAsync(text);  // one batch: 5 bytes a line, so every second line rolls
    }
    gate->release();
    LGLog::flushLog();
    EXPECT_EQ(gate->batchSizes(), (std::vector<std::size_t>{1, 5}));

    std::multiset<std::string> written;
    for (const auto& path : manager()->unsortedLogFilePaths()) {
        written.insert(contents(path));
        EXPECT_TRUE(LGLogFileInfo(path).isArchived()) << path;  // each reached 10 bytes
    }
    EXPECT_EQ(written,
              (std::multiset<std::string>{"m0..\nm1..\n", "m2..\nm3..\n", "m4..\nm5..\n"}));
}

TEST_F(LGFileLoggerTest, RollsByAgeOnTheProcessClock) {
    auto logger = std::make_shared<LGFileLogger>(manager());
    logger->setRollingFrequency(60);
    LGLog::addLogger(logger);
    log("early");
    auto firstPath = currentPath(*logger);
    clock_->advance(30.0);
    EXPECT_EQ(currentPath(*logger), firstPath);
    EXPECT_FALSE(LGLogFileInfo(firstPath).isArchived());
    clock_->advance(31.0);
    EXPECT_EQ(logger->rollingFrequency(), 60);  // waits for the timer's work on the queue
    EXPECT_TRUE(LGLogFileInfo(firstPath).isArchived());
    log("late");
    EXPECT_NE(currentPath(*logger), firstPath);
}

// Counts the logger's rolls, so a test can wait for the watcher's report of a change.
class RollCountingManager : public LGLogFileManagerDefault {
  public:
    using LGLogFileManagerDefault::LGLogFileManagerDefault;
    void didRollAndArchiveLogFile(const std::string&) override {
        {
            std::scoped_lock lock(mutex_);
            ++rolls_;
        }
        rolled_.notify_all();
    }
    bool waitForRolls(int count) {
        std::unique_lock lock(mutex_);
        return rolled_.wait_for(lock, std::chrono::seconds(20), [&] { return rolls_ >= count; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable rolled_;
    int rolls_ = 0;  // guarded by mutex_
};

TEST_F(LGFileLoggerTest, RollsWhenTheFileIsDeletedOrRenamedUnderIt) {
    enum class Change { remove, rename };
    for (Change change : {Change::remove, Change::rename}) {
        auto rolls = std::make_shared<RollCountingManager>(logs_);
        auto logger = std::make_shared<LGFileLogger>(rolls);
        logger->setLogFormatter(nullptr);
        LGLog::addLogger(logger);
        log("before");
        auto firstPath = currentPath(*logger);
        if (change == Change::remove) {
            ASSERT_TRUE(files().removeItem(firstPath).ok());
        } else {
            ASSERT_TRUE(files().moveItem(firstPath, folder_ + "/moved.txt").ok());
        }
        // The file's watcher reports the change on the logger's queue, which rolls the file.
        ASSERT_TRUE(rolls->waitForRolls(1));
        log("after");
        // The name was freed, so the new file may well take it again.
        auto secondPath = currentPath(*logger);
        EXPECT_EQ(contents(secondPath), "after\n");
        if (change == Change::rename) {
            EXPECT_EQ(contents(folder_ + "/moved.txt"), "before\n");
        }
        testing::resetHub();
        logger->maximumFileSize();  // waits until the removal has rolled the file
        EXPECT_TRUE(LGLogFileInfo(secondPath).isArchived());
    }
}

TEST_F(LGFileLoggerTest, RollCompletionRunsOnTheMainQueue) {
    auto logger = std::make_shared<LGFileLogger>(manager());
    LGLog::addLogger(logger);
    log("line");
    auto path = currentPath(*logger);
    bool completed = false;
    logger->rollLogFileWithCompletionBlock(
        [&] { completed = platform::MainThread::isMainThread(); });
    ASSERT_TRUE(platform::MainThread::runUntil([&] { return completed; }, 20));
    EXPECT_TRUE(LGLogFileInfo(path).isArchived());
}

TEST_F(LGFileLoggerTest, ReportsOnlyTheFirstTenWriteFailures) {
    EXPECT_TRUE(files().createFile(folder_ + "/blocker").ok());
    auto logger = std::make_shared<LGFileLogger>(
        std::make_shared<LGLogFileManagerDefault>(folder_ + "/blocker/Logs"));
    LGLog::addLogger(logger);
    const std::uint64_t before = LGFileLogger::writeFailureCount();
    platform::StandardError::Capture capture;
    for (int i = 0; i < 12; ++i) {
        log("lost");
    }
    EXPECT_EQ(LGFileLogger::writeFailureCount(), before + 12);
    std::size_t failureLines = 0, tooMany = 0;
    for (const auto& line : capture.writes()) {
        if (line.find("Too many exceptions") != std::string::npos) {
            ++tooMany;
        } else if (line.starts_with("LGFileLogger.logMessage: ")) {
            ++failureLines;
        }
    }
    const std::uint64_t reported = LGFileLogger::reportedWriteFailures;
    EXPECT_EQ(failureLines, before >= reported ? 0 : reported - before);
    EXPECT_EQ(tooMany, before >= reported ? 0u : 1u);
}

TEST_F(LGFileLoggerTest, FileInfoKeepsTheArchivedMarkAndRenames) {
    auto path = *manager()->createNewLogFile();
    auto info = LGLogFileInfo::logFileWithPath(path);
    EXPECT_FALSE(info->isArchived());
    info->setIsArchived(true);
    EXPECT_TRUE(LGLogFileInfo(path).isArchived());
    info->setIsArchived(false);
    info->setIsArchived(false);  // removing a missing mark is no failure
    EXPECT_FALSE(info->isArchived());

    EXPECT_TRUE(files().createFile(logs_ + "/target.log", platform::Data{'x'}).ok());
    info->renameFile("target.log");
    EXPECT_EQ(info->filePath(), logs_ + "/target.log");
    EXPECT_EQ(info->fileName(), "target.log");
    EXPECT_EQ(contents(info->filePath()), "");  // the old target was replaced
    EXPECT_FALSE(files().fileExists(path));
    EXPECT_TRUE(*info == LGLogFileInfo(logs_ + "/target.log"));
    EXPECT_NE(info->description().find("fileName = target.log"), std::string::npos);

    // Names that leave the folder rename nothing.
    for (const char* escaping : {"../escaped.log", "..", "", "sub/x.log"}) {
        info->renameFile(escaping);
        EXPECT_EQ(info->filePath(), logs_ + "/target.log") << escaping;
    }
    EXPECT_TRUE(files().fileExists(logs_ + "/target.log"));
    EXPECT_FALSE(files().fileExists(folder_ + "/escaped.log"));
}

}  // namespace
}  // namespace pindle
