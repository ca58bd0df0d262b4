// LGLogger: a destination of log messages that the hub (LGLog) fans messages out to.
//
// The hub calls logMessage(), didLogMessageBatch(), didAddLogger(), willRemoveLogger() and
// flush() on the logger's queue (loggerQueue(), or a serial queue the hub makes for it), one
// call at a time. Loggers derived from LGAbstractLogger bring their own queue.
#pragma once

#include <memory>
#include <string>

#include "PindleCore/logging/LGLogFormatter.hpp"
#include "PindleCore/logging/LGLogMessage.hpp"
#include "platform/dispatch/DispatchQueue.hpp"

namespace pindle {

class LGLogger {
  public:
    virtual ~LGLogger() = default;

    virtual void logMessage(const LGLogMessage& logMessage) = 0;
    virtual LGLogFormatterPtr logFormatter() const = 0;
    virtual void setLogFormatter(LGLogFormatterPtr formatter) = 0;

    // After logMessage() has run for each message of a batch the hub handed over at once. A
    // logger that gathers its output writes it out here: the hub counts the batch as
    // processed when this returns (a synchronous log call is a batch of one).
    virtual void didLogMessageBatch() {}
    virtual void didAddLogger() {}
    virtual void willRemoveLogger() {}
    virtual void flush() {}
    // The queue the hub should run this logger on; nullptr lets the hub make one.
    virtual platform::DispatchQueuePtr loggerQueue() const { return nullptr; }
    // Labels the queue the hub makes for a logger without one.
    virtual std::string loggerName() const { return {}; }
};

using LGLoggerPtr = std::shared_ptr<LGLogger>;

}  // namespace pindle
