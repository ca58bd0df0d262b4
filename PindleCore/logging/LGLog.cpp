#include "PindleCore/logging/LGLog.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include "PindleCore/logging/LGLoggerNode.hpp"
#include "platform/app/Application.hpp"
#include "platform/dispatch/DispatchGroup.hpp"
#include "platform/dispatch/SpinWait.hpp"
#include "platform/files/ProcessInfo.hpp"
#include "platform/foundation/NotificationCenter.hpp"

namespace pindle {

namespace {

constexpr std::size_t initialLoggerCapacity = 4;

// The ring of waiting messages: a power of two no smaller than the bound on outstanding
// messages, so a place is never reused before its message has been dispatched. Its slots
// come in chunks made on first use: a process that logs little keeps little.
constexpr std::size_t ringCapacity = 1024;
constexpr std::size_t chunkCapacity = 64;
static_assert(ringCapacity >= static_cast<std::size_t>(LGLog::maxQueuedMessages));
static_assert(ringCapacity % chunkCapacity == 0);

// A dispatched message stays in its slot until the slot is reused, unless its text is larger
// than this: then it goes at once, so a burst of long lines leaves nothing large behind.
constexpr std::size_t keptTextCapacity = 1024;

constexpr std::size_t formatBufferSize = 512;

// How long the logging thread waits for more messages before it lets its thread go, and how
// long a flush waits for the logging thread before it sleeps.
constexpr auto lingerBeforeIdle = std::chrono::microseconds(20);
constexpr auto spinBeforeSleepingOnFlush = std::chrono::microseconds(50);

platform::DispatchSpecificKey<const void*> globalLoggingQueueIdentityKey;

constexpr std::size_t cacheLineSize = 64;

using Slot = std::optional<LGLogMessage>;
// Each slot starts a cache line of its own: the producer filling one and the logging thread
// reading the one before never share a line.
struct alignas(cacheLineSize) AlignedSlot {
    Slot slot;
};
using SlotChunk = std::array<AlignedSlot, chunkCapacity>;

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

    // The slot of the message numbered `sequence`. REQUIRES: its chunk exists.
    Slot& slot(std::uint64_t sequence) {
        const std::size_t place = sequence % ringCapacity;
        return (*chunks[place / chunkCapacity])[place % chunkCapacity].slot;
    }

    const platform::DispatchQueuePtr queue;
    const platform::DispatchGroupPtr group;  // used only on the logging queue
    const unsigned processorCount;
    platform::NotificationCenter::RegistrationPtr termination;

    std::vector<LGLoggerNode> nodes;  // touched only on the logging queue

    // Asynchronous messages are numbered in the order they are queued and wait in the ring
    // until a block on the logging queue hands them to the loggers. One block takes every
    // message that arrives while it runs, so a burst costs one block (and one wake-up of the
    // logging thread) rather than one per message; a producer posts a block only when none
    // is open. Whatever else is sent to the logging queue first closes the open block at the
    // messages queued so far, which keeps them ordered with that work.
    //
    // A slot belongs to the producer that fills it (under batchMutex) until its number is
    // published, then to the logging queue until it is dispatched, so loggers read it
    // without a lock. A dispatched message stays in its slot, and the next producer copies
    // its message over it: the text goes into the slot's own buffer, so queueing allocates
    // nothing once the ring has gone round, the logging thread frees nothing, and the texts
    // lie in the order the slots are used, which lets the caches of both threads fetch them
    // ahead (swapping in the caller's buffer instead measured about a third slower).
    //
    // Producers take batchMutex; the logging queue reads how far messages are published
    // without it while no stop is pending (a close or a flush request and the publications
    // after it are ordered by the lock, so a published count that includes a message queued
    // after one also shows stopsPending), and takes it only to end its block or to find
    // where a close or a flush stops it.
    //
    // The back-pressure bound counts messages queued (synchronous ones included) against
    // those released after dispatch; producers read the released count only when the copy
    // they last read shows no room.
    //
    // Fields are grouped by who writes them, each group on its own cache line, so the
    // logging thread's reads do not slow the producers' locking.
    alignas(cacheLineSize) std::mutex batchMutex;
    bool batchOpen = false;  // guarded by batchMutex
    // Where each closed block still waiting on the logging queue stops, in queue order.
    std::deque<std::uint64_t> closedBatchEnds;  // guarded by batchMutex
    std::uint64_t queued = 0;                   // guarded by batchMutex
    std::uint64_t lastSeenReleased = 0;         // guarded by batchMutex
    // Flushes the open block makes when it has dispatched this far, in request order.
    std::deque<std::uint64_t> flushPositions;  // guarded by batchMutex
    std::uint64_t flushesRequested = 0;        // guarded by batchMutex
    std::condition_variable flushed;

    alignas(cacheLineSize) std::atomic<std::uint64_t> published{0};  // written under batchMutex
    // Whether closedBatchEnds or flushPositions holds anything; written under batchMutex.
    std::atomic<bool> stopsPending{false};

    alignas(cacheLineSize) std::atomic<std::uint64_t> released{0};  // by the logging queue
    std::uint64_t dispatched = 0;         // touched only on the logging queue
    std::atomic<long> waitingForRoom{0};  // raised and lowered under batchMutex
    std::condition_variable roomMade;
    std::atomic<std::uint64_t> flushesDone{0};  // written under batchMutex

    // Made under batchMutex before the first message of the chunk is published.
    alignas(
        cacheLineSize) std::array<std::unique_ptr<SlotChunk>, ringCapacity / chunkCapacity> chunks;
    // Set by the producer of a message whose slot must be emptied once dispatched (it holds
    // a tag or a long text), cleared by the logging queue; owned like the slots. Written
    // only when set, so the line stays shared between the two threads.
    std::array<bool, ringCapacity> releaseAfterDispatch{};

    std::mutex classesMutex;
    std::map<std::string, LGLog::ClassLevelAccess> classes;  // guarded by classesMutex
};

Hub& hub() {
    static Hub* state = new Hub();
    return *state;
}

// REQUIRES: batchMutex held.
void noteStopsLocked(Hub& state) {
    state.stopsPending.store(!state.closedBatchEnds.empty() || !state.flushPositions.empty(),
                             std::memory_order_release);
}

// REQUIRES: batchMutex held.
void closeOpenBatchLocked(Hub& state) {
    if (state.batchOpen) {
        state.closedBatchEnds.push_back(state.published.load(std::memory_order_relaxed));
        state.batchOpen = false;
        noteStopsLocked(state);
    }
}

// Called before anything but an asynchronous message goes to the logging queue.
void closeOpenBatch() {
    Hub& state = hub();
    std::scoped_lock lock(state.batchMutex);
    closeOpenBatchLocked(state);
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

// Hands the messages `forEach` visits to every logger whose level takes any of them, in
// order, and returns once every logger has processed them all.
template <class ForEach>
void dispatchOnQueue(const ForEach& forEach) {
    LGLogFlag flags = 0;
    forEach([&](const LGLogMessage& message) { flags |= message.flag(); });
    runOnNodes([flags](const LGLoggerNode& node) { return (node.level & flags) != 0; },
               [&forEach](const LGLoggerNode& node) {
                   forEach([&](const LGLogMessage& message) {
                       if ((node.level & message.flag()) != 0) {
                           node.logger->logMessage(message);
                       }
                   });
                   node.logger->didLogMessageBatch();
               });
}

// Counts `count` dispatched messages out of the bound, and wakes producers waiting for room.
void releaseRoom(long count) {
    Hub& state = hub();
    // Sequentially consistent with a waiter's count and its check of the bound: either this
    // sees the waiter or the waiter sees the room.
    state.released.fetch_add(static_cast<std::uint64_t>(count));
    if (state.waitingForRoom.load() > 0) {
        // Taking the lock waits out a producer between its check and its sleep.
        { std::scoped_lock lock(state.batchMutex); }
        state.roomMade.notify_all();
    }
}

// Waits until fewer than maxQueuedMessages are outstanding and counts one more.
// REQUIRES: `lock` holds batchMutex.
void reserveRoom(std::unique_lock<std::mutex>& lock) {
    Hub& state = hub();
    constexpr auto bound = static_cast<std::uint64_t>(LGLog::maxQueuedMessages);
    if (state.queued - state.lastSeenReleased >= bound) {
        auto hasRoom = [&] {
            state.lastSeenReleased = state.released.load();
            return state.queued - state.lastSeenReleased < bound;
        };
        if (!hasRoom()) {
            state.waitingForRoom.fetch_add(1);
            state.roomMade.wait(lock, hasRoom);
            state.waitingForRoom.fetch_sub(1);
        }
    }
    ++state.queued;
}

// Dispatches the ring's messages numbered [first, end) and frees their places.
void dispatchRange(std::uint64_t first, std::uint64_t end) {
    Hub& state = hub();
    dispatchOnQueue([&](const auto& visit) {
        for (std::uint64_t sequence = first; sequence != end; ++sequence) {
            visit(*state.slot(sequence));
        }
    });
    for (std::uint64_t sequence = first; sequence != end; ++sequence) {
        bool& mark = state.releaseAfterDispatch[sequence % ringCapacity];
        if (mark) {
            state.slot(sequence).reset();
            mark = false;
        }
    }
    state.dispatched = end;
    releaseRoom(static_cast<long>(end - first));
}

// Waits a moment, without sleeping, for another message or a close. A producer that logs
// steadily then keeps feeding the running block instead of waking the logging thread for
// each few messages; a lone message costs the logging thread this moment of spinning.
bool lingerForMore(Hub& state) {
    return platform::spinUntil(lingerBeforeIdle, [&] {
        return state.published.load(std::memory_order_acquire) != state.dispatched ||
               state.stopsPending.load(std::memory_order_acquire);
    });
}

void flushOnQueue() {
    runOnNodes([](const LGLoggerNode&) { return true; },
               [](const LGLoggerNode& node) { node.logger->flush(); });
}

// Counts the flushes asked for up to the messages dispatched so far as done.
void completeFlushes(Hub& state) {
    {
        std::scoped_lock lock(state.batchMutex);
        std::uint64_t done = state.flushesDone.load(std::memory_order_relaxed);
        while (!state.flushPositions.empty() && state.flushPositions.front() <= state.dispatched) {
            state.flushPositions.pop_front();
            ++done;
        }
        state.flushesDone.store(done, std::memory_order_release);
        noteStopsLocked(state);
    }
    state.flushed.notify_all();
}

// The block a producer posts when it opens a batch: dispatches the waiting messages until
// it reaches where its batch was closed, or, while still open, until none is left. On the
// way it makes the flushes asked for while it was open, each after the messages queued
// before it.
void dispatchWaitingMessages() {
    Hub& state = hub();
    bool lingered = false;
    for (;;) {
        // Read in this order: see the comment on batchMutex.
        const std::uint64_t available = state.published.load(std::memory_order_acquire);
        if (!state.stopsPending.load(std::memory_order_acquire)) {
            if (available != state.dispatched) {
                dispatchRange(state.dispatched, available);
                lingered = false;
                continue;
            }
            if (!lingered) {
                lingered = true;
                if (lingerForMore(state)) {
                    continue;
                }
            }
        }
        std::uint64_t end = 0;
        bool closed = false;
        bool flushThere = false;
        {
            std::scoped_lock lock(state.batchMutex);
            closed = !state.closedBatchEnds.empty();
            const std::uint64_t stop = closed ? state.closedBatchEnds.front()
                                              : state.published.load(std::memory_order_relaxed);
            if (!state.flushPositions.empty() && state.flushPositions.front() <= stop) {
                end = state.flushPositions.front();
                flushThere = true;
            } else if (closed) {
                end = stop;
                state.closedBatchEnds.pop_front();
                noteStopsLocked(state);
            } else {
                end = stop;
                if (end == state.dispatched) {
                    state.batchOpen = false;
                    return;
                }
            }
        }
        if (end > state.dispatched) {
            dispatchRange(state.dispatched, end);
        }
        if (flushThere) {
            flushOnQueue();
            completeFlushes(state);
            lingered = false;
            continue;
        }
        if (closed) {
            return;
        }
    }
}

void queueAsynchronously(LGLogMessage message) {
    Hub& state = hub();
    std::unique_lock lock(state.batchMutex);
    reserveRoom(lock);
    const std::uint64_t sequence = state.published.load(std::memory_order_relaxed);
    const std::size_t chunk = sequence % ringCapacity / chunkCapacity;
    if (!state.chunks[chunk]) {
        state.chunks[chunk] = std::make_unique<SlotChunk>();
    }
    Slot& slot = state.slot(sequence);
    if (slot) {
        *slot = message;  // into the slot's own text buffer (see Hub)
    } else {
        slot.emplace(std::move(message));
    }
    // A tag is the caller's object: the hub holds it no longer than the loggers need it.
    if (slot->tag() || slot->message().capacity() > keptTextCapacity) {
        state.releaseAfterDispatch[sequence % ringCapacity] = true;
    }
    state.published.store(sequence + 1, std::memory_order_release);
    if (!state.batchOpen) {
        state.batchOpen = true;
        // Posted under the lock: a closer that comes next must find this block already on
        // the queue ahead of its own work, or these messages would run after that work.
        state.queue->async(dispatchWaitingMessages);
    }
    lock.unlock();
    // The caller's text, if it was copied, is freed here outside the lock.
}

void dispatchSynchronously(const LGLogMessage& message) {
    Hub& state = hub();
    {
        std::unique_lock lock(state.batchMutex);
        reserveRoom(lock);
        closeOpenBatchLocked(state);
    }
    state.queue->sync([&] {
        dispatchOnQueue([&](const auto& visit) { visit(message); });
        releaseRoom(1);
    });
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
    if (!message) {
        return;
    }
    if (asynchronous) {
        queueAsynchronously(*message);
    } else {
        dispatchSynchronously(*message);
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
    // Most lines fit the buffer and are formatted once; a longer one is formatted again
    // straight into its text.
    char buffer[formatBufferSize];
    va_list first;
    va_copy(first, arguments);
    const int length = std::vsnprintf(buffer, sizeof buffer, format, first);
    va_end(first);
    if (length < 0) {
        return;
    }
    std::string text;
    if (static_cast<std::size_t>(length) < sizeof buffer) {
        text.assign(buffer, static_cast<std::size_t>(length));
    } else {
        text.resize(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(text.data(), text.size(), format, arguments);
        text.resize(static_cast<std::size_t>(length));
    }
    log(asynchronous, std::move(text), level, flag, context, file, function, line, std::move(tag));
}

void LGLog::log(bool asynchronous, std::string message, LGLogLevel level, LGLogFlag flag,
                std::int64_t context, const char* file, const char* function, std::uint64_t line,
                platform::ObjectPtr tag) {
    log(asynchronous, LGLogMessage(std::move(message), level, flag, context, file ? file : "",
                                   function ? function : "", line, std::move(tag)));
}

void LGLog::log(bool asynchronous, LGLogMessage message) {
    if (asynchronous) {
        queueAsynchronously(std::move(message));
    } else {
        dispatchSynchronously(message);
    }
}

void LGLog::flushLog() {
    Hub& state = hub();
    std::uint64_t ticket = 0;
    {
        std::scoped_lock lock(state.batchMutex);
        if (state.batchOpen) {
            // The open block flushes when it reaches the messages queued so far and carries
            // on: a producer that flushes now and then keeps the logging thread running
            // instead of sending it a block and waking it again afterwards.
            state.flushPositions.push_back(state.published.load(std::memory_order_relaxed));
            ticket = ++state.flushesRequested;
            noteStopsLocked(state);
        }
    }
    if (ticket == 0) {
        state.queue->sync(flushOnQueue);
        return;
    }
    auto done = [&] {
        return state.flushesDone.load(std::memory_order_acquire) >= ticket;
    };
    if (!platform::spinUntil(spinBeforeSleepingOnFlush, done)) {
        std::unique_lock lock(state.batchMutex);
        state.flushed.wait(lock, done);
    }
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
