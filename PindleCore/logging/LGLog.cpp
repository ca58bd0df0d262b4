#include "PindleCore/logging/LGLog.hpp"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <span>

#include "PindleCore/logging/LGLoggerNode.hpp"
#include "platform/app/Application.hpp"
#include "platform/dispatch/DispatchGroup.hpp"
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
    const unsigned processorCount;
    platform::NotificationCenter::RegistrationPtr termination;

    std::vector<LGLoggerNode> nodes;  // touched only on the logging queue

    // Asynchronous messages gather here while the block that will dispatch them waits on the
    // logging queue, so a burst costs one block (and one wake-up per logger) rather than one
    // per message. Whatever else is sent to the logging queue first closes the batch, which
    // keeps it ordered with the messages around it.
    //
    // The same lock counts the messages queued or in dispatch, for the back-pressure bound:
    // one lock per message instead of a semaphore's and the batch's.
    std::mutex batchMutex;
    std::condition_variable roomMade;
    std::shared_ptr<std::vector<LGLogMessagePtr>> openBatch;  // guarded by batchMutex
    long outstanding = 0;                                     // guarded by batchMutex
    // The last dispatched batch, released by the next producer: memory is
    // then freed on the thread that allocated it, instead of the logging thread contending
    // with the producers for the allocator's lock on every message.
    std::vector<LGLogMessagePtr> spent;  // guarded by batchMutex
    long waitingForRoom = 0;             // guarded by batchMutex

    std::mutex classesMutex;
    std::map<std::string, LGLog::ClassLevelAccess> classes;  // guarded by classesMutex
};

Hub& hub() {
    static Hub* state = new Hub();
    return *state;
}

// Called before anything but an asynchronous message goes to the logging queue.
void closeOpenBatch() {
    Hub& state = hub();
    std::scoped_lock lock(state.batchMutex);
    state.openBatch.reset();
}

// Runs `work` for every node that `wanted` accepts, each on the node's queue, and returns
// when all have finished. With two or more processors the nodes run side by side; the last
// one runs on the calling thread (a sync on an idle serial queue does), which spares a
// wake-up, and for a single node all of them.
template <class Wanted, class Work>
void runOnNodes(Wanted wanted, Work work) {
    Hub& state = hub();
    const LGLoggerNode* last = nullptr;
    for (const auto& node : state.nodes) {
        if (!wanted(node)) {
            continue;
        }
        if (last != nullptr) {
            if (state.processorCount < 2) {
                last->loggerQueue->sync([&, last] { work(*last); });
            } else {
                last->loggerQueue->async(state.group, [work, node = *last] { work(node); });
            }
        }
        last = &node;
    }
    if (last != nullptr) {
        last->loggerQueue->sync([&, last] { work(*last); });
    }
    state.group->wait();
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

// Hands `messages` to every logger whose level takes any of them, in order, and returns
// once every logger has processed them all. `spent`, when given, takes the batch's messages
// for a producer to release (see Hub::spent); else the caller releases them.
void dispatchOnQueue(std::span<const LGLogMessagePtr> messages,
                     std::vector<LGLogMessagePtr>* spent = nullptr) {
    auto wanted = [messages](const LGLoggerNode& node) {
        return std::any_of(messages.begin(), messages.end(), [&](const LGLogMessagePtr& message) {
            return (node.level & message->flag()) != 0;
        });
    };
    runOnNodes(wanted, [messages](const LGLoggerNode& node) {
        for (const auto& message : messages) {
            if ((node.level & message->flag()) != 0) {
                node.logger->logMessage(*message);
            }
        }
        node.logger->didLogMessageBatch();
    });
    Hub& state = hub();
    bool wake = false;
    std::vector<LGLogMessagePtr> released;
    {
        std::scoped_lock lock(state.batchMutex);
        state.outstanding -= static_cast<long>(messages.size());
        wake = state.waitingForRoom > 0;
        if (spent != nullptr) {
            // One batch waits at most; an older one still waiting is released here.
            released.swap(state.spent);
            state.spent.swap(*spent);
        }
    }
    if (wake) {
        state.roomMade.notify_all();
    }
}

// Waits until fewer than maxQueuedMessages are outstanding and counts one more.
// REQUIRES: `lock` holds batchMutex.
void reserveRoom(std::unique_lock<std::mutex>& lock) {
    Hub& state = hub();
    if (state.outstanding >= LGLog::maxQueuedMessages) {
        ++state.waitingForRoom;
        state.roomMade.wait(lock, [&] { return state.outstanding < LGLog::maxQueuedMessages; });
        --state.waitingForRoom;
    }
    ++state.outstanding;
}

void dispatchBatch(const std::shared_ptr<std::vector<LGLogMessagePtr>>& batch) {
    {
        Hub& state = hub();
        std::scoped_lock lock(state.batchMutex);
        if (state.openBatch == batch) {
            state.openBatch.reset();
        }
    }
    // Closed now: nobody else touches it.
    dispatchOnQueue(*batch, batch.get());
}

void flushOnQueue() {
    runOnNodes([](const LGLoggerNode&) { return true; },
               [](const LGLoggerNode& node) { node.logger->flush(); });
    // After a flush the hub holds no message (nor the tags they carry).
    std::vector<LGLogMessagePtr> released;
    Hub& state = hub();
    std::scoped_lock lock(state.batchMutex);
    released.swap(state.spent);
}

}  // namespace

platform::DispatchQueuePtr LGLog::loggingQueue() {
    closeOpenBatch();
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
    closeOpenBatch();
    hub().queue->async([logger = std::move(logger), level] { addLoggerOnQueue(logger, level); });
}

void LGLog::removeLogger(const LGLoggerPtr& logger) {
    if (!logger) {
        return;
    }
    closeOpenBatch();
    hub().queue->async([logger] { removeLoggerOnQueue(logger); });
}

void LGLog::removeAllLoggers() {
    closeOpenBatch();
    hub().queue->async([] { removeAllLoggersOnQueue(); });
}

std::vector<LGLoggerPtr> LGLog::allLoggers() {
    std::vector<LGLoggerPtr> loggers;
    closeOpenBatch();
    hub().queue->sync([&] {
        for (const auto& node : hub().nodes) {
            loggers.push_back(node.logger);
        }
    });
    return loggers;
}

void LGLog::queueLogMessage(LGLogMessagePtr message, bool asynchronous) {
    Hub& state = hub();
    if (!asynchronous) {
        {
            std::unique_lock lock(state.batchMutex);
            reserveRoom(lock);
            state.openBatch.reset();
        }
        state.queue->sync([&] { dispatchOnQueue(std::span(&message, 1)); });
        return;
    }
    std::shared_ptr<std::vector<LGLogMessagePtr>> opened;
    std::vector<LGLogMessagePtr> released;  // after the lock
    {
        std::unique_lock lock(state.batchMutex);
        reserveRoom(lock);
        if (!state.openBatch) {
            state.openBatch = std::make_shared<std::vector<LGLogMessagePtr>>();
            opened = state.openBatch;
        }
        released.swap(state.spent);
        state.openBatch->push_back(std::move(message));
    }
    if (opened) {
        state.queue->async([batch = std::move(opened)] { dispatchBatch(batch); });
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
    closeOpenBatch();
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
