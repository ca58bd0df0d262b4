// Handing blocks to our queues against a plain std::thread draining a condition-variable
// queue: async to a serial queue, to a global queue, and operation queue throughput with no
// limit and with one operation at a time. Each iteration queues a batch of empty blocks and
// waits for the last one.
#include <benchmark/benchmark.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/dispatch/DispatchGroup.hpp"
#include "platform/dispatch/DispatchQueue.hpp"
#include "platform/dispatch/OperationQueue.hpp"

namespace {

using pindle::platform::DispatchQueue;
using pindle::platform::OperationQueue;

constexpr int batch = 1000;

// The peer: one thread, one mutex, one condition variable.
class PlainWorker {
  public:
    PlainWorker() : thread_([this] { run(); }) {}
    ~PlainWorker() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        ready_.notify_one();
        thread_.join();
    }
    void async(std::function<void()> work) {
        {
            std::lock_guard lock(mutex_);
            work_.push_back(std::move(work));
        }
        ready_.notify_one();
    }

  private:
    void run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            ready_.wait(lock, [&] { return stopping_ || !work_.empty(); });
            if (work_.empty())
                return;
            auto work = std::move(work_.front());
            work_.pop_front();
            lock.unlock();
            work();
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::function<void()>> work_;  // guarded by mutex_
    bool stopping_ = false;                   // guarded by mutex_
    std::thread thread_;
};

// Waits for `count` blocks to report in.
class Countdown {
  public:
    void reset(int count) { left_.store(count); }
    void arrive() {
        if (left_.fetch_sub(1) == 1) {
            std::lock_guard lock(mutex_);
            done_ = true;
            changed_.notify_one();
        }
    }
    void wait() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return done_; });
        done_ = false;
    }

  private:
    std::atomic<int> left_{0};
    std::mutex mutex_;
    std::condition_variable changed_;
    bool done_ = false;  // guarded by mutex_
};

template <typename Queue>
void runBatches(benchmark::State& state, Queue& queue) {
    Countdown countdown;
    for (auto _ : state) {
        countdown.reset(batch);
        for (int i = 0; i < batch; ++i) queue.async([&countdown] { countdown.arrive(); });
        countdown.wait();
    }
    state.SetItemsProcessed(state.iterations() * batch);
}

void BM_Dispatch_SerialQueue_Ours(benchmark::State& state) {
    auto queue = DispatchQueue::create("bench.serial");
    runBatches(state, *queue);
}

void BM_Dispatch_GlobalQueue_Ours(benchmark::State& state) {
    auto queue = DispatchQueue::global();
    runBatches(state, *queue);
}

void BM_Dispatch_OperationQueue_Ours(benchmark::State& state) {
    auto queue = OperationQueue::create("bench.operations");
    runBatches(state, *queue);
}

// One operation at a time: every block added waits behind the rest of its batch.
void BM_Dispatch_SerialOperationQueue_Ours(benchmark::State& state) {
    auto queue = OperationQueue::create("bench.operations.serial");
    queue->setMaxConcurrentOperationCount(1);
    runBatches(state, *queue);
}

void BM_Dispatch_PeerPlainThread(benchmark::State& state) {
    PlainWorker worker;
    runBatches(state, worker);
}

BENCHMARK(BM_Dispatch_SerialQueue_Ours)->UseRealTime();
BENCHMARK(BM_Dispatch_PeerPlainThread)->UseRealTime();
BENCHMARK(BM_Dispatch_GlobalQueue_Ours)->UseRealTime();
BENCHMARK(BM_Dispatch_PeerPlainThread)->UseRealTime();
BENCHMARK(BM_Dispatch_OperationQueue_Ours)->UseRealTime();
BENCHMARK(BM_Dispatch_PeerPlainThread)->UseRealTime();
BENCHMARK(BM_Dispatch_SerialOperationQueue_Ours)->UseRealTime();
BENCHMARK(BM_Dispatch_PeerPlainThread)->UseRealTime();

}  // namespace
