#include "PindleCore/logging/LGASLLogCapture.hpp"

#include <atomic>
#include <cmath>
#include <memory>
#include <mutex>

#include "PindleCore/logging/LGLog.hpp"
#include "platform/dispatch/Clock.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/foundation/Text.hpp"
#include "platform/log/SystemLog.hpp"

namespace pindle {

namespace {

using platform::SystemLogMessage;
using Comparison = platform::SystemLogQuery::Comparison;

constexpr double nanosecondsPerSecond = 1e9;

std::atomic<bool> running{false};
std::atomic<LGLogLevel> level{LGLogLevelAllFlags};
std::atomic<std::uint64_t> currentGeneration{0};

struct Run {
    std::uint64_t generation = 0;
    std::int64_t startTime = 0;
    // Claims each batch of records, so two notifications handled at once on the concurrent
    // queue do not log the same records twice.
    std::mutex mutex;
    std::uint64_t lastSeenID = 0;  // guarded by mutex
};

std::vector<SystemLogMessage> claimNewRecords(Run& run) {
    std::scoped_lock lock(run.mutex);
    platform::SystemLogQuery query;
    if (run.lastSeenID != 0) {
        query.add(SystemLogMessage::keyMessageID, Comparison::greater,
                  std::to_string(run.lastSeenID), true);
    } else {
        query.add(SystemLogMessage::keyTime, Comparison::greaterOrEqual,
                  std::to_string(run.startTime), true);
    }
    LGASLLogCapture::configureAslQuery(query);
    auto records = platform::SystemLog::shared().search(query);
    for (const auto& record : records) {
        auto identifier =
            platform::Text::int64Value(record.get(SystemLogMessage::keyMessageID).value_or(""));
        if (identifier) {
            run.lastSeenID = static_cast<std::uint64_t>(*identifier);
        }
    }
    return records;
}

void captureAslLogs(std::uint64_t generation) {
    auto run = std::make_shared<Run>();
    run->generation = generation;
    run->startTime = static_cast<std::int64_t>(
        std::floor(platform::Clock::current()->now().timeIntervalSince1970()));
    platform::SystemLog::shared().registerNotification(
        platform::SystemLog::messageNotification,
        platform::DispatchQueue::global(platform::DispatchQoS::userInteractive), [run](int token) {
            if (run->generation != currentGeneration.load()) {
                platform::SystemLog::shared().cancelNotification(token);
                return;
            }
            for (const auto& record : claimNewRecords(*run)) {
                LGASLLogCapture::aslMessageRecieved(record);
            }
            if (!running.load()) {
                platform::SystemLog::shared().cancelNotification(token);
            }
        });
}

}  // namespace

void LGASLLogCapture::start() {
    if (running.exchange(true)) {
        return;
    }
    std::uint64_t generation = ++currentGeneration;
    platform::DispatchQueue::global()->async([generation] { captureAslLogs(generation); });
}

void LGASLLogCapture::stop() {
    running.store(false);
}

bool LGASLLogCapture::isRunning() {
    return running.load();
}

LGLogLevel LGASLLogCapture::captureLevel() {
    return level.load();
}

void LGASLLogCapture::setCaptureLevel(LGLogLevel newLevel) {
    level.store(newLevel);
}

void LGASLLogCapture::configureAslQuery(platform::SystemLogQuery& query) {
    query.add(SystemLogMessage::keyLevel, Comparison::lessOrEqual, highestCapturedLevel, true);
}

void LGASLLogCapture::aslMessageRecieved(const platform::SystemLogMessage& record) {
    auto text = record.get(SystemLogMessage::keyMessage);
    if (!text) {
        return;
    }
    auto number = [&](const char* key) {
        return platform::Text::int64Value(record.get(key).value_or("")).value_or(0);
    };
    std::int64_t recordLevel = number(SystemLogMessage::keyLevel);
    double seconds =
        static_cast<double>(number(SystemLogMessage::keyTime)) +
        static_cast<double>(number(SystemLogMessage::keyTimeNanoSec)) / nanosecondsPerSecond;

    LGLogFlag flag = LGLogFlagVerbose;
    bool asynchronous = true;
    switch (recordLevel) {
        case 0:
        case 1:
        case 2:
            flag = LGLogFlagError;
            asynchronous = false;
            break;
        case 3:
            flag = LGLogFlagWarning;
            break;
        case 4:
            flag = LGLogFlagInfo;
            break;
        case 5:
            flag = LGLogFlagDebug;
            break;
        default:
            break;
    }
    LGLogLevel capturing = level.load();
    if ((capturing & flag) == 0) {
        return;
    }
    LGLog::log(asynchronous,
               LGLogMessage(std::move(*text), capturing, flag, 0, fileName, "", 0, nullptr, 0,
                            platform::Date::fromTimeIntervalSince1970(seconds)));
}

}  // namespace pindle
