#include "PindleCore/logging/LGASLLogger.hpp"

#include "platform/log/SystemLog.hpp"

namespace pindle {

std::shared_ptr<LGASLLogger> LGASLLogger::sharedInstance() {
    static auto* instance =
        new std::shared_ptr<LGASLLogger>(std::make_shared<LGASLLogger>(Private()));
    return *instance;
}

LGASLLogger::LGASLLogger(Private)
    : LGAbstractLogger(name), client_(platform::SystemLog::shared(), std::nullopt, facility) {}

std::string LGASLLogger::levelForFlag(LGLogFlag flag) {
    switch (flag) {
        case LGLogFlagError:
            return "2";
        case LGLogFlagWarning:
            return "3";
        case LGLogFlagInfo:
            return "4";
        default:
            return "5";
    }
}

void LGASLLogger::logMessage(const LGLogMessage& logMessage) {
    if (logMessage.fileName() == captureFileName) {
        return;
    }
    std::optional<std::string> text =
        formatter_ ? formatter_->formatLogMessage(logMessage) : logMessage.message();
    if (!text) {
        return;
    }
    platform::SystemLogMessage record;
    bool complete =
        record.set(platform::SystemLogMessage::keyLevel, levelForFlag(logMessage.flag())) &&
        record.set(platform::SystemLogMessage::keyMessage, std::move(*text)) &&
        record.set(platform::SystemLogMessage::keyReadUID, std::to_string(::geteuid()));
    if (complete) {
        client_.send(record);
    }
}

}  // namespace pindle
