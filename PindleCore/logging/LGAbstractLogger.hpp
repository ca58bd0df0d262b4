// LGAbstractLogger: the base of the framework's loggers: a serial queue of its own, labelled
// with the logger's name and marked so the logger can tell it runs there, and the formatter.
//
// Subclasses override logMessage() (which runs on loggerQueue()) and read formatter_
// directly there. The formatter field is touched only on the logger's queue: the accessors
// reach it through the hub's logging queue and then the logger's queue, so a change is
// ordered with the messages queued around it.
//
// Loggers are shared: create them with std::make_shared (the formatter setter keeps the
// logger alive until the change has run).
//
// Thread-safety: the public operations may be called from any thread, except where a
// REQUIRES line says otherwise. The formatter hooks run on the logger's queue.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "PindleCore/logging/LGLogger.hpp"
#include "platform/dispatch/DispatchQueue.hpp"

namespace pindle {

class LGAbstractLogger : public LGLogger, public std::enable_shared_from_this<LGAbstractLogger> {
  public:
    ~LGAbstractLogger() override = default;
    LGAbstractLogger(const LGAbstractLogger&) = delete;
    LGAbstractLogger& operator=(const LGAbstractLogger&) = delete;

    // Does nothing; subclasses write the message somewhere.
    void logMessage(const LGLogMessage& logMessage) override;

    // REQUIRES: not called on the hub's logging queue or on this logger's queue.
    LGLogFormatterPtr logFormatter() const override;
    // Replaces the formatter asynchronously; the old one hears willRemoveFromLogger() and the
    // new one didAddToLogger(), on the logger's queue. Setting the current one does nothing.
    void setLogFormatter(LGLogFormatterPtr formatter) override;

    platform::DispatchQueuePtr loggerQueue() const override;
    std::string loggerName() const override { return loggerName_; }

    // Whether the caller runs on the hub's logging queue.
    bool isOnGlobalLoggingQueue() const;
    // Whether the caller runs on this logger's queue.
    bool isOnInternalLoggerQueue() const;
    // REQUIRES: set before the logger is added to the hub.
    void setLoggerQueue(platform::DispatchQueuePtr queue);

  protected:
    explicit LGAbstractLogger(std::string loggerName);

    // Runs `work` on the logger's queue: at once when already there, else asynchronously
    // through the logging queue, then the logger's queue.
    void runOnLoggerQueue(std::function<void()> work);
    // Runs `work` synchronously through the logging queue and the logger's queue.
    // REQUIRES: not called on either queue.
    void syncOnLoggerQueue(const std::function<void()>& work) const;

    // The text to write for `logMessage`: the formatter's result (kept in `storage`), or the
    // message's own text without a formatter (not copied); nothing when the formatter drops
    // it. `customFormatted` tells whether the formatter made a text of its own. The view
    // lives as long as the message and `storage`. Runs on the logger's queue.
    std::optional<std::string_view> formattedText(const LGLogMessage& logMessage,
                                                  std::string& storage,
                                                  bool& customFormatted) const;

    LGLogFormatterPtr formatter_;  // touched only on the logger's queue

  private:
    const std::string loggerName_;
    platform::DispatchQueuePtr queue_;  // replaced only before the logger is in use
};

}  // namespace pindle
