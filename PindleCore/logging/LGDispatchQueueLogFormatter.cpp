#include "PindleCore/logging/LGDispatchQueueLogFormatter.hpp"

#include <array>
#include <string_view>

namespace pindle {

namespace {

// Shared queues say nothing about who logged: the thread does.
constexpr std::array<std::string_view, 6> globalQueueLabels{
    "com.apple.root.low-priority",
    "com.apple.root.default-priority",
    "com.apple.root.high-priority",
    "com.apple.root.low-overcommit-priority",
    "com.apple.root.default-overcommit-priority",
    "com.apple.root.high-overcommit-priority",
};

bool isGlobalQueueLabel(const std::string& label) {
    for (auto global : globalQueueLabels) {
        if (label == global) {
            return true;
        }
    }
    return false;
}

}  // namespace

LGDispatchQueueLogFormatter::LGDispatchQueueLogFormatter(std::string datePattern)
    : dateFormatter_(datePattern, platform::TimeZone::local()) {
    replacements_[mainQueueLabel] = mainQueueReplacement;
}

std::optional<std::string> LGDispatchQueueLogFormatter::formatLogMessage(
    const LGLogMessage& logMessage) {
    return stringFromDate(logMessage.timestamp()) + " [" +
           queueThreadLabelForLogMessage(logMessage) + "] " + logMessage.message();
}

void LGDispatchQueueLogFormatter::didAddToLogger(LGLogger&) {
    ++loggerCount_;
}

void LGDispatchQueueLogFormatter::willRemoveFromLogger(LGLogger&) {
    --loggerCount_;
}

std::optional<std::string> LGDispatchQueueLogFormatter::replacementStringForQueueLabel(
    const std::string& label) const {
    std::scoped_lock lock(mutex_);
    auto found = replacements_.find(label);
    if (found == replacements_.end()) {
        return std::nullopt;
    }
    return found->second;
}

void LGDispatchQueueLogFormatter::setReplacementString(std::optional<std::string> replacement,
                                                       const std::string& label) {
    std::scoped_lock lock(mutex_);
    if (replacement) {
        replacements_[label] = std::move(*replacement);
    } else {
        replacements_.erase(label);
    }
}

std::string LGDispatchQueueLogFormatter::stringFromDate(platform::Date date) const {
    return dateFormatter_.string(date);
}

std::string LGDispatchQueueLogFormatter::queueThreadLabelForLogMessage(
    const LGLogMessage& logMessage) const {
    std::string label;
    bool replaceable = true;
    const std::string& queueLabel = logMessage.queueLabel();
    if (!queueLabel.empty() && !isGlobalQueueLabel(queueLabel)) {
        label = queueLabel;
    } else if (!logMessage.threadName().empty()) {
        label = logMessage.threadName();
    } else {
        label = logMessage.threadID();
        replaceable = false;
    }
    if (replaceable) {
        if (auto replacement = replacementStringForQueueLabel(label)) {
            label = std::move(*replacement);
        }
    }
    std::uint64_t maxLength = maxQueueLength_.load();
    std::uint64_t minLength = minQueueLength_.load();
    if (maxLength != 0 && label.size() > maxLength) {
        label.resize(maxLength);
    } else if (label.size() < minLength) {
        label.append(minLength - label.size(), ' ');
    }
    return label;
}

}  // namespace pindle
