#include "PindleCore/model/PNLogger.hpp"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <ctime>

#include "platform/dispatch/Clock.hpp"
#include "platform/foundation/StandardOutput.hpp"

namespace pindle {
namespace {

using platform::Clock;
using platform::Date;
using platform::StandardOutput;
using platform::VirtualClock;

class PNLoggerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        clock_ = std::make_shared<VirtualClock>(Date::fromTimeIntervalSince1970(1551435630.456));
        Clock::setCurrent(clock_);
    }
    void TearDown() override { Clock::setCurrent(nullptr); }

    std::shared_ptr<VirtualClock> clock_;
};

TEST_F(PNLoggerTest, LinesMatchTheFormatByteForByte) {
    StandardOutput::Capture capture;
    PNLogger logger(PNLoggerType::RQST);
    logger.log("hello");
    logger.addPrefix("first");
    logger.addPrefix("abc");
    logger.log("hello");
    logger.addPrefix("");
    logger.log("hello");
    logger.removePreffix();
    logger.removePreffix();
    logger.log("hello");

    const std::vector<std::string> expected = {
        "[2019-03-01 10:20:30.456Z][PINLET_RQST] hello\n",
        "[2019-03-01 10:20:30.456Z][PINLET_RQST] abc hello\n",
        "[2019-03-01 10:20:30.456Z][PINLET_RQST]  hello\n",
        "[2019-03-01 10:20:30.456Z][PINLET_RQST] hello\n",
    };
    EXPECT_EQ(capture.writes(), expected);
}

TEST_F(PNLoggerTest, TimestampIsUTCWhateverTheZoneAndLocale) {
    const char* savedTZ = std::getenv("TZ");
    std::string saved = savedTZ ? savedTZ : "";
    setenv("TZ", "Asia/Kathmandu", 1);
    tzset();
    std::setlocale(LC_ALL, "C.UTF-8");

    StandardOutput::Capture capture;
    PNLogger(PNLoggerType::NTFS).log("x");
    EXPECT_EQ(capture.lines(),
              std::vector<std::string>{"[2019-03-01 10:20:30.456Z][PINLET_NTFS] x"});

    if (savedTZ) {
        setenv("TZ", saved.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
    std::setlocale(LC_ALL, "C");
}

TEST_F(PNLoggerTest, OnlyTheThroughputChannelIsOff) {
    StandardOutput::Capture capture;
    for (const char* name :
         {"PLR", "IPLR", "PLMNG", "PLST", "RQST", "VDSR", "VDLD", "VDCH", "THRP", "NTFS"}) {
        std::optional<PNLoggerType> type = loggerTypeFromRawValue(name);
        ASSERT_TRUE(type) << name;
        EXPECT_EQ(rawValue(*type), name);
        PNLogger(*type).log(name);
    }
    EXPECT_EQ(capture.lines().size(), 9u);
    for (const std::string& line : capture.lines()) EXPECT_EQ(line.find("THRP"), std::string::npos);
    EXPECT_EQ(loggerTypeFromRawValue("rqst"), std::nullopt);
    EXPECT_EQ(loggerTypeFromRawValue(""), std::nullopt);
}

}  // namespace
}  // namespace pindle
