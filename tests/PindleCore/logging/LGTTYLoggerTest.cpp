#include "PindleCore/logging/LGTTYLogger.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>

#include "PindleCore/logging/LGLog.hpp"
#include "platform/files/ProcessInfo.hpp"
#include "platform/log/StandardError.hpp"
#include "tests/PindleCore/logging/RecordingLogger.hpp"

namespace pindle {
namespace {

class Fixed : public LGLogFormatter {
  public:
    explicit Fixed(std::optional<std::string> result) : result_(std::move(result)) {}
    std::optional<std::string> formatLogMessage(const LGLogMessage&) override { return result_; }

  private:
    std::optional<std::string> result_;
};

class LGTTYLoggerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testing::resetHub();
        LGLog::addLogger(logger_);
    }
    void TearDown() override {
        testing::resetHub();
        logger_->setLogFormatter(nullptr);
        logger_->setAutomaticallyAppendNewlineForCustomFormatters(true);
        logger_->logFormatter();  // waits until the reset has run
    }

    static void logAt(double seconds, const std::string& text) {
        LGLog::log(false, LGLogMessage(text, 31, LGLogFlagInfo, 0, "f", "fn", 1, nullptr, 0,
                                       platform::Date::fromTimeIntervalSince1970(seconds)));
    }

    std::shared_ptr<LGTTYLogger> logger_ = LGTTYLogger::sharedInstance();
};

TEST_F(LGTTYLoggerTest, WritesOneLinePerMessageInTheConsoleFormat) {
    platform::StandardError::Capture capture;
    const double when = 1'700'000'000.0429;
    logAt(when, "hello");
    logAt(when, "ends with its own line feed\n");

    std::time_t seconds = static_cast<std::time_t>(when);
    std::tm local{};
    localtime_r(&seconds, &local);
    char date[32];
    std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &local);
    LGLogMessage probe("", 0, 0, 0, "", "", 0);
    std::string prefix = std::string(date) + ":042 " + platform::ProcessInfo::processName() + "[" +
                         std::to_string(platform::ProcessInfo::processIdentifier()) + ":" +
                         probe.threadID().substr(0, 8) + "] ";

    EXPECT_EQ(capture.writes(), (std::vector<std::string>{
                                    prefix + "hello\n", prefix + "ends with its own line feed\n"}));
}

TEST_F(LGTTYLoggerTest, CustomFormattedTextIsWrittenBare) {
    struct Case {
        std::optional<std::string> formatted;
        bool appendNewline;
        std::vector<std::string> expectedWrites;
    };
    const Case cases[] = {
        {"custom", true, {"custom\n"}},
        {"custom\n", true, {"custom\n"}},
        {"custom", false, {"custom"}},
        {std::nullopt, true, {}},  // dropped by the formatter
    };
    for (const auto& c : cases) {
        logger_->setLogFormatter(std::make_shared<Fixed>(c.formatted));
        logger_->setAutomaticallyAppendNewlineForCustomFormatters(c.appendNewline);
        platform::StandardError::Capture capture;
        logAt(0, "message text");
        EXPECT_EQ(capture.writes(), c.expectedWrites) << c.formatted.value_or("<nil>");
    }
    // A formatter that hands back the message's own text leaves the line decorated.
    logger_->setLogFormatter(std::make_shared<Fixed>("message text"));
    platform::StandardError::Capture capture;
    logAt(0, "message text");
    ASSERT_EQ(capture.writes().size(), 1u);
    EXPECT_NE(capture.writes()[0], "message text\n");
    EXPECT_TRUE(capture.writes()[0].ends_with("] message text\n"));
}

TEST_F(LGTTYLoggerTest, LinesOfOneBatchShareWritesThatHoldWholeLines) {
    auto gate = std::make_shared<testing::RecordingLogger>();
    LGLog::addLogger(gate);
    platform::StandardError::Capture capture;
    gate->hold();
    auto logAsync = [](const std::string& text) {
        LGLog::log(true, text, 31, LGLogFlagInfo, 0, "f", "fn", 1, nullptr);
    };
    // The capture takes every write to the console, and a thread left over from another test
    // may write there too: the lines of this batch are told apart by their marker.
    const std::string marker = "batch-of-tty ";
    std::vector<std::string> texts{marker + "first"};
    logAsync(texts[0]);
    ASSERT_TRUE(gate->waitUntilEntered(1));
    for (int i = 0; i < 100; ++i) {
        texts.push_back(marker + "line " + std::to_string(i) + std::string(60, '.'));
    }
    texts.push_back(marker + std::string(LGTTYLogger::gatherLimit + 10, 'L'));  // over a write
    texts.push_back(marker + "last");
    for (std::size_t i = 1; i < texts.size(); ++i) {
        logAsync(texts[i]);
    }
    gate->release();
    LGLog::flushLog();

    std::vector<std::string> lines;
    std::size_t ownWrites = 0;
    for (const auto& write : capture.writes()) {
        ASSERT_TRUE(write.ends_with("\n"));
        const auto lineCount = std::count(write.begin(), write.end(), '\n');
        EXPECT_TRUE(write.size() <= LGTTYLogger::gatherLimit || lineCount == 1) << write.size();
        bool own = false;
        for (std::size_t start = 0; start < write.size();) {
            std::size_t end = write.find('\n', start);
            std::string line = write.substr(start, end - start);
            start = end + 1;
            if (line.find("] " + marker) == std::string::npos)
                continue;
            own = true;
            lines.push_back(std::move(line));
        }
        ownWrites += own ? 1 : 0;
    }
    ASSERT_EQ(lines.size(), texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i) {
        EXPECT_TRUE(lines[i].ends_with("] " + texts[i])) << i;
    }
    EXPECT_LT(ownWrites, texts.size() / 10);
}

TEST(LGTTYColorTableTest, ModeFollowsTheEnvironment) {
    using Mode = LGTTYColorTable::Mode;
    struct Case {
        std::optional<std::string> xcodeColors, term;
        Mode expected;
    };
    const Case cases[] = {
        {std::nullopt, std::nullopt, Mode::none},
        {std::nullopt, "xterm", Mode::none},
        {std::nullopt, "xterm-color", Mode::ansi16},
        {std::nullopt, "XTERM-COLOR", Mode::ansi16},
        {std::nullopt, "xterm-256color", Mode::ansi256},
        {"YES", "xterm-256color", Mode::xcodeColors},
        {"NO", "xterm-256color", Mode::ansi256},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LGTTYColorTable::modeForEnvironment(c.xcodeColors, c.term), c.expected)
            << c.term.value_or("-");
    }
    EXPECT_EQ(LGTTYColorTable(Mode::ansi16).size(), 16u);
    EXPECT_EQ(LGTTYColorTable(Mode::ansi256).size(), 240u);
    EXPECT_EQ(LGTTYColorTable(Mode::xcodeColors).size(), 0u);
    EXPECT_EQ(LGTTYColorTable(Mode::none).codeIndexForColor(LGColor{1, 1, 1}), 0u);
}

TEST(LGTTYLoggerColorProfileTest, CodesFollowTheTerminalMode) {
    using Mode = LGTTYColorTable::Mode;
    const LGColor red = LGColor::fromBytes(250, 60, 30);
    const LGColor justBlue = LGColor::fromBytes(88, 51, 255);
    struct Case {
        Mode mode;
        std::optional<LGColor> foreground, background;
        std::string fg, bg, reset;
    };
    const Case cases[] = {
        {Mode::none, red, red, "", "", ""},
        {Mode::ansi16, red, std::nullopt, "\033[1;31m", "", "\033[0m"},
        {Mode::ansi16, std::nullopt, justBlue, "", "\033[1;44m", "\033[0m"},
        {Mode::ansi256, justBlue, std::nullopt, "\033[38;5;21m", "", "\033[0m"},
        {Mode::xcodeColors, red, LGColor::fromBytes(0, 0, 0), "\033[fg250,60,30;", "\033[bg0,0,0;",
         "\033[;"},
    };
    for (const auto& c : cases) {
        LGTTYColorTable table(c.mode);
        LGTTYLoggerColorProfile profile(c.foreground, c.background, LGLogFlagError, 3, table);
        EXPECT_EQ(profile.fgCode(), c.fg);
        EXPECT_EQ(profile.bgCode(), c.bg);
        EXPECT_EQ(profile.resetCode(), c.reset);
    }
    LGTTYColorTable table(Mode::ansi16);
    LGTTYLoggerColorProfile profile(red, std::nullopt, LGLogFlagError, 3, table);
    EXPECT_NE(profile.description().find("mask:1 ctxt:3 fg:250,60,30 bg:0,0,0 fgCode:1;31m"),
              std::string::npos);
}

}  // namespace
}  // namespace pindle
