// LGLog: the logging hub. Callers hand it one message at a time; it passes each message to
// every logger whose level mask contains the message's flag, each on the logger's own serial
// queue, each logger taking the messages in the order they were queued.
//
// All list changes and dispatching run on one serial logging queue ("p.logging"). Adding
// and removing loggers are asynchronous: a message queued after the add reaches the new
// logger, one queued before does not. An asynchronous log call returns once the message is
// queued; a synchronous one after every matching logger has processed it. At most
// maxQueuedMessages are queued or in dispatch at once: the caller of the next one blocks
// until one has been dispatched (the bound keeps a burst's memory in check).
//
// Asynchronous messages queued while the logging queue is busy are dispatched together as
// one batch: each logger gets logMessage() for each of them, then didLogMessageBatch(), and
// the hub starts nothing else before every logger has finished the batch. Loggers therefore
// stay in step batch by batch rather than message by message. A batch never spans anything
// else sent to the logging queue (list changes, flushes, synchronous messages, work sent
// through loggingQueue()).
//
// Queueing an asynchronous message allocates nothing in the hub and never waits for the
// logging thread's work: messages wait in a fixed ring of reusable slots. A dispatched message's
// tag is let go as soon as every logger has processed it; its text stays in its slot until a later
// message takes the slot, and is freed by that message's caller. The logging thread waits a
// few microseconds for more messages before it lets its thread go, and a flush asked for
// while it runs is made by it, in order with the messages, so a steady producer that
// flushes now and then does not wake it again each time.
//
// With two or more processors the loggers of one batch run in parallel, with one
// processor one after the other in list order.
//
// The hub flushes every logger when the application posts its "will terminate"
// notification (platform::Application).
//
// Per-class levels: a class (by name) that registers a getter and a setter of its own level
// can be asked and told its level through the hub; names that are not registered answer
// LGLogLevelAll.
//
// Thread-safety: every operation may be called from any thread, except where a REQUIRES
// line says otherwise. Logger hooks run on each logger's queue.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "PindleCore/logging/LGLogFlag.hpp"
#include "PindleCore/logging/LGLogMessage.hpp"
#include "PindleCore/logging/LGLogger.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/foundation/Object.hpp"

namespace pindle {

class LGLog {
  public:
    LGLog() = delete;

    static constexpr const char* loggingQueueLabel = "p.logging";
    static constexpr long maxQueuedMessages = 1000;

    // Work sent to the returned queue runs after every message queued before this call.
    static platform::DispatchQueuePtr loggingQueue();
    static bool isOnLoggingQueue();

    // A null logger is ignored. The same logger added twice receives each message twice.
    static void addLogger(LGLoggerPtr logger, LGLogLevel level = LGLogLevelAll);
    // Removes the first entry of `logger`; nothing when it is not in the list.
    static void removeLogger(const LGLoggerPtr& logger);
    static void removeAllLoggers();
    // The loggers in list order. REQUIRES: not on the logging queue.
    static std::vector<LGLoggerPtr> allLoggers();

    // Waits while maxQueuedMessages are outstanding, then dispatches `message`.
    // REQUIRES (synchronous): not on the logging queue nor inside a logger's logMessage().
    static void queueLogMessage(LGLogMessagePtr message, bool asynchronous);

    // Builds the text from a printf format and its arguments; a null format logs nothing.
    static void log(bool asynchronous, LGLogLevel level, LGLogFlag flag, std::int64_t context,
                    const char* file, const char* function, std::uint64_t line,
                    platform::ObjectPtr tag, const char* format, ...)
        __attribute__((format(printf, 9, 10)));
    static void logv(bool asynchronous, LGLogLevel level, LGLogFlag flag, std::int64_t context,
                     const char* file, const char* function, std::uint64_t line,
                     platform::ObjectPtr tag, const char* format, va_list arguments)
        __attribute__((format(printf, 9, 0)));
    // Logs a ready text.
    static void log(bool asynchronous, std::string message, LGLogLevel level, LGLogFlag flag,
                    std::int64_t context, const char* file, const char* function,
                    std::uint64_t line, platform::ObjectPtr tag);
    // Logs a ready message.
    static void log(bool asynchronous, LGLogMessage message);

    // Returns once every logger's flush() has run. REQUIRES: not on the logging queue or a
    // logger's queue.
    static void flushLog();
    static void applicationWillTerminate();

    // Per-class levels.
    struct ClassLevelAccess {
        std::function<LGLogLevel()> logLevel;
        std::function<void(LGLogLevel)> setLogLevel;
    };
    // REQUIRES: both functions set.
    static void registerClass(const std::string& className, ClassLevelAccess access);
    static void unregisterClass(const std::string& className);
    static bool isRegisteredClass(const std::string& className);
    static std::vector<std::string> registeredClassNames();
    // LGLogLevelAll for a class that is not registered.
    static LGLogLevel levelForClass(const std::string& className);
    // Does nothing for a class that is not registered.
    static void setLevelForClass(const std::string& className, LGLogLevel level);
};

}  // namespace pindle
