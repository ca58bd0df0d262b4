#include <gtest/gtest.h>

#include <ctime>
#include <thread>

#include "PindleCore/logging/LGContextBlacklistFilterLogFormatter.hpp"
#include "PindleCore/logging/LGContextWhitelistFilterLogFormatter.hpp"
#include "PindleCore/logging/LGDispatchQueueLogFormatter.hpp"
#include "PindleCore/logging/LGLogFileFormatterDefault.hpp"
#include "PindleCore/logging/LGMultiFormatter.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/MainThread.hpp"
#include "platform/dispatch/ThreadIdentity.hpp"

namespace pindle {
namespace {

constexpr double when = 1'700'000'000.042;

LGLogMessage messageWithContext(std::int64_t context, std::string text = "text") {
    return LGLogMessage(std::move(text), 31, LGLogFlagInfo, context, "f", "fn", 1, nullptr, 0,
                        platform::Date::fromTimeIntervalSince1970(when));
}

std::string localTime(const char* format) {
    std::time_t seconds = static_cast<std::time_t>(when);
    std::tm local{};
    localtime_r(&seconds, &local);
    char buffer[64];
    std::strftime(buffer, sizeof buffer, format, &local);
    return buffer;
}

class Suffix : public LGLogFormatter {
  public:
    explicit Suffix(std::optional<std::string> suffix) : suffix_(std::move(suffix)) {}
    std::optional<std::string> formatLogMessage(const LGLogMessage& m) override {
        if (!suffix_) {
            return std::nullopt;
        }
        return m.message() + *suffix_;
    }

  private:
    std::optional<std::string> suffix_;
};

TEST(LGContextFilterTest, WhitelistPassesListedContextsAndBlacklistTheOthers) {
    LGContextWhitelistFilterLogFormatter whitelist;
    LGContextBlacklistFilterLogFormatter blacklist;
    EXPECT_EQ(whitelist.formatLogMessage(messageWithContext(1)), std::nullopt);
    EXPECT_EQ(blacklist.formatLogMessage(messageWithContext(1)), "text");

    for (std::int64_t context : {1, -1, 7}) {
        whitelist.addToWhitelist(context);
        blacklist.addToBlacklist(context);
    }
    whitelist.removeFromWhitelist(7);
    blacklist.removeFromBlacklist(7);
    struct Case {
        std::int64_t context;
        bool listed;
    };
    for (auto [context, listed] : {Case{1, true}, Case{-1, true}, Case{7, false}, Case{0, false}}) {
        EXPECT_EQ(whitelist.isOnWhitelist(context), listed);
        EXPECT_EQ(blacklist.isOnBlacklist(context), listed);
        EXPECT_EQ(whitelist.formatLogMessage(messageWithContext(context)).has_value(), listed);
        EXPECT_EQ(blacklist.formatLogMessage(messageWithContext(context)).has_value(), !listed);
    }
    auto listedContexts = whitelist.whitelist();
    std::sort(listedContexts.begin(), listedContexts.end());
    EXPECT_EQ(listedContexts, (std::vector<std::int64_t>{-1, 1}));
}

TEST(LGMultiFormatterTest, ChainsLinksInOrderAndStopsAtADrop) {
    LGMultiFormatter chain;
    EXPECT_EQ(chain.formatLogMessage(messageWithContext(0)), "text");

    auto a = std::make_shared<Suffix>("-a");
    auto b = std::make_shared<Suffix>("-b");
    chain.addFormatter(a);
    chain.addFormatter(b);
    chain.addFormatter(a);
    EXPECT_EQ(chain.formatLogMessage(messageWithContext(0)), "text-a-b-a");
    EXPECT_TRUE(chain.isFormattingWithFormatter(b));

    chain.removeFormatter(a);  // every entry of it
    EXPECT_EQ(chain.formatters(), std::vector<LGLogFormatterPtr>{b});

    auto drop = std::make_shared<Suffix>(std::nullopt);
    chain.addFormatter(drop);
    chain.addFormatter(a);
    EXPECT_EQ(chain.formatLogMessage(messageWithContext(0)), std::nullopt);

    chain.removeAllFormatters();
    EXPECT_FALSE(chain.isFormattingWithFormatter(b));
    EXPECT_EQ(chain.formatLogMessage(messageWithContext(0)), "text");
}

TEST(LGLogFileFormatterDefaultTest, WritesLocalDateTwoBlanksAndText) {
    LGLogFileFormatterDefault formatter;
    EXPECT_EQ(formatter.formatLogMessage(messageWithContext(0, "hello")),
              localTime("%Y/%m/%d %H:%M:%S") + ":042  hello");
    LGLogFileFormatterDefault utc(platform::DateFormatter("HH:mm", platform::TimeZone::utc()));
    EXPECT_EQ(utc.formatLogMessage(messageWithContext(0, "hello")), "22:13  hello");
}

TEST(LGDispatchQueueLogFormatterTest, ShowsQueueOrThreadWithReplacementsAndLengthLimits) {
    LGDispatchQueueLogFormatter formatter;
    auto onQueue = [](const platform::DispatchQueuePtr& queue) {
        return queue->sync([] { return messageWithContext(0, "text"); });
    };
    std::optional<LGLogMessage> onMain;
    platform::DispatchQueue::main()->async([&] { onMain = messageWithContext(0); });
    ASSERT_TRUE(platform::MainThread::runUntil([&] { return onMain.has_value(); }, 20));

    std::optional<LGLogMessage> namedThread, unnamedThread;
    std::thread([&] {
        unnamedThread = messageWithContext(0);
        platform::ThreadIdentity::setCurrentThreadName("worker-7");
        namedThread = messageWithContext(0);
    }).join();

    EXPECT_EQ(formatter.formatLogMessage(*onMain),
              localTime("%Y-%m-%d %H:%M:%S") + ":042 [main] text");
    EXPECT_EQ(formatter.queueThreadLabelForLogMessage(
                  onQueue(platform::DispatchQueue::create("com.example.upload"))),
              "com.example.upload");
    EXPECT_EQ(formatter.queueThreadLabelForLogMessage(*namedThread), "worker-7");
    EXPECT_EQ(formatter.queueThreadLabelForLogMessage(*unnamedThread), unnamedThread->threadID());
    // A global queue shows its thread, not its label.
    auto onGlobal = onQueue(platform::DispatchQueue::global());
    EXPECT_NE(formatter.queueThreadLabelForLogMessage(onGlobal), "com.apple.root.default-priority");

    formatter.setReplacementString("worker", "worker-7");
    EXPECT_EQ(formatter.queueThreadLabelForLogMessage(*namedThread), "worker");
    formatter.setReplacementString(std::nullopt, "worker-7");
    EXPECT_EQ(formatter.replacementStringForQueueLabel("worker-7"), std::nullopt);

    formatter.setMinQueueLength(8);
    EXPECT_EQ(formatter.queueThreadLabelForLogMessage(*onMain), "main    ");
    formatter.setMaxQueueLength(4);
    auto tenCharacters = onQueue(platform::DispatchQueue::create("0123456789"));
    EXPECT_EQ(formatter.queueThreadLabelForLogMessage(tenCharacters), "0123");
}

}  // namespace
}  // namespace pindle
