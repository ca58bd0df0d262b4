#include "PindleCore/logging/LGLog.hpp"

#include <algorithm>
#include <cstdio>
#include <map>
#include <mutex>

#include "PindleCore/logging/LGLoggerNode.hpp"
#include "platform/app/Application.hpp"
#include "platform/dispatch/DispatchGroup.hpp"
#include "platform/dispatch/DispatchSemaphore.hpp"
#include "platform/files/ProcessInfo.hpp"
#include "platform/foundation/NotificationCenter.hpp"

namespace pindle {

namespace {

constexpr std::size_t initialLoggerCapacity = 4;

platform::DispatchSpecificKey<const void*> globalLoggingQueueIdentityKey;

// The hub's process-wide state, made on first use and never destroyed (logger queues may
// still run while static destructors would).
struct Hub {
    Hub()
        : queue(platform::DispatchQueue::create(LGLog::loggingQueueLabel)),
          group(platform::DispatchGroup::create()),
          semaphore(LGLog::maxQueuedMessages),
          processorCount(std::max(1u, platform::ProcessInfo::processorCount())) {
        nodes.reserve(initialLoggerCapacity);
        queue->setSpecific(globalLoggingQueueIdentityKey,
                           std::optional<const void*>(&globalLoggingQueueIdentityKey));
        termination = platform::NotificationCenter::defaultCenter().addObserverForName(
            std::optional<std::string>(platform::Application::willTerminateNotification),
            static_cast<const platform::Object*>(nullptr), std::shared_ptr<platform::Executor>(),
            [](const platform::Notification&) { LGLog::applicationWillTerminate(); });
    }

    const platform::DispatchQueuePtr queue;
    const platform::DispatchGroupPtr group;  // used only on the logging queue
    platform::DispatchSemaphore semaphore;
    const unsigned processorCount;
    platform::NotificationCenter::RegistrationPtr termination;

    std::vector<LGLoggerNode> nodes;  // touched only on the logging queue

    std::mutex classesMutex;
    std::map<std::string, LGLog::ClassLevelAccess> classes;  // guarded by classesMutex
};

Hub& hub() {
    static Hub* state = new Hub();
    return *state;
}

void addLoggerOnQueue(const LGLoggerPtr& logger, LGLogLevel level) {
    auto queue = logger->loggerQueue();
    if (!queue) {
        queue = platform::DispatchQueue::create(logger->loggerName());
    }
    hub().nodes.push_back(LGLoggerNode{logger, queue, level});
    queue->async([logger] { logger->didAddLogger(); });
}

void removeLoggerOnQueue(const LGLoggerPtr& logger) {
    auto& nodes = hub().nodes;
    auto found = std::find_if(nodes.begin(), nodes.end(),
                              [&](const LGLoggerNode& node) { return node.logger == logger; });
    if (found == nodes.end()) {
        return;
    }
    found->loggerQueue->async([logger] { logger->willRemoveLogger(); });
    nodes.erase(found);
}

void removeAllLoggersOnQueue() {
    for (auto& node : hub().nodes) {
        node.loggerQueue->async([logger = node.logger] { logger->willRemoveLogger(); });
    }
    hub().nodes.clear();
}

void dispatchOnQueue(const LGLogMessagePtr& message) {
    Hub& state = hub();
    if (state.processorCount < 2) {
        for (auto& node : state.nodes) {
            if ((node.level & message->flag()) != 0) {
                node.loggerQueue->sync([&] { node.logger->logMessage(*message); });
            }
        }
    } else {
        for (auto& node : state.nodes) {
            if ((node.level & message->flag()) != 0) {
                node.loggerQueue->async(
                    state.group, [logger = node.logger, message] { logger->logMessage(*message); });
            }
        }
        state.group->wait();
    }
    state.semaphore.signal();
}

void flushOnQueue() {
    Hub& state = hub();
    for (auto& node : state.nodes) {
        node.loggerQueue->async(state.group, [logger = node.logger] { logger->flush(); });
    }
    state.group->wait();
}

}  // namespace

platform::DispatchQueuePtr LGLog::loggingQueue() {
    return hub().queue;
}

bool LGLog::isOnLoggingQueue() {
    auto marker = platform::DispatchQueue::getCurrentSpecific(globalLoggingQueueIdentityKey);
    return marker && *marker == &globalLoggingQueueIdentityKey;
}

void LGLog::addLogger(LGLoggerPtr logger, LGLogLevel level) {
    if (!logger) {
        return;
    }
    hub().queue->async([logger = std::move(logger), level] { addLoggerOnQueue(logger, level); });
}

void LGLog::removeLogger(const LGLoggerPtr& logger) {
    if (!logger) {
        return;
    }
    hub().queue->async([logger] { removeLoggerOnQueue(logger); });
}

void LGLog::removeAllLoggers() {
    hub().queue->async([] { removeAllLoggersOnQueue(); });
}

std::vector<LGLoggerPtr> LGLog::allLoggers() {
    std::vector<LGLoggerPtr> loggers;
    hub().queue->sync([&] {
        for (const auto& node : hub().nodes) {
            loggers.push_back(node.logger);
        }
    });
    return loggers;
}

void LGLog::queueLogMessage(LGLogMessagePtr message, bool asynchronous) {
    Hub& state = hub();
    state.semaphore.wait();
    if (asynchronous) {
        state.queue->async([message = std::move(message)] { dispatchOnQueue(message); });
    } else {
        state.queue->sync([&] { dispatchOnQueue(message); });
    }
}

void LGLog::log(bool asynchronous, LGLogLevel level, LGLogFlag flag, std::int64_t context,
                const char* file, const char* function, std::uint64_t line, platform::ObjectPtr tag,
                const char* format, ...) {
    if (format == nullptr) {
        return;
    }
    va_list arguments;
    va_start(arguments, format);
    logv(asynchronous, level, flag, context, file, function, line, std::move(tag), format,
         arguments);
    va_end(arguments);
}

void LGLog::logv(bool asynchronous, LGLogLevel level, LGLogFlag flag, std::int64_t context,
                 const char* file, const char* function, std::uint64_t line,
                 platform::ObjectPtr tag, const char* format, va_list arguments) {
    if (format == nullptr) {
        return;
    }
    va_list measuring;
    va_copy(measuring, arguments);
    int length = std::vsnprintf(nullptr, 0, format, measuring);
    va_end(measuring);
    if (length < 0) {
        return;
    }
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, arguments);
    text.resize(static_cast<std::size_t>(length));
    log(asynchronous, std::move(text), level, flag, context, file, function, line, std::move(tag));
}

void LGLog::log(bool asynchronous, std::string message, LGLogLevel level, LGLogFlag flag,
                std::int64_t context, const char* file, const char* function, std::uint64_t line,
                platform::ObjectPtr tag) {
    queueLogMessage(std::make_shared<const LGLogMessage>(std::move(message), level, flag, context,
                                                         file ? file : "", function ? function : "",
                                                         line, std::move(tag)),
                    asynchronous);
}

void LGLog::log(bool asynchronous, LGLogMessage message) {
    queueLogMessage(std::make_shared<const LGLogMessage>(std::move(message)), asynchronous);
}

void LGLog::flushLog() {
    hub().queue->sync([] { flushOnQueue(); });
}

void LGLog::applicationWillTerminate() {
    flushLog();
}

void LGLog::registerClass(const std::string& className, ClassLevelAccess access) {
    Hub& state = hub();
    std::scoped_lock lock(state.classesMutex);
    state.classes[className] = std::move(access);
}

void LGLog::unregisterClass(const std::string& className) {
    Hub& state = hub();
    std::scoped_lock lock(state.classesMutex);
    state.classes.erase(className);
}

bool LGLog::isRegisteredClass(const std::string& className) {
    Hub& state = hub();
    std::scoped_lock lock(state.classesMutex);
    return state.classes.count(className) != 0;
}

std::vector<std::string> LGLog::registeredClassNames() {
    Hub& state = hub();
    std::scoped_lock lock(state.classesMutex);
    std::vector<std::string> names;
    for (const auto& [name, access] : state.classes) {
        names.push_back(name);
    }
    return names;
}

LGLogLevel LGLog::levelForClass(const std::string& className) {
    std::function<LGLogLevel()> getter;
    {
        Hub& state = hub();
        std::scoped_lock lock(state.classesMutex);
        auto found = state.classes.find(className);
        if (found == state.classes.end()) {
            return LGLogLevelAll;
        }
        getter = found->second.logLevel;
    }
    return getter();
}

void LGLog::setLevelForClass(const std::string& className, LGLogLevel level) {
    std::function<void(LGLogLevel)> setter;
    {
        Hub& state = hub();
        std::scoped_lock lock(state.classesMutex);
        auto found = state.classes.find(className);
        if (found == state.classes.end()) {
            return;
        }
        setter = found->second.setLogLevel;
    }
    setter(level);
}

}  // namespace pindle
