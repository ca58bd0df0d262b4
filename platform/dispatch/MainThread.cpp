#include "platform/dispatch/MainThread.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

namespace pindle::platform {

namespace {

class MainLoop;
MainLoop& mainLoop();

class MainLoop {
  public:
    std::mutex mutex;
    std::condition_variable changed;
    std::optional<std::thread::id> owner;  // guarded by mutex
    // A copy of owner for isMainThread(), which runs for every log message and queue label:
    // written once, under mutex, when owner is bound (the main thread never changes after).
    std::atomic<std::thread::id> ownerID{};
    std::deque<std::function<void()>> pending;  // guarded by mutex
    bool stopRequested = false;                 // guarded by mutex
    // Set and read on the main thread only.
    std::function<double()> pump;
    std::chrono::steady_clock::time_point pumpDue = std::chrono::steady_clock::time_point::max();
    // The blocks that were queued when the pump last ran and have not been taken since: they
    // run before the pump runs again. A pump that takes longer than it waits (a refresh slower
    // than the display's rate) would otherwise let one block through per run, and the queue
    // would fall further behind with every block sent to it.
    std::size_t aheadOfPump = 0;

    // Runs the pump when it is due and no block queued before its last run still waits;
    // returns when it is next due.
    std::chrono::steady_clock::time_point pumpIfDue() {
        if (!pump)
            return std::chrono::steady_clock::time_point::max();
        if (aheadOfPump > 0) {
            std::lock_guard lock(mutex);
            if (!pending.empty())
                return pumpDue;
            aheadOfPump = 0;  // taken by a nested loop
        }
        const auto now = std::chrono::steady_clock::now();
        if (now < pumpDue)
            return pumpDue;
        auto run = pump;  // the pump may replace itself
        const double wait = std::clamp(run(), 0.0, 1.0);
        if (!pump)
            return std::chrono::steady_clock::time_point::max();
        pumpDue = std::chrono::steady_clock::now() +
                  std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                      std::chrono::duration<double>(wait));
        std::lock_guard lock(mutex);
        aheadOfPump = pending.size();
        return pumpDue;
    }

    // A block was taken off the queue. REQUIRES: on the main thread.
    void tookBlock() {
        if (aheadOfPump > 0)
            --aheadOfPump;
    }

    // Binds the default main thread when none is bound. REQUIRES: mutex held.
    void bindDefault() {
        if (owner) {
            return;
        }
        std::thread thread([] {
            // The binding thread holds the mutex until it has recorded this thread as the
            // owner; before that, run() would not know it is on the main thread.
            { std::lock_guard bound(mainLoop().mutex); }
            for (;;) {
                MainThread::run();
            }
        });
        owner = thread.get_id();
        ownerID.store(*owner, std::memory_order_release);
        thread.detach();
    }

    // Takes the next block, waiting at most until `deadline`; nullopt when none came.
    std::optional<std::function<void()>> take(std::chrono::steady_clock::time_point deadline) {
        std::unique_lock lock(mutex);
        changed.wait_until(lock, deadline, [this] { return !pending.empty(); });
        if (pending.empty()) {
            return std::nullopt;
        }
        auto work = std::move(pending.front());
        pending.pop_front();
        tookBlock();
        return work;
    }
};

MainLoop& mainLoop() {
    // Never destroyed: the default main thread keeps using it through static destruction.
    static MainLoop* const instance = new MainLoop();
    return *instance;
}

void requireMainThread(const char* operation) {
    if (!MainThread::isMainThread()) {
        std::fprintf(stderr, "MainThread::%s called off the main thread\n", operation);
        std::abort();
    }
}

}  // namespace

bool MainThread::adoptCurrentThread() {
    auto& loop = mainLoop();
    std::lock_guard lock(loop.mutex);
    if (loop.owner) {
        return false;
    }
    loop.owner = std::this_thread::get_id();
    loop.ownerID.store(*loop.owner, std::memory_order_release);
    return true;
}

bool MainThread::isMainThread() {
    // No thread has the default id, so an unbound loop answers false.
    return mainLoop().ownerID.load(std::memory_order_acquire) == std::this_thread::get_id();
}

void MainThread::submit(std::function<void()> work) {
    auto& loop = mainLoop();
    {
        std::unique_lock lock(loop.mutex);
        loop.bindDefault();
        loop.pending.push_back(std::move(work));
    }
    loop.changed.notify_all();
}

void MainThread::run() {
    requireMainThread("run");
    auto& loop = mainLoop();
    for (;;) {
        const auto due = loop.pumpIfDue();
        std::function<void()> work;
        {
            std::unique_lock lock(loop.mutex);
            const auto ready = [&] {
                return !loop.pending.empty() || loop.stopRequested;
            };
            if (due == std::chrono::steady_clock::time_point::max())
                loop.changed.wait(lock, ready);
            else
                loop.changed.wait_until(lock, due, ready);
            if (loop.stopRequested) {
                loop.stopRequested = false;
                return;
            }
            if (loop.pending.empty())
                continue;  // the pump is due
            work = std::move(loop.pending.front());
            loop.pending.pop_front();
            loop.tookBlock();
        }
        work();
    }
}

void MainThread::setPump(std::function<double()> pump) {
    requireMainThread("setPump");
    auto& loop = mainLoop();
    loop.pump = std::move(pump);
    loop.pumpDue =
        loop.pump ? std::chrono::steady_clock::now() : std::chrono::steady_clock::time_point::max();
}

void MainThread::stop() {
    auto& loop = mainLoop();
    {
        std::lock_guard lock(loop.mutex);
        loop.stopRequested = true;
    }
    loop.changed.notify_all();
}

bool MainThread::runUntil(const std::function<bool()>& predicate, double timeoutSeconds) {
    requireMainThread("runUntil");
    auto& loop = mainLoop();
    const auto start = std::chrono::steady_clock::now();
    const auto deadline = start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                      std::chrono::duration<double>(timeoutSeconds));
    const auto poll = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(kPollInterval));
    for (;;) {
        if (predicate()) {
            return true;
        }
        const auto due = loop.pumpIfDue();
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            return false;
        }
        if (auto work = loop.take(std::min({deadline, now + poll, due}))) {
            (*work)();
        }
    }
}

void MainThread::drain() {
    requireMainThread("drain");
    auto& loop = mainLoop();
    while (auto work = loop.take(std::chrono::steady_clock::time_point::min())) {
        (*work)();
    }
}

}  // namespace pindle::platform
