#include "PindleCore/logging/LGAbstractLogger.hpp"

#include "PindleCore/logging/LGLog.hpp"

namespace pindle {

namespace {

// Marks each logger's queue with the logger itself.
platform::DispatchSpecificKey<const void*> loggerQueueKey;

}  // namespace

LGAbstractLogger::LGAbstractLogger(std::string loggerName)
    : loggerName_(std::move(loggerName)), queue_(platform::DispatchQueue::create(loggerName_)) {
    queue_->setSpecific(loggerQueueKey, std::optional<const void*>(this));
}

void LGAbstractLogger::logMessage(const LGLogMessage& logMessage) {
    (void)logMessage;
}

LGLogFormatterPtr LGAbstractLogger::logFormatter() const {
    LGLogFormatterPtr formatter;
    syncOnLoggerQueue([&] { formatter = formatter_; });
    return formatter;
}

void LGAbstractLogger::setLogFormatter(LGLogFormatterPtr formatter) {
    auto self = shared_from_this();
    runOnLoggerQueue([self, formatter = std::move(formatter)] {
        if (formatter == self->formatter_) {
            return;
        }
        if (self->formatter_) {
            self->formatter_->willRemoveFromLogger(*self);
        }
        self->formatter_ = formatter;
        if (formatter) {
            formatter->didAddToLogger(*self);
        }
    });
}

platform::DispatchQueuePtr LGAbstractLogger::loggerQueue() const {
    return queue_;
}

bool LGAbstractLogger::isOnGlobalLoggingQueue() const {
    return LGLog::isOnLoggingQueue();
}

bool LGAbstractLogger::isOnInternalLoggerQueue() const {
    auto marker = platform::DispatchQueue::getCurrentSpecific(loggerQueueKey);
    return marker && *marker == this;
}

void LGAbstractLogger::setLoggerQueue(platform::DispatchQueuePtr queue) {
    if (!queue) {
        return;
    }
    queue->setSpecific(loggerQueueKey, std::optional<const void*>(this));
    queue_ = std::move(queue);
}

void LGAbstractLogger::runOnLoggerQueue(std::function<void()> work) {
    if (isOnInternalLoggerQueue()) {
        work();
        return;
    }
    LGLog::loggingQueue()->async(
        [queue = queue_, work = std::move(work)]() mutable { queue->async(std::move(work)); });
}

void LGAbstractLogger::syncOnLoggerQueue(const std::function<void()>& work) const {
    LGLog::loggingQueue()->sync([&] { queue_->sync(work); });
}

std::optional<std::string_view> LGAbstractLogger::formattedText(const LGLogMessage& logMessage,
                                                                std::string& storage,
                                                                bool& customFormatted) const {
    customFormatted = false;
    if (!formatter_)
        return std::string_view(logMessage.message());
    std::optional<std::string> text = formatter_->formatLogMessage(logMessage);
    if (!text)
        return std::nullopt;
    customFormatted = *text != logMessage.message();
    storage = std::move(*text);
    return std::string_view(storage);
}

}  // namespace pindle
